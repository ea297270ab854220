#include "import/srcfile_spec.h"

#include <algorithm>
#include <cstring>

#include "import/asciicase.h"
#include "memutil.h"

namespace {

// Character classes by table: the breaking and normalising loops run over whole
// documents.
struct CharClasses {
    bool alnum[256] = {};
    bool space[256] = {};
    constexpr CharClasses() {
        for (int c = 0; c < 256; ++c) {
            alnum[c] = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            space[c] = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        }
    }
};
constexpr CharClasses kClasses;

bool isAsciiAlnum(unsigned char c) {
    return kClasses.alnum[c];
}
bool isBlankOrLineEnd(char c) {
    return kClasses.space[static_cast<unsigned char>(c)];
}

// Characters that would end a field line or its quoted value early.
bool breaksFieldValue(char c) {
    return c == '\r' || c == '\t' || c == '\n' || c == '"';
}
bool breaksFieldName(char c) {
    return breaksFieldValue(c) || c == '=';
}

std::string escapeFieldValue(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (breaksFieldValue(c)) c = ' ';
    return out;
}

std::string escapeFieldName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (breaksFieldName(c)) c = ' ';
    return out;
}

// Index of the field stored under an escaped name, or npos.
size_t findField(const SrcFileSpec& spec, const std::string& escaped) {
    size_t count = std::min(spec.fieldNames.size(), spec.fieldValues.size());
    auto lookup = [&]() -> size_t {
        auto it = spec.fieldIndex.find(escaped);
        return it == spec.fieldIndex.end() ? std::string::npos : it->second;
    };
    size_t at = spec.fieldIndex.size() == count ? lookup() : std::string::npos;
    if (at != std::string::npos && at < count && spec.fieldNames[at] == escaped) return at;
    if (at == std::string::npos && spec.fieldIndex.size() == count) return at;
    spec.fieldIndex.clear();
    for (size_t i = 0; i < count; ++i) spec.fieldIndex.emplace(spec.fieldNames[i], i);
    return lookup();
}

int setString(SrcFileSpec* spec, std::optional<std::string> SrcFileSpec::*member,
              const char* value) {
    if (!spec) return -1;
    if (value)
        spec->*member = std::string(value);
    else
        (spec->*member).reset();
    return 0;
}

using ascii_case::startsWithCaseBlind;

// ---- text form ----

// NUL bytes never reach the output (every reader of C strings would stop at them).
// They go before any escaping, so that dropping one can never bring a "#IXO" to the
// start of a line.
std::string_view withoutNul(std::string_view text, std::string& storage) {
    if (text.find('\0') == std::string_view::npos) return text;
    storage.assign(text);
    storage.erase(std::remove(storage.begin(), storage.end(), '\0'), storage.end());
    return storage;
}

// A value that must stay on its tag line: line ends become blanks.
void appendSingleLine(std::string& out, std::string_view value) {
    std::string storage;
    value = withoutNul(value, storage);
    size_t start = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            out.append(value.substr(start, i - start));
            out.push_back(' ');
            start = i + 1;
        }
    }
    out.append(value.substr(start));
}

// Text placed at the start of a line: a "#IXO" at the start of any of its lines would be
// read as a tag, so its '#' is written as a blank.
void appendLineText(std::string& out, std::string_view text) {
    std::string storage;
    text = withoutNul(text, storage);
    size_t start = 0;
    size_t pos = 0;
    while ((pos = text.find("#IXO", pos)) != std::string_view::npos) {
        if (pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r') {
            out.append(text.substr(start, pos - start));
            out.push_back(' ');
            start = pos + 1;
        }
        pos += 4;
    }
    out.append(text.substr(start));
}

void appendTagLine(std::string& out, const char* tag, const std::optional<std::string>& v) {
    if (!v) return;
    out.append(tag);
    out.push_back(' ');
    appendSingleLine(out, *v);
    out.push_back('\n');
}

// One document to write: a record, or a record seen with the values that a section
// document replaces (reference, title, content, section) and fields it sets.
struct DocumentView {
    const SrcFileSpec& spec;
    const std::optional<std::string>& reference;
    const std::optional<std::string>& title;
    const std::optional<std::string>& content;
    int32_t section;
    // Stored (escaped) name/value pairs set on top of the record's fields: a name the
    // record has replaces that field's value in place, any other is appended.
    const std::vector<std::pair<std::string, std::string>>* extra = nullptr;

    explicit DocumentView(const SrcFileSpec& s)
        : spec(s), reference(s.reference), title(s.title), content(s.content), section(s.section) {}
    DocumentView(const SrcFileSpec& s, const std::optional<std::string>& ref,
                 const std::optional<std::string>& t, const std::optional<std::string>& c,
                 int32_t sec, const std::vector<std::pair<std::string, std::string>>* e)
        : spec(s), reference(ref), title(t), content(c), section(sec), extra(e) {}

    template <class Emit>
    void forEachField(Emit&& emit) const {
        size_t count = std::min(spec.fieldNames.size(), spec.fieldValues.size());
        size_t extras = extra ? extra->size() : 0;
        bool used[4] = {};
        for (size_t i = 0; i < count; ++i) {
            const std::string* value = &spec.fieldValues[i];
            for (size_t j = 0; j < extras && j < 4; ++j) {
                if (!used[j] && (*extra)[j].first == spec.fieldNames[i]) {
                    value = &(*extra)[j].second;
                    used[j] = true;
                    break;
                }
            }
            emit(spec.fieldNames[i], *value);
        }
        for (size_t j = 0; j < extras && j < 4; ++j)
            if (!used[j]) emit((*extra)[j].first, (*extra)[j].second);
    }
};

// Appends text with every character that pred selects written as a blank.
template <class Pred>
void appendMapped(std::string& out, std::string_view text, Pred pred) {
    std::string storage;
    text = withoutNul(text, storage);
    size_t start = out.size();
    out.append(text);
    for (size_t i = start; i < out.size(); ++i)
        if (pred(out[i])) out[i] = ' ';
}

void appendTextForm(std::string& out, const DocumentView& d) {
    const SrcFileSpec& s = d.spec;
    appendTagLine(out, "#IXOREFERENCE", d.reference);
    if (d.title) {
        out.append("#IXOTITLE\n");
        std::string line;
        appendSingleLine(line, *d.title);
        appendLineText(out, line);
        out.push_back('\n');
    }
    if (d.section != -1) {
        out.append("#IXOSECTION ");
        out.append(std::to_string(d.section));
        out.push_back('\n');
    }
    appendTagLine(out, "#IXOTYPE", s.type);
    appendTagLine(out, "#IXODATE", s.date);
    appendTagLine(out, "#IXODBNAME", s.dbname);
    appendTagLine(out, "#IXOFILENAME", s.filename);
    appendTagLine(out, "#IXOSTORECONTENT", s.storecontent);
    d.forEachField([&out](const std::string& name, const std::string& value) {
        out.append("#IXOFIELD ");
        appendMapped(out, name, breaksFieldName);
        out.append("=\"");
        appendMapped(out, value, breaksFieldValue);
        out.append("\"\n");
    });
    out.append("#IXOCONTENT\n");
    if (d.content) appendLineText(out, *d.content);
    out.append("\n#IXOENDDOC\n");
}

// ---- XML form (values are written as they are) ----

void appendElement(std::string& out, const char* name, const std::optional<std::string>& v) {
    if (!v) return;
    out.push_back('<');
    out.append(name);
    out.push_back('>');
    out.append(*v);
    out.append("</");
    out.append(name);
    out.append(">\n");
}

void appendXmlForm(std::string& out, const DocumentView& d) {
    const SrcFileSpec& s = d.spec;
    const size_t begin = out.size();
    // The opening element is written even without a reference, so that every closing
    // "</IXODOC>" has its opening one.
    out.append("<IXODOC>\n");
    appendElement(out, "IXOREFERENCE", d.reference);
    if (d.title) {
        out.append("<IXOTITLE>\n");
        out.append(*d.title);
        out.append("</IXOTITLE>\n");
    }
    if (d.section != -1) {
        out.append("<IXOSECTION> ");
        out.append(std::to_string(d.section));
        out.append("</IXOSECTION>\n");
    }
    appendElement(out, "IXOTYPE", s.type);
    appendElement(out, "IXODATE", s.date);
    appendElement(out, "IXODBNAME", s.dbname);
    appendElement(out, "IXOFILENAME", s.filename);
    appendElement(out, "IXOSTORECONTENT", s.storecontent);
    d.forEachField([&out](const std::string& name, const std::string& value) {
        out.append("<IXOFIELD NAME=");
        out.append(name);
        out.push_back('>');
        out.append(value);
        out.append("</IXOFIELD>\n");
    });
    out.append("<IXOCONTENT>\n");
    if (d.content) out.append(*d.content);
    out.append("</IXOCONTENT>\n</IXODOC>\n");
    // Values are written as they are, except for NUL bytes.
    out.erase(std::remove(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end(), '\0'),
              out.end());
}

void appendDocument(std::string& out, const DocumentView& d) {
    if (d.spec.outputForm)
        appendXmlForm(out, d);
    else
        appendTextForm(out, d);
}

// ---- content breaking ----

// Where a section of more than upper words is cut: after the last sentence end met once
// more than lower words were passed, else before word upper + 1. npos when the text
// has no more than upper words.
size_t findCut(std::string_view text, int32_t lower, int32_t upper) {
    int32_t words = 0;
    size_t lastSentenceEnd = std::string_view::npos;
    bool inWord = false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (isAsciiAlnum(c)) {
            if (!inWord) {
                inWord = true;
                ++words;
                if (words > upper)
                    return lastSentenceEnd != std::string_view::npos ? lastSentenceEnd : i;
            }
            continue;
        }
        inWord = false;
        if ((c == '.' || c == '?' || c == '!' || c == ':') && words > lower &&
            i + 1 < text.size() &&
            (text[i + 1] == ' ' || text[i + 1] == '\t' || text[i + 1] == '\n'))
            lastSentenceEnd = i + 1;
    }
    return std::string_view::npos;
}

std::vector<IdxSection> breakSections(const SrcFileSpec& spec, std::string_view content,
                                      const IdxBreakOptions& opt) {
    std::vector<IdxSection> sections = spec.sections;
    for (auto& s : sections)
        s.offset = std::clamp<int32_t>(s.offset, 0, static_cast<int32_t>(content.size()));
    std::stable_sort(sections.begin(), sections.end(),
                     [](const IdxSection& a, const IdxSection& b) { return a.offset < b.offset; });
    if (sections.empty() || sections.front().offset > 0)
        sections.insert(sections.begin(), IdxSection{});

    const size_t limit =
        static_cast<size_t>(std::clamp<int32_t>(opt.maxSections, 0, kIdxMaxSections));
    // The setting bounds the sections of a page, the anchors it came with included:
    // the text of the ones past the limit stays with the last one kept (with a limit
    // of 0 or 1 the page is one section).
    if (sections.size() > std::max<size_t>(limit, 1)) sections.resize(std::max<size_t>(limit, 1));
    const int32_t upper = std::max<int32_t>(opt.upperWords, 1);
    for (size_t i = 0; i < sections.size() && sections.size() < limit; ++i) {
        size_t begin = static_cast<size_t>(sections[i].offset);
        size_t end =
            i + 1 < sections.size() ? static_cast<size_t>(sections[i + 1].offset) : content.size();
        size_t cut = findCut(content.substr(begin, end - begin), opt.lowerWords, upper);
        if (cut == std::string_view::npos || cut == 0) continue;
        IdxSection piece = sections[i];
        piece.offset = static_cast<int32_t>(begin + cut);
        sections.insert(sections.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(piece));
    }
    return sections;
}

std::string sectionTitle(const std::optional<std::string>& docTitle,
                         const std::optional<std::string>& heading) {
    if (!heading || heading->empty()) return docTitle ? *docTitle : std::string();
    if (!docTitle || docTitle->empty() || heading->rfind(*docTitle, 0) == 0) return *heading;
    return *docTitle + " - " + *heading;
}

void appendBroken(std::string& out, const SrcFileSpec& spec, const IdxBreakOptions& opt) {
    auto beat = [&opt] {
        if (opt.heartbeat) opt.heartbeat(opt.user);
    };
    std::string_view content = spec.content ? std::string_view(*spec.content) : std::string_view();
    beat();
    std::vector<IdxSection> sections = breakSections(spec, content, opt);
    beat();

    auto sectionEnd = [&](size_t i) {
        return i + 1 < sections.size() ? static_cast<size_t>(sections[i + 1].offset)
                                       : content.size();
    };
    const bool httpPage = spec.reference && startsWithCaseBlind(*spec.reference, "http://") &&
                          !spec.anchorReference && opt.addAnchorNames;
    int32_t counter = 0;
    std::optional<std::string> pageAnchor;
    std::optional<std::string> pageReference = spec.reference;
    bool wroteAny = false;

    for (size_t first = 0; first < sections.size();) {
        // Consecutive sections of the same anchor join one document until it has more
        // words than the first limit.
        size_t last = first;
        int32_t words = idxWordCount(
            content.substr(sections[first].offset, sectionEnd(first) - sections[first].offset));
        while (words <= opt.lowerWords && last + 1 < sections.size() &&
               sections[last + 1].anchor == sections[first].anchor) {
            ++last;
            words += idxWordCount(
                content.substr(sections[last].offset, sectionEnd(last) - sections[last].offset));
        }
        size_t begin = static_cast<size_t>(sections[first].offset);
        std::string text = idxNormalizeWhitespace(content.substr(begin, sectionEnd(last) - begin));
        const IdxSection& head = sections[first];
        size_t next = last + 1;
        bool final = next >= sections.size();
        bool newAnchor = head.anchor && !head.anchor->empty() && head.anchor != pageAnchor;
        if (head.anchor != pageAnchor) {
            pageAnchor = head.anchor;
            pageReference = spec.reference;
            if (newAnchor && httpPage) {
                counter = 0;
                pageReference =
                    *spec.reference + ((*head.anchor)[0] == '#' ? "" : "#") + *head.anchor;
            }
        }
        if (text.empty() && !(final && !wroteAny)) {
            first = next;
            continue;
        }
        beat();

        std::optional<std::string> title;
        std::string combined = sectionTitle(spec.title, head.heading);
        if (spec.title || !combined.empty()) title = idxNormalizeWhitespace(combined);
        std::optional<std::string> body(std::move(text));
        std::vector<std::pair<std::string, std::string>> extra;
        if (pageAnchor && !pageAnchor->empty()) {
            if (httpPage)
                extra.emplace_back("IXOREFERENCE", escapeFieldValue(*pageReference));
            else
                extra.emplace_back("IXOPAGE", escapeFieldValue(*pageAnchor));
        }
        extra.emplace_back("IXOSECTION", std::to_string(counter));
        int32_t section = counter++;
        if (newAnchor && opt.pageStart) {
            // The caller may change this document, so it gets a record of its own.
            SrcFileSpec doc;
            doc.outputForm = spec.outputForm;
            doc.reference = pageReference;
            doc.title = title;
            doc.content = std::move(body);
            doc.section = section;
            doc.type = spec.type;
            doc.date = spec.date;
            doc.dbname = spec.dbname;
            doc.filename = spec.filename;
            doc.storecontent = spec.storecontent;
            doc.anchorReference = spec.anchorReference;
            doc.fieldNames = spec.fieldNames;
            doc.fieldValues = spec.fieldValues;
            for (const auto& [name, value] : extra)
                srcFileSpecSetField(&doc, name.c_str(), value.c_str());
            opt.pageStart(opt.user, &doc);
            appendDocument(out, DocumentView(doc));
        } else {
            appendDocument(out, DocumentView(spec, pageReference, title, body, section, &extra));
        }
        wroteAny = true;
        first = next;
    }
}

}  // namespace

int srcFileSpecSetReference(SrcFileSpec* spec, const char* value) {
    return setString(spec, &SrcFileSpec::reference, value);
}

int srcFileSpecSetTitle(SrcFileSpec* spec, const char* value) {
    if (!spec) return -1;
    if (value)
        spec->title = idxNormalizeWhitespace(value);
    else
        spec->title.reset();
    return 0;
}

int srcFileSpecSetContent(SrcFileSpec* spec, const char* value) {
    return setString(spec, &SrcFileSpec::content, value);
}

int srcFileSpecSetContent(SrcFileSpec* spec, std::string value) {
    if (!spec) return -1;
    spec->content = std::move(value);
    return 0;
}

int srcFileSpecSetSection(SrcFileSpec* spec, int32_t section) {
    if (!spec) return -1;
    spec->section = section < 0 ? -1 : section;
    return 0;
}

int srcFileSpecSetType(SrcFileSpec* spec, const char* value) {
    return setString(spec, &SrcFileSpec::type, value);
}
int srcFileSpecSetDate(SrcFileSpec* spec, const char* value) {
    return setString(spec, &SrcFileSpec::date, value);
}
int srcFileSpecSetDbname(SrcFileSpec* spec, const char* value) {
    return setString(spec, &SrcFileSpec::dbname, value);
}
int srcFileSpecSetFilename(SrcFileSpec* spec, const char* value) {
    return setString(spec, &SrcFileSpec::filename, value);
}
int srcFileSpecSetStorecontent(SrcFileSpec* spec, const char* value) {
    return setString(spec, &SrcFileSpec::storecontent, value);
}

int srcFileSpecSetOutputForm(SrcFileSpec* spec, int xmlForm) {
    if (!spec) return -1;
    spec->outputForm = xmlForm;
    return 0;
}

int srcFileSpecSetAnchorReference(SrcFileSpec* spec, int flag) {
    if (!spec) return -1;
    spec->anchorReference = flag;
    return 0;
}

int srcFileSpecAddSection(SrcFileSpec* spec, int32_t offset, const char* anchor,
                          const char* heading) {
    if (!spec || offset < 0) return -1;
    if (spec->sections.size() >= static_cast<size_t>(kIdxMaxSections)) return -3;
    IdxSection s;
    s.offset = offset;
    if (anchor) s.anchor = anchor;
    if (heading) s.heading = heading;
    spec->sections.push_back(std::move(s));
    return 0;
}

int srcFileSpecSetField(SrcFileSpec* spec, const char* name, const char* value) {
    if (!spec || !name) return -1;
    std::string key = escapeFieldName(name);
    std::string stored = escapeFieldValue(value ? value : "");
    size_t at = findField(*spec, key);
    if (at != std::string::npos) {
        spec->fieldValues[at] = std::move(stored);
        return 0;
    }
    spec->fieldIndex.emplace(key, spec->fieldNames.size());
    spec->fieldNames.push_back(std::move(key));
    spec->fieldValues.push_back(std::move(stored));
    return 0;
}

const char* srcFileSpecGetField(const SrcFileSpec* spec, const char* name) {
    if (!spec || !name) return nullptr;
    size_t at = findField(*spec, escapeFieldName(name));
    return at == std::string::npos ? nullptr : spec->fieldValues[at].c_str();
}

int srcFileSpecSetFieldRemapped(const IdxRemapTable* remap, SrcFileSpec* spec, const char* name,
                                const char* value) {
    if (!spec || !name || !value) return -1;
    const char* target = name;
    if (remap && remap->count > 0 && remap->from && remap->to) {
        std::string upper(name);
        for (char& c : upper)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        for (int32_t i = 0; i < remap->count; ++i)
            if (remap->from[i] && remap->to[i] && upper == remap->from[i]) target = remap->to[i];
    }
    return srcFileSpecSetField(spec, target, value);
}

bool srcFileSpecBuildText(const SrcFileSpec* spec, std::string& out,
                          const IdxBreakOptions* breaking) {
    out.clear();
    if (!spec) return false;
    size_t contentLength = spec->content ? spec->content->size() : 0;
    out.reserve(2 * contentLength + 256);
    if (breaking)
        appendBroken(out, *spec, *breaking);
    else
        appendDocument(out, DocumentView(*spec));
    return true;
}

char* srcFileSpecBuildText(const SrcFileSpec* spec, const IdxBreakOptions* breaking) {
    std::string text;
    if (!srcFileSpecBuildText(spec, text, breaking)) return nullptr;
    auto* copy = static_cast<char*>(memAlloc(text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    return copy;
}

int64_t srcFileSpecWrite(const SrcFileSpec* spec, std::FILE* file, const IdxBreakOptions* breaking,
                         const IdxErrorSink* errors) {
    ASSERT_a(spec != NULL);
    std::string text;
    size_t written = 0;
    if (file && srcFileSpecBuildText(spec, text, breaking))
        written = std::fwrite(text.data(), 1, text.size(), file);
    if (written < 1 && errors && errors->report)
        errors->report(errors->user, -6, -3, "IDX file writer: Couldn't write to IDX file",
                       spec->reference ? spec->reference->c_str() : nullptr);
    return static_cast<int64_t>(written);
}

int srcFileSpecSaveToFile(const SrcFileSpec* spec, const char* path,
                          const IdxBreakOptions* breaking, const IdxErrorSink* errors) {
    if (!spec || !path) return -1;
    std::FILE* file = std::fopen(path, "a+b");
    bool saved = false;
    if (file) {
        saved = srcFileSpecWrite(spec, file, breaking, errors) > 0;
        saved = std::fclose(file) == 0 && saved;
    }
    if (saved) return 0;
    if (errors && errors->report)
        errors->report(errors->user, -6, -3, "Saving Document to IDX file: Couldn't save document",
                       spec->reference ? spec->reference->c_str() : nullptr);
    return -6;
}

std::string idxNormalizeWhitespace(std::string_view text) {
    std::string out(text.size() + 1, '\0');
    char* w = out.data();
    const char* const start = w;
    bool pendingBlank = false;
    for (char c : text) {
        if (isBlankOrLineEnd(c)) {
            pendingBlank = w != start;
            continue;
        }
        if (pendingBlank) *w++ = ' ';
        pendingBlank = false;
        *w++ = c;
    }
    if (pendingBlank) *w++ = ' ';
    out.resize(static_cast<size_t>(w - start));
    return out;
}

int32_t idxWordCount(std::string_view text) {
    int32_t words = 0;
    bool inWord = false;
    for (char c : text) {
        bool alnum = isAsciiAlnum(static_cast<unsigned char>(c));
        if (alnum && !inWord) ++words;
        inWord = alnum;
    }
    return words;
}

std::string idxSideFileName(const char* name) {
    return std::string(name ? name : "") + kIdxSideFileSuffix;
}
