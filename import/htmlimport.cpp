#include "import/htmlimport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <new>

#include "import/asciicase.h"
#include "import/charset.h"
#include "import/importargs.h"
#include "import/importimpl.h"
#include "import/importlog.h"
#include "import/summary.h"
#include "support/fileutil.h"

namespace {

using ascii_case::upperAscii;
using ascii_case::upperCopy;

constexpr size_t kStripWindow = 1024;
constexpr size_t kHeadingTitleLimit = 98;
constexpr std::string_view kKeptComment = "<!-- Halvoran Dirudo";

struct OwnedBuffer {
    char* bytes = nullptr;
    ~OwnedBuffer() {
        if (bytes) memFree(bytes);
    }
};

bool isTagFollower(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>';
}

// Next occurrence of token at or after from that is followed by a tag follower.
size_t findTagToken(const std::string& upper, const std::string& token, size_t from) {
    while ((from = upper.find(token, from)) != std::string::npos) {
        size_t after = from + token.size();
        if (after < upper.size() && isTagFollower(upper[after])) return from;
        from += 1;
    }
    return std::string::npos;
}

long fieldNumber(const SrcFileSpec* spec, const char* name) {
    const char* value = srcFileSpecGetField(spec, name);
    if (value == nullptr) return 0;
    long n = std::strtol(value, nullptr, 10);
    return n < 0 ? 0 : n;
}

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string extensionOf(const char* name) {
    std::string_view n(name);
    size_t sep = n.find_last_of("\\/");
    size_t dot = n.rfind('.');
    if (dot == std::string_view::npos || (sep != std::string_view::npos && dot < sep)) return {};
    std::string ext(n.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// Listed when the comma-separated list names the extension (without regard to case, a
// leading dot allowed).
bool extensionListed(const std::string& list, const std::string& ext) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        item.erase(0, item.find_first_not_of(" \t."));
        item.erase(item.find_last_not_of(" \t") + 1);
        for (char& c : item) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!item.empty() && item == ext) return true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return false;
}

// The rendered-HTML rule: with a move-to folder and a field name set (and, when
// extensions are listed, the source's extension among them), a copy of the page is put
// into the folder and its path recorded in the field. The page itself stays where it is.
// Converted documents reach it through htmlImportFile too, so this is the one copy.
void applyRenderedHtml(ImportArgs* args, const char* path, const char* sourceName,
                       SrcFileSpec* spec) {
    if (!args->renderedMoveTo || !args->renderedFieldName || args->renderedMoveTo->empty() ||
        args->renderedFieldName->empty())
        return;
    if (args->renderedExtensions && !args->renderedExtensions->empty() &&
        !extensionListed(*args->renderedExtensions, extensionOf(sourceName)))
        return;
    std::string dir = *args->renderedMoveTo;
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    // A page converted from a document (path is then a temporary file) is named after
    // the document: "report.doc" gives "report.doc.htm".
    const bool converted = std::string_view(path) != std::string_view(sourceName);
    std::string_view base(converted ? sourceName : path);
    size_t sep = base.find_last_of("\\/");
    if (sep != std::string_view::npos) base.remove_prefix(sep + 1);
    std::string target = dir + std::string(base) + (converted ? ".htm" : "");
    fileMakeDirectoryPath(dir.c_str());
    if (target != path && fileCopy(path, target.c_str(), "wb") != 1) {
        importLog(1, "Error: Couldn't copy rendered HTML \"%s\" to \"%s\"\n", path, target.c_str());
        return;
    }
    const IdxRemapTable remap = args->remapTable();
    srcFileSpecSetFieldRemapped(&remap, spec, args->renderedFieldName->c_str(), target.c_str());
}

void extractHtmlFields(const ImportArgs* args, const std::string& page, SrcFileSpec* spec,
                       const IdxRemapTable& remap) {
    for (size_t i = 0; i < args->htmlFieldNames.size(); ++i) {
        const std::string& start = i < args->htmlFieldStarts.size() ? args->htmlFieldStarts[i] : "";
        const std::string& stop = i < args->htmlFieldStops.size() ? args->htmlFieldStops[i] : "";
        std::string value;
        size_t begin = start.empty() ? std::string::npos : page.find(start);
        if (begin != std::string::npos) {
            begin += start.size();
            size_t end = stop.empty() ? std::string::npos : page.find(stop, begin);
            if (end != std::string::npos) value = page.substr(begin, end - begin);
        }
        srcFileSpecSetFieldRemapped(&remap, spec, args->htmlFieldNames[i].c_str(), value.c_str());
    }
}

}  // namespace

void htmlStripTags(std::string& page, const std::vector<std::string>& tags) {
    if (tags.empty() || page.empty()) return;
    const std::string upper = upperCopy(page);
    for (const std::string& listed : tags) {
        std::string name = upperCopy(listed);
        if (!name.empty() && name.front() == '<') name.erase(0, 1);
        if (name.empty()) continue;
        const std::string open = "<" + name;
        const std::string close = "</" + name;
        size_t from = 0;
        while (true) {
            size_t start = findTagToken(upper, open, from);
            if (start == std::string::npos) break;
            size_t closing = findTagToken(upper, close, start + open.size());
            if (closing == std::string::npos) break;
            size_t closeEnd = closing + close.size();
            size_t gt = upper.find('>', closeEnd);
            if (gt == std::string::npos) break;
            if (gt - closeEnd < kStripWindow) {
                std::fill(page.begin() + static_cast<std::ptrdiff_t>(start),
                          page.begin() + static_cast<std::ptrdiff_t>(gt) + 1, ' ');
                from = gt + 1;
            } else {
                from = start + 1;
            }
        }
    }
}

std::string htmlCutPage(const std::string& page, const std::vector<std::string>& starts,
                        const std::vector<std::string>& ends) {
    if (starts.empty() && ends.empty()) return page;
    size_t begin = 0;
    bool startFound = false;
    for (const std::string& s : starts) {
        if (s.empty()) continue;
        size_t at = page.find(s);
        if (at != std::string::npos) {
            begin = at + s.size();
            startFound = true;
            break;
        }
    }
    size_t end = page.size();
    for (const std::string& e : ends) {
        if (e.empty()) continue;
        size_t at = page.find(e, begin);
        if (at != std::string::npos) {
            end = at;
            break;
        }
    }
    std::string cut;
    if (startFound) {
        size_t comment = page.find(kKeptComment);
        if (comment != std::string::npos) {
            size_t close = page.find("-->", comment + kKeptComment.size());
            if (close != std::string::npos) cut = page.substr(comment, close + 3 - comment);
        }
    }
    cut.append(page, begin, end - begin);
    return cut;
}

std::string htmlTitleOf(const HtmlParseRecord& record) {
    std::string title = idxNormalizeWhitespace(record.title);
    while (!title.empty() && title.back() == ' ') title.pop_back();
    if (!title.empty()) return title;
    std::string heading = idxNormalizeWhitespace(record.headings[0]);
    while (!heading.empty() && heading.back() == ' ') heading.pop_back();
    if (heading.size() <= kHeadingTitleLimit) return heading;
    // Cut inside a word: go back to the last blank so only whole words remain.
    bool atWordEnd = heading[kHeadingTitleLimit] == ' ';
    heading.resize(kHeadingTitleLimit);
    if (!atWordEnd) {
        size_t blank = heading.rfind(' ');
        if (blank != std::string::npos && blank > 0) heading.resize(blank);
    }
    while (!heading.empty() && heading.back() == ' ') heading.pop_back();
    return heading;
}

std::string htmlSkipTitleWords(const std::string& title, int skipWords) {
    size_t i = 0;
    for (int w = 0; w < skipWords; ++w) {
        while (i < title.size() && !isWordChar(title[i])) ++i;
        if (i >= title.size()) return {};
        while (i < title.size() && isWordChar(title[i])) ++i;
    }
    while (i < title.size() && !isWordChar(title[i])) ++i;
    return title.substr(i);
}

long htmlQuality(long bodyLength, long linkLength, long depth, long links, long duration) {
    const double b = static_cast<double>(std::max(0L, bodyLength));
    const long l = std::max(1L, linkLength);
    const double ratio = static_cast<double>(std::max(0L, bodyLength) / l);
    const double a = std::min(15.0 * std::log(ratio + 1.0), 250.0);
    const double bb = 7.0 * std::log(b + 1.0);
    const double c =
        std::min(6.0 * std::log(static_cast<double>(std::max(0L, depth)) + 1.0), 150.0);
    const double d =
        std::max(-1.5 * std::log(static_cast<double>(std::max(0L, links)) + 1.0), -200.0);
    const double e = std::max(-std::log(static_cast<double>(std::max(0L, duration)) + 1.0), -200.0);
    const double q = (a + bb + c + d + e) / 7.0 + 93.0;
    return q < 0 ? 0 : static_cast<long>(q);
}

int htmlImportFile(ImportContext* context, ImportArgs* args, const char* path,
                   const char* sourceName, SrcFileSpec* spec) {
    if (path == nullptr || *path == '\0' || spec == nullptr || args == nullptr) {
        importAddError(context, -6, -2, "Parsing HTML file: Bad file name", path);
        importLog(1, "Error: Bad file name \"%s\"\n", path ? path : "");
        return kHtmlImportBadFile;
    }
    if (sourceName == nullptr || *sourceName == '\0') sourceName = path;
    OwnedBuffer raw;
    const int64_t length = fileReadWhole(path, &raw.bytes);
    if (raw.bytes == nullptr) {
        importAddError(context, -6, -2, "Parsing HTML file: Bad file name", path);
        importLog(1, "Error: Bad file name \"%s\"\n", path);
        return kHtmlImportBadFile;
    }
    if (length <= 0) {
        importAddError(context, -8, -2, "Parsing HTML file: Zero length file", path);
        importLog(3, "Zero length file \"%s\"\n", path);
        return kHtmlImportBadFile;
    }

    HtmlParseRecord record;
    try {
        std::string page =
            charsetHtmlToWindows1252(std::string_view(raw.bytes, static_cast<size_t>(length)));
        memFree(raw.bytes);
        htmlStripTags(page, args->tagStrip);
        const IdxRemapTable remap = args->remapTable();
        extractHtmlFields(args, page, spec, remap);
        if (args->pageLayout) {
            const ImportPageLayout& layout = *args->pageLayout;
            const auto& starts = layout.htmlStarts.empty() ? layout.starts : layout.htmlStarts;
            const auto& ends = layout.htmlEnds.empty() ? layout.ends : layout.htmlEnds;
            page = htmlCutPage(page, starts, ends);
        }
        if (htmlParse(page, kHtmlDecodeReferences, record) != kHtmlParseOk) {
            importAddError(context, -16, -3, "Parsing HTML file: HTML parse fail on", path);
            importLog(1, "Error: Could not parse HTML in \"%s\"\n", path);
            return kHtmlImportParseFailed;
        }
        if (record.timedOut)
            importLog(2, "Warning: HTML scan of \"%s\" stopped at its time limit\n", path);

        std::string title = htmlTitleOf(record);
        if (args->fieldHtmlConvert) title = htmlToTextString(title, kHtmlDecodeReferences);
        if (args->titleStartSkipWords > 0)
            title = htmlSkipTitleWords(title, args->titleStartSkipWords);
        srcFileSpecSetTitle(spec, title.c_str());
        srcFileSpecSetContent(spec, std::move(record.body));
        record.body.clear();
        for (const HtmlAnchorSection& anchor : record.anchors) {
            if (srcFileSpecAddSection(spec, anchor.offset, anchor.name.c_str(),
                                      anchor.heading.empty() ? nullptr : anchor.heading.c_str()) !=
                0)
                break;
        }
        spec->htmlLinks = std::move(record.links);
        if (args->extractMeta) {
            for (size_t i = 0; i < record.metaNames.size(); ++i) {
                if (record.metaNames[i].empty()) continue;
                srcFileSpecSetFieldRemapped(&remap, spec, record.metaNames[i].c_str(),
                                            record.metaValues[i].c_str());
            }
        }
        srcFileSpecSetFieldRemapped(&remap, spec, "IMPORTBODYLEN",
                                    std::to_string(record.bodyLength).c_str());
        srcFileSpecSetFieldRemapped(&remap, spec, "IMPORTMETALEN",
                                    std::to_string(record.metaLength).c_str());
        srcFileSpecSetFieldRemapped(&remap, spec, "IMPORTLINKLEN",
                                    std::to_string(record.linkLength).c_str());
        srcFileSpecSetFieldRemapped(&remap, spec, "IMPORTTITLELEN",
                                    std::to_string(record.titleLength).c_str());

        // Side files may carry the spider's fields, so the quality is scored after them.
        importMergeSideFiles(args, sourceName, spec);
        const long quality = htmlQuality(
            record.bodyLength, record.linkLength, fieldNumber(spec, "SPIDERPAGEDEPTH"),
            fieldNumber(spec, "SPIDERPAGELINKS"), fieldNumber(spec, "SPIDERPAGEDURATION"));
        srcFileSpecSetFieldRemapped(&remap, spec, "IMPORTQUALITY", std::to_string(quality).c_str());

        srcFileSpecSetFilename(spec, sourceName);
        if (!spec->reference) {
            const char* field = srcFileSpecGetField(spec, "IXOREFERENCE");
            srcFileSpecSetReference(spec, field ? field : sourceName);
        }
        if (!spec->date) {
            if (const char* date = srcFileSpecGetField(spec, "IXODATE")) {
                srcFileSpecSetDate(spec, date);
            } else {
                int64_t seconds = fileModificationTime(sourceName);
                if (seconds <= 0) seconds = static_cast<int64_t>(std::time(nullptr));
                srcFileSpecSetDate(spec, std::to_string(seconds).c_str());
            }
        }
        applyRenderedHtml(args, path, sourceName, spec);
        summaryNoteHtmlPage(args, spec, record);
    } catch (const std::bad_alloc&) {
        importAddError(context, -3, -3, "Parsing HTML file: HTML parse fail on", path);
        importLog(1, "Error: Could not parse HTML in \"%s\"\n", path);
        return kHtmlImportParseFailed;
    }
    return 0;
}

int htmlImportHandler(ImportContext* context, ImportArgs* args, char*, size_t, const char* name,
                      SrcFileSpec* spec, ImportEntry*) {
    return htmlImportFile(context, args, name, name, spec);
}
