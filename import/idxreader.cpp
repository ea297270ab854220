#include "import/idxreader.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "import/readfile.h"
#include "ixo/idxfields.h"
#include "memutil.h"

namespace {

using idx_fields::consume;
using idx_fields::parseDecimal;

constexpr std::string_view kTag = "#IXO";
constexpr int kNumberedFields = 64;

// Start of the next tag at or after from: "#IXO" at the start of a line.
size_t nextTag(std::string_view text, size_t from) {
    size_t pos = from;
    while ((pos = text.find(kTag, pos)) != std::string_view::npos) {
        if (pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r') return pos;
        pos += kTag.size();
    }
    return std::string_view::npos;
}

std::string_view trimLineEnds(std::string_view v) {
    while (!v.empty() && (v.back() == '\r' || v.back() == '\n')) v.remove_suffix(1);
    return v;
}

void readField(SrcFileSpec* spec, std::string_view rest, const IdxReadOptions& opt) {
    size_t eq = rest.find('=');
    if (eq == std::string_view::npos) return;
    std::string name(rest.substr(0, eq));
    std::string_view after = rest.substr(eq + 1);
    std::string_view value = after;
    size_t open = after.find('"');
    if (open != std::string_view::npos) {
        size_t close = after.rfind('"');
        value = close > open ? after.substr(open + 1, close - open - 1) : after.substr(open + 1);
    }
    srcFileSpecSetFieldRemapped(opt.remap, spec, name.c_str(), std::string(value).c_str());
}

// Adds the numbered fields base__0 .. base__63 to a value, joined with one blank.
void joinNumbered(SrcFileSpec* spec, const char* base, bool title) {
    for (int i = 0; i < kNumberedFields; ++i) {
        std::string name = std::string(base) + "__" + std::to_string(i);
        const char* value = srcFileSpecGetField(spec, name.c_str());
        if (!value || !*value) continue;
        std::optional<std::string>& target = title ? spec->title : spec->content;
        std::string joined = target ? *target + " " + value : std::string(value);
        if (title)
            srcFileSpecSetTitle(spec, joined.c_str());
        else
            srcFileSpecSetContent(spec, std::move(joined));
    }
}

// Reads a file line by line, each line whole with its line feed, whatever its length
// and whatever bytes it holds.
class LineReader {
  public:
    explicit LineReader(std::FILE* f) : file_(f), buffer_(65536) {}
    bool next(std::string& line) {
        line.clear();
        for (;;) {
            if (pos_ == length_) {
                length_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
                pos_ = 0;
                if (length_ == 0) return !line.empty();
            }
            const char* start = buffer_.data() + pos_;
            const void* lf = std::memchr(start, '\n', length_ - pos_);
            if (lf) {
                size_t n = static_cast<size_t>(static_cast<const char*>(lf) - start) + 1;
                line.append(start, n);
                pos_ += n;
                return true;
            }
            line.append(start, length_ - pos_);
            pos_ = length_;
        }
    }

  private:
    std::FILE* file_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t length_ = 0;
};

bool startsWith(const std::string& line, std::string_view prefix) {
    return std::string_view(line).substr(0, prefix.size()) == prefix;
}

}  // namespace

int idxReadDocument(SrcFileSpec* spec, std::string_view text, const IdxReadOptions* options) {
    if (!spec) return -1;
    const IdxReadOptions opt = options ? *options : IdxReadOptions{};
    size_t pos = text.find(kTag);
    while (pos != std::string_view::npos) {
        size_t end = nextTag(text, pos + kTag.size());
        std::string_view tag =
            text.substr(pos, end == std::string_view::npos ? text.npos : end - pos);
        pos = end;
        std::string_view word = trimLineEnds(tag.substr(kTag.size()));
        std::string_view raw = tag.substr(kTag.size());
        if (consume(word, "REFERENCE ")) {
            srcFileSpecSetReference(spec, std::string(word).c_str());
        } else if (consume(word, "TITLE")) {
            srcFileSpecSetTitle(spec, std::string(word).c_str());
        } else if (consume(word, "CONTENT")) {
            // The line end after the tag word separates it from the text.
            if (!word.empty() && word.front() == '\r') word.remove_prefix(1);
            if (!word.empty() && word.front() == '\n') word.remove_prefix(1);
            srcFileSpecSetContent(spec, std::string(word));
        } else if (consume(word, "SECTION ")) {
            srcFileSpecSetSection(spec, parseDecimal(word));
        } else if (consume(word, "DBNAME ")) {
            srcFileSpecSetDbname(spec, std::string(word).c_str());
        } else if (consume(word, "TYPE ")) {
            srcFileSpecSetType(spec, std::string(word).c_str());
        } else if (consume(word, "DATE ")) {
            srcFileSpecSetDate(spec, std::string(word).c_str());
        } else if (consume(word, "FIELD ")) {
            readField(spec, word, opt);
        } else if (consume(word, "STORECONTENT ")) {
            srcFileSpecSetStorecontent(spec, std::string(word).c_str());
        } else if (consume(word, "FILENAME ")) {
            srcFileSpecSetFilename(spec, std::string(word).c_str());
        } else if (raw.substr(0, 6) == "ENDDOC") {
            break;
        }
    }

    joinNumbered(spec, "title", true);
    joinNumbered(spec, "content", false);
    if (opt.htmlToText && spec->content) {
        char* plain = opt.htmlToText(opt.user, spec->content->c_str());
        if (plain) {
            srcFileSpecSetContent(spec, plain);
            memFree(plain);
        }
    }
    return 0;
}

int idxReadDocument(SrcFileSpec* spec, const char* text, size_t length,
                    const IdxReadOptions* options) {
    if (!spec || !text) return -1;
    return idxReadDocument(spec, std::string_view(text, length), options);
}

int idxReadDocumentFile(SrcFileSpec* spec, const char* path, const IdxReadOptions* options) {
    if (!spec || !path) return -1;
    FilePtr f(std::fopen(path, "rb"));
    if (!f) return -6;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
    if (std::ferror(f.get())) return -6;
    return idxReadDocument(spec, std::string_view(text), options);
}

int idxFileHoldsSeveralDocuments(const char* path) {
    if (!path) return -1;
    FilePtr f(std::fopen(path, "rb"));
    if (!f) return -6;
    LineReader lines(f.get());
    std::string line;
    int references = 0, ends = 0;
    while ((references < 2 || ends < 2) && lines.next(line)) {
        if (startsWith(line, "#IXOREFERENCE")) ++references;
        if (startsWith(line, "#IXOENDDOC")) ++ends;
    }
    return references >= 2 && ends >= 2 ? 1 : 0;
}

int idxSplitDocuments(const char* path, IdxDocumentFn importDocument, void* user) {
    if (!path || !importDocument) return -1;
    FilePtr in(std::fopen(path, "rb"));
    if (!in) return -6;
    LineReader lines(in.get());
    std::string line;
    std::string document;
    bool open = false;
    int handed = 0;
    while (lines.next(line)) {
        if (!open && startsWith(line, "#IXOREFERENCE")) {
            open = true;
            document.clear();
        }
        if (!open) continue;
        document += line;
        if (startsWith(line, "#IXOENDDOC")) {
            open = false;
            importDocument(user, document, ++handed);
        }
    }
    if (std::ferror(in.get())) return -6;
    // A last document without its end line is still imported.
    if (open) importDocument(user, document, ++handed);
    return handed;
}

int idxImportFile(SrcFileSpec* spec, const char* path, const IdxReadOptions* options,
                  IdxDocumentFn importDocument, void* user) {
    if (!spec || !path) return -1;
    int several = idxFileHoldsSeveralDocuments(path);
    if (several < 0) return several;
    if (several == 1 && importDocument) {
        int n = idxSplitDocuments(path, importDocument, user);
        return n < 0 ? n : 0;
    }
    return idxReadDocumentFile(spec, path, options);
}
