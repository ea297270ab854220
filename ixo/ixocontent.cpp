// The retrieval client's reader of IDX text (the reply of a content request) into a
// ContentRecord, and the record's create and destroy calls, which the import library
// uses as well.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contentrecord.h"
#include "ixo/idxfields.h"

namespace {

using idx_fields::consume;
using idx_fields::parseDecimal;

constexpr std::string_view kTag = "#IXO";

struct ParsedContent {
    std::optional<std::string> title, reference, content, type, date, dbname, filename;
    int32_t section = -1;
    int32_t docid = 0;
    bool storecontent = false;
    std::vector<std::string> names, values;
};

// Where the tag that starts at pos ends and the next one begins: a tag runs to the
// next line that begins "#IXO" ("\n#IXO" or "\n\r#IXO"); the line end before it is
// not part of either.
void findTagEnd(std::string_view text, size_t pos, size_t& end, size_t& next) {
    size_t q = pos + kTag.size();
    while ((q = text.find(kTag, q)) != std::string_view::npos) {
        if (text[q - 1] == '\n') {
            end = q - 1;
            next = q;
            return;
        }
        if (q >= 2 && text[q - 1] == '\r' && text[q - 2] == '\n') {
            end = q - 2;
            next = q;
            return;
        }
        q += kTag.size();
    }
    end = text.size();
    next = std::string_view::npos;
}

// The value that begins one character after the tag word; empty when the tag ends first.
std::string_view valueAfter(std::string_view rest) {
    return rest.size() > 1 ? rest.substr(1) : std::string_view();
}

std::string_view cutAtLineEnd(std::string_view v) {
    size_t e = v.find_first_of("\r\n");
    return e == std::string_view::npos ? v : v.substr(0, e);
}

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

void parse(std::string_view text, ParsedContent& out) {
    size_t pos = text.find(kTag);
    while (pos != std::string_view::npos) {
        size_t end, next;
        findTagEnd(text, pos, end, next);
        std::string_view word = text.substr(pos + kTag.size(), end - pos - kTag.size());
        pos = next;
        if (consume(word, "REFERENCE")) {
            out.reference = std::string(cutAtLineEnd(valueAfter(word)));
        } else if (consume(word, "TITLE")) {
            out.title = std::string(valueAfter(word));
        } else if (consume(word, "CONTENT")) {
            if (!out.content) out.content.emplace();
            out.content->append(word);
        } else if (consume(word, "DBNAME")) {
            out.dbname = std::string(cutAtLineEnd(valueAfter(word)));
        } else if (consume(word, "DOCID")) {
            out.docid = parseDecimal(cutAtLineEnd(word));
        } else if (consume(word, "SECTION")) {
            out.section = parseDecimal(cutAtLineEnd(word));
        } else if (consume(word, "TYPE")) {
            out.type = std::string(cutAtLineEnd(valueAfter(word)));
        } else if (consume(word, "DATE")) {
            out.date = std::string(cutAtLineEnd(valueAfter(word)));
        } else if (consume(word, "FIELD")) {
            std::string_view rest = valueAfter(word);
            size_t eq = rest.find('=');
            if (eq == std::string_view::npos) continue;
            std::string_view value =
                rest.size() > eq + 2 ? rest.substr(eq + 2) : std::string_view();
            size_t quote = value.find('"');
            if (quote != std::string_view::npos) value = value.substr(0, quote);
            out.names.emplace_back(rest.substr(0, eq));
            out.values.emplace_back(cutAtLineEnd(value));
        } else if (consume(word, "STORECONTENT")) {
            out.storecontent = equalsCaseBlind(cutAtLineEnd(valueAfter(word)), "yes");
        } else if (consume(word, "FILENAME")) {
            out.filename = std::string(cutAtLineEnd(valueAfter(word)));
        } else if (consume(word, "ENDDOC")) {
            break;
        }
    }
}

bool copyText(const std::optional<std::string>& from, char** to) {
    if (!from) return true;
    *to = memStrNDup(from->data(), from->size());
    return *to != nullptr;
}

bool fill(const ParsedContent& p, ContentRecord* r) {
    r->section = p.section;
    r->docid = p.docid;
    r->storecontent = p.storecontent ? 1 : 0;
    if (!copyText(p.title, &r->title) || !copyText(p.reference, &r->reference) ||
        !copyText(p.content, &r->content) || !copyText(p.type, &r->type) ||
        !copyText(p.date, &r->date) || !copyText(p.dbname, &r->dbname) ||
        !copyText(p.filename, &r->filename))
        return false;
    if (p.names.empty()) return true;
    size_t n = p.names.size();
    r->fieldNames = static_cast<char**>(memAlloc(n * sizeof(char*)));
    r->fieldValues = static_cast<char**>(memAlloc(n * sizeof(char*)));
    if (!r->fieldNames || !r->fieldValues) return false;
    r->fieldCount = static_cast<int32_t>(n);
    for (size_t i = 0; i < n; ++i) {
        r->fieldNames[i] = memStrNDup(p.names[i].data(), p.names[i].size());
        r->fieldValues[i] = memStrNDup(p.values[i].data(), p.values[i].size());
        if (!r->fieldNames[i] || !r->fieldValues[i]) return false;
    }
    return true;
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT ContentRecord* ixoCreateContentRecord(void) {
    auto* record = static_cast<ContentRecord*>(memAlloc(sizeof(ContentRecord)));
    if (record) record->section = -1;
    return record;
}

SAPIOLUX_EXPORT int ixoDestroyContentRecord(ContentRecord* record) {
    if (!record) return -5;
    char** texts[] = {&record->title, &record->reference, &record->content,  &record->type,
                      &record->date,  &record->dbname,    &record->filename, &record->spare};
    for (char** t : texts)
        if (*t) memFree(*t);
    for (int32_t i = 0; i < record->fieldCount; ++i) {
        if (record->fieldNames && record->fieldNames[i]) memFree(record->fieldNames[i]);
        if (record->fieldValues && record->fieldValues[i]) memFree(record->fieldValues[i]);
    }
    if (record->fieldNames) memFree(record->fieldNames);
    if (record->fieldValues) memFree(record->fieldValues);
    memFree(record);
    return 1;
}

SAPIOLUX_EXPORT int ixoContentTextToRecord(const char* text, size_t length,
                                           ContentRecord** record) {
    if (!record) return -1;
    *record = nullptr;
    if (!text) return -1;
    try {
        ParsedContent parsed;
        parse(std::string_view(text, length), parsed);
        ContentRecord* r = ixoCreateContentRecord();
        if (!r) return -8;
        if (!fill(parsed, r)) {
            ixoDestroyContentRecord(r);
            return -8;
        }
        *record = r;
        return 1;
    } catch (...) {
        return -8;
    }
}

}  // extern "C"
