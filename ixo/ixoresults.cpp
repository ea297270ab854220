// Result records: parsing the results text in place, writing it back, copying,
// the simple output filters, and the term-list and document-id-list replies.
#include "ixo/ixoresults.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "memutil.h"

namespace ixo {

int32_t parseInt32(const char* text) {
    if (!text) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = (*p == '-');
        ++p;
    }
    int64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;  // saturate
        ++p;
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace ixo

namespace {

constexpr std::string_view kDocName = "Doc_name=";
constexpr std::string_view kNextDocName = "\nDoc_name=";

// Ends the line that starts at p: the line feed becomes a zero byte. Returns the start
// of the next line, or null when the line has no line feed.
char* cutLine(char* p) {
    char* nl = std::strchr(p, '\n');
    if (!nl) return nullptr;
    *nl = '\0';
    return nl + 1;
}

// Finds key at or after p; returns the text after it, or null.
char* afterKey(char* p, std::string_view key) {
    char* found = std::strstr(p, key.data());
    return found ? found + key.size() : nullptr;
}

// Reads one block of [start of "Doc_name=" value, end of the text). The text is
// terminated at the block's end by the caller. Fills rec and appends the further
// fields at fields[*used]. False when a key or line feed is missing.
bool parseBlock(char* value, bool fullForm, IxoResultRecord& rec, IxoResultField* fields,
                size_t* used) {
    rec = IxoResultRecord{};
    rec.name = value;
    char* p = cutLine(value);
    if (!p) return false;

    rec.title = afterKey(p, "URL_title=");
    if (!rec.title) return false;
    p = cutLine(rec.title);
    if (!p) return false;

    if (fullForm) {
        p = afterKey(p, "Doc_id=");
        if (!p) return false;
        rec.docId = ixo::parseInt32(p);
    }
    p = afterKey(p, "Doc_weight=");
    if (!p) return false;
    rec.weight = ixo::parseInt32(p);
    if (!fullForm) return true;

    rec.links = afterKey(p, "links=");
    if (!rec.links) return false;
    p = cutLine(rec.links);
    if (!p) return false;
    p = afterKey(p, "dbase=");
    if (!p) return false;
    rec.database = ixo::parseInt32(p);

    // Further fields: one "name=value" per line after the dbase line. An empty line is
    // skipped; a line without '=' continues the value of the field right before it.
    char* nl = std::strchr(p, '\n');
    if (!nl) return true;
    p = nl + 1;
    size_t first = *used;
    IxoResultField* last = nullptr;
    while (*p) {
        if (*p == '\n') {
            last = nullptr;
            ++p;
            continue;
        }
        char* lineEnd = std::strchr(p, '\n');
        char* next = lineEnd ? lineEnd + 1 : p + std::strlen(p);
        char* eq = static_cast<char*>(
            std::memchr(p, '=', static_cast<size_t>((lineEnd ? lineEnd : next) - p)));
        if (!eq) {
            if (last && lineEnd) {
                // Joined to the previous value: put back the line feed that ended it.
                p[-1] = '\n';
                *lineEnd = '\0';
            } else if (last && !lineEnd) {
                p[-1] = '\n';
            }
            p = next;
            continue;
        }
        *eq = '\0';
        if (lineEnd) *lineEnd = '\0';
        last = &fields[*used];
        last->name = p;
        last->value = eq + 1;
        ++*used;
        p = next;
    }
    rec.fieldCount = static_cast<int32_t>(*used - first);
    rec.fields = rec.fieldCount > 0 ? &fields[first] : nullptr;
    return true;
}

void appendRecord(std::string& out, const IxoResultRecord& r) {
    char number[32];
    auto text = [](const char* s) { return s ? s : ""; };
    out += "Doc_name=";
    out += text(r.name);
    out += "\nURL_title=";
    out += text(r.title);
    std::snprintf(number, sizeof number, "\nDoc_id=%d", r.docId);
    out += number;
    std::snprintf(number, sizeof number, "\nDoc_weight=%d", r.weight);
    out += number;
    out += "\nlinks=";
    out += text(r.links);
    std::snprintf(number, sizeof number, "\ndbase=%d\n", r.database);
    out += number;
    if (r.fields) {
        for (int32_t i = 0; i < r.fieldCount; ++i) {
            out += text(r.fields[i].name);
            out += '=';
            out += text(r.fields[i].value);
            out += '\n';
        }
    }
}

bool keepLine(std::string_view line) {
    for (std::string_view key : {"numhits=", "URL_title=", "Doc_name=", "Doc_weight="})
        if (line.find(key) != std::string_view::npos) return true;
    return false;
}

// Filters text[0, length) into text itself (the output is never longer). Returns the
// new length; the caller terminates.
size_t filterInPlace(char* text, size_t length) {
    size_t out = 0;
    size_t pos = 0;
    while (pos < length) {
        const char* nl = static_cast<const char*>(std::memchr(text + pos, '\n', length - pos));
        size_t end = nl ? static_cast<size_t>(nl - text) + 1 : length;
        std::string_view line(text + pos, end - pos);
        if (keepLine(line)) {
            std::memmove(text + out, text + pos, line.size());
            out += line.size();
        }
        pos = end;
    }
    return out;
}

char* copyToOwned(std::string_view s) {
    auto* p = static_cast<char*>(memAlloc(s.size() + 1));
    if (p && !s.empty()) std::memcpy(p, s.data(), s.size());
    return p;
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int32_t ixoGetResultsNumber(const char* text) {
    if (!text) return 0;
    const char* p = std::strstr(text, "numhits");
    if (!p || p[7] == '\0') return 0;
    return ixo::parseInt32(p + 8);
}

SAPIOLUX_EXPORT int32_t ixoGetResultsFromBuffer(IxoQueryResult* result, char* reply,
                                                int32_t fullForm) {
    if (!result) return -5;
    *result = IxoQueryResult{};
    if (!reply) return -5;
    try {
        int32_t announced = ixoGetResultsNumber(reply);
        if (announced < 1) return -5;
        size_t length = std::strlen(reply);
        if (length > INT32_MAX) return -5;
        size_t lineFeeds = static_cast<size_t>(std::count(reply, reply + length, '\n'));

        // Every block but the last holds at least two line feeds, so the announced
        // number cannot make us take more room than the reply could fill.
        size_t n = std::min(static_cast<size_t>(announced), lineFeeds / 2 + 1);
        auto* records = static_cast<IxoResultRecord*>(memAlloc(n * sizeof(IxoResultRecord)));
        auto* fields =
            static_cast<IxoResultField*>(memAlloc((lineFeeds + 1) * sizeof(IxoResultField)));
        if (!records || !fields) {
            if (records) memFree(records);
            if (fields) memFree(fields);
            return -7;
        }

        size_t got = 0;
        size_t used = 0;
        char* pos = reply;
        while (got < n) {
            char* name = std::strstr(pos, kDocName.data());
            if (!name) break;
            char* value = name + kDocName.size();
            // Keep this record's searches out of the next block.
            char* next = std::strstr(value, kNextDocName.data());
            char* blockEnd = next ? next + 1 : reply + length;
            if (next) *blockEnd = '\0';
            size_t usedBefore = used;
            bool complete = parseBlock(value, fullForm == 1, records[got], fields, &used);
            if (next) *blockEnd = 'D';
            if (!complete) {
                used = usedBefore;
                records[got] = IxoResultRecord{};
                break;
            }
            ++got;
            if (!next) break;
            pos = blockEnd;
        }

        result->text = reply;
        result->textLength = static_cast<int32_t>(length);
        result->hitCount = static_cast<int32_t>(got);
        if (got == 0) {
            memFree(records);
            memFree(fields);
        } else {
            result->records = records;
            result->fieldPairs = fields;
        }
        return 1;
    } catch (...) {
        *result = IxoQueryResult{};
        return -7;
    }
}

SAPIOLUX_EXPORT char* ixoGetResultsRecord(const char* text, int32_t index, const char* separator) {
    if (!text || !separator || !*separator || index < 0) return nullptr;
    size_t sepLength = std::strlen(separator);
    const char* p = std::strstr(text, separator);
    for (int32_t i = 0; p && i < index; ++i) p = std::strstr(p + sepLength, separator);
    if (!p) return nullptr;
    const char* end = std::strstr(p + sepLength, separator);
    size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
    return copyToOwned(std::string_view(p, n));
}

SAPIOLUX_EXPORT char* ixoGetResultsFieldValue(const char* block, const char* fieldName) {
    if (!block || !fieldName || !*fieldName) return nullptr;
    const char* found = std::strstr(block, fieldName);
    if (!found) return nullptr;
    const char* afterName = found + std::strlen(fieldName);
    if (*afterName == '\0') return nullptr;
    const char* start = afterName + 1;  // past the '='
    const char* nl = std::strchr(start, '\n');
    if (!nl) return nullptr;
    const char* blockEnd = nl + std::strlen(nl);
    // The value runs to the last line feed before the next "name=" line; without one,
    // to the last line feed before the block's last three characters, but never ends
    // before its own first line feed.
    const char* eq = std::strchr(nl, '=');
    const char* stop = eq ? eq : std::max(blockEnd - 3, nl + 1);
    const char* end = nl;
    for (const char* q = stop - 1; q > nl; --q) {
        if (*q == '\n') {
            end = q;
            break;
        }
    }
    std::string_view value(start, static_cast<size_t>(end - start));
    size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return copyToOwned({});
    size_t last = value.find_last_not_of(" \t\r\n");
    return copyToOwned(value.substr(first, last - first + 1));
}

SAPIOLUX_EXPORT int32_t ixoGetFieldFromResultsRecord(const IxoResultRecord* record,
                                                     const char* fieldName,
                                                     IxoResultField** field) {
    if (!record || !fieldName || !field) return -5;
    if (record->fieldCount < 1 || !record->fields) return -9;
    IxoResultField* match = nullptr;
    for (int32_t i = 0; i < record->fieldCount; ++i) {
        const char* name = record->fields[i].name;
        if (name && std::strcmp(name, fieldName) == 0) match = &record->fields[i];
    }
    if (!match) return -9;
    *field = match;
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoResultsToArray(const IxoQueryResult* result, int32_t* count,
                                          int32_t** ids) {
    if (!result || !count || !ids || result->hitCount < 1 || !result->records) return -5;
    auto n = static_cast<size_t>(result->hitCount);
    auto* array = static_cast<int32_t*>(memAlloc(n * sizeof(int32_t)));
    if (!array) return -7;
    for (size_t i = 0; i < n; ++i) array[i] = result->records[i].docId;
    *count = result->hitCount;
    *ids = array;
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoWriteResultsArrayToBuffer(int32_t hitCount,
                                                     const IxoResultRecord* records, char** text) {
    if (!text) return -5;
    *text = nullptr;
    if (hitCount > 0 && !records) return -5;
    try {
        std::string out;
        out.reserve(256 + 16 + static_cast<size_t>(std::max(hitCount, 0)) * 167);
        char head[32];
        std::snprintf(head, sizeof head, "numhits=%ld\n", static_cast<long>(hitCount));
        out += head;
        for (int32_t i = 0; i < hitCount; ++i) appendRecord(out, records[i]);
        *text = copyToOwned(out);
        return *text ? 1 : -7;
    } catch (...) {
        return -7;
    }
}

SAPIOLUX_EXPORT int32_t ixoDestroyQueryResult(IxoQueryResult* result) {
    if (!result) return -5;
    // The reply is released also when no record could be read: the result owns it
    // whenever the parse succeeded.
    if (result->records) memFree(result->records);
    if (result->fieldPairs) memFree(result->fieldPairs);
    if (result->text) memFree(result->text);
    result->hitCount = 0;
    result->textLength = 0;
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoCopyQueryResult(IxoQueryResult* target, const IxoQueryResult* source) {
    if (!target || !source) return -5;
    *target = IxoQueryResult{};
    char* text = nullptr;
    int32_t rc = ixoWriteResultsArrayToBuffer(source->hitCount, source->records, &text);
    if (rc != 1) return rc;
    rc = ixoGetResultsFromBuffer(target, text, 1);
    if (rc != 1) {
        memFree(text);
        return rc == -5 ? 1 : rc;
    }
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoSimpleOutputFilterText(char* text) {
    if (!text) return 0;
    size_t n = filterInPlace(text, std::strlen(text));
    text[n] = '\0';
    return static_cast<int32_t>(n);
}

SAPIOLUX_EXPORT int32_t ixoSimpleOutputFilterBuffer(char* buffer, int32_t size) {
    if (!buffer || size < 1) return -5;
    auto limit = static_cast<size_t>(size);
    const void* zero = std::memchr(buffer, '\0', limit);
    // Without a terminator inside the buffer, its last byte gives way to one.
    size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - buffer) : limit - 1;
    size_t n = filterInPlace(buffer, length);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

SAPIOLUX_EXPORT int32_t ixoSimpleOutputFilterFile(const char* fileName) {
    if (!fileName) return -6;
    try {
        std::string content;
        {
            std::ifstream in(fileName, std::ios::binary);
            if (!in) return -6;
            content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad()) return -6;
        }
        size_t n = filterInPlace(content.data(), content.size());
        std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
        if (!out) return -6;
        out.write(content.data(), static_cast<std::streamsize>(n));
        out.close();
        return out ? 1 : -6;
    } catch (...) {
        return -6;
    }
}

SAPIOLUX_EXPORT int32_t ixoParseTermList(IxoTermList* list, char* reply, int32_t withWeights) {
    if (!list) return -5;
    *list = IxoTermList{};
    if (!reply) return -5;
    constexpr std::string_view kHead = "Number of hits: ";
    char* head = std::strstr(reply, kHead.data());
    if (!head) return -6;
    int32_t announced = ixo::parseInt32(head + kHead.size());
    char* p = std::strchr(head, '\n');
    if (!p || announced < 1) return -6;
    ++p;
    char* end = p + std::strlen(p);
    size_t lines = static_cast<size_t>(std::count(p, end, '\n')) + 1;
    size_t n = std::min(static_cast<size_t>(announced), lines);
    auto* terms = static_cast<IxoTerm*>(memAlloc(n * sizeof(IxoTerm)));
    if (!terms) return -7;

    size_t got = 0;
    while (got < n && p < end) {
        char* next = cutLine(p);
        if (!next) next = end;
        size_t lineLength = std::strlen(p);
        if (lineLength > 0 && p[lineLength - 1] == '\r') p[--lineLength] = '\0';
        IxoTerm& t = terms[got++];
        t.term = p;
        t.weight = -1;
        if (withWeights) {
            char* plus = std::strrchr(p, '+');
            t.weight = 0;
            if (plus) {
                *plus = '\0';
                t.weight = ixo::parseInt32(plus + 1);
            }
        }
        p = next;
    }
    if (got == 0) {
        memFree(terms);
        return -6;
    }
    list->count = static_cast<int32_t>(got);
    list->text = reply;
    list->terms = terms;
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoDestroyTermList(IxoTermList* list) {
    if (!list) return -5;
    if (list->terms) memFree(list->terms);
    if (list->text) memFree(list->text);
    list->count = 0;
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoParseDocIdList(IxoDocIdList* list, char* reply) {
    if (!list) return -5;
    *list = IxoDocIdList{};
    if (!reply) return -5;
    constexpr size_t kStep = 100;
    IxoDocIdEntry* entries = nullptr;
    size_t capacity = 0;
    size_t count = 0;
    auto fail = [&]() {
        for (size_t i = 0; i < count; ++i) memFree(entries[i].ids);
        if (entries) memFree(entries);
        return -7;
    };

    char* p = reply;
    char* end = reply + std::strlen(reply);
    while (p < end) {
        char* next = cutLine(p);
        if (!next) next = end;
        char* line = p;
        p = next;
        size_t lineLength = std::strlen(line);
        if (lineLength > 0 && line[lineLength - 1] == '\r') line[--lineLength] = '\0';
        char* colon = std::strstr(line, " : ");
        if (!colon) continue;
        char* comma = std::strstr(colon + 3, " , ");
        if (!comma) continue;
        *colon = '\0';
        *comma = '\0';
        char* idPart = comma + 3;

        if (count == capacity) {
            auto* grown = static_cast<IxoDocIdEntry*>(
                memRealloc(entries, (capacity + kStep) * sizeof(IxoDocIdEntry)));
            if (!grown) return fail();
            entries = grown;
            capacity += kStep;
        }
        IxoDocIdEntry& e = entries[count];
        e = IxoDocIdEntry{};
        e.term = line;
        e.text = colon + 3;
        // Each id is followed by a blank: the blanks count the ids.
        size_t ids = static_cast<size_t>(std::count(idPart, idPart + std::strlen(idPart), ' '));
        if (ids > 0) {
            e.ids = static_cast<int32_t*>(memAlloc(ids * sizeof(int32_t)));
            if (!e.ids) return fail();
            char* q = idPart;
            for (size_t i = 0; i < ids; ++i) {
                char* blank = std::strchr(q, ' ');
                e.ids[i] = *q == ' ' ? 0 : ixo::parseInt32(q);
                q = blank + 1;
            }
        }
        e.idCount = static_cast<int32_t>(ids);
        ++count;
    }
    list->count = static_cast<int32_t>(count);
    list->text = reply;
    list->entries = entries;
    return 1;
}

SAPIOLUX_EXPORT int32_t ixoDestroyDocIdList(IxoDocIdList* list) {
    if (!list) return -5;
    for (int32_t i = 0; i < list->count && list->entries; ++i) {
        if (list->entries[i].ids) memFree(list->entries[i].ids);
    }
    if (list->entries) memFree(list->entries);
    if (list->text) memFree(list->text);
    list->count = 0;
    return 1;
}

}  // extern "C"
