// Server information, configuration, terms, document ids, summaries, content and
// concept-model primitives: the read-only requests beside queries. All go to the query
// port; list replies are parsed by the term-list and document-id-list parsers.
#include "ixo/ixoinfo.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ixo/ixoapi.h"
#include "ixo/ixoquery.h"
#include "ixo_cache.h"

namespace ixo_info {

int32_t sendRequest(IXO* ixo, int32_t portSelector, const std::string& request,
                    const char* postData, std::string& reply) {
    reply.clear();
    char* text = nullptr;
    const int32_t rc = ixoRequestToDynBuffer2(ixo, portSelector, request.c_str(), postData, &text);
    if (text) {
        if (rc == IXO_OK) reply.assign(text);
        memFree(text);
    }
    return rc;
}

int32_t sendThroughCache(IXO* ixo, const std::string& request, std::string& reply) {
    reply.clear();
    char* cached = nullptr;
    if (ixoCacheLookup(ixo, request.c_str(), &cached) == 1 && cached) {
        reply.assign(cached);
        memFree(cached);
        return IXO_OK;
    }
    const int32_t rc = sendRequest(ixo, IXO_QUERY_PORT_SELECTOR, request, nullptr, reply);
    if (rc == IXO_OK && ixo->clientCache) ixoCacheStore(ixo, request.c_str(), reply.c_str());
    return rc;
}

void copyToBuffer(std::string_view reply, char* buffer, int32_t size) {
    if (!buffer || size < 1) return;
    const size_t room = static_cast<size_t>(size);
    const size_t copied = std::min(reply.size(), room);
    std::memcpy(buffer, reply.data(), copied);
    if (copied < room) buffer[copied] = '\0';
    buffer[room - 1] = '\0';
}

std::string termsRequest(std::string_view text, int32_t numTerms, int32_t withWeights,
                         int32_t useReferences) {
    std::string request = "/qmethod=t&querytext=" + std::string(text);
    request += "&idnum=" + std::to_string(numTerms == 0 ? 20 : numTerms);
    request += "&xoptions=";
    if (withWeights) request += "tweights";
    if (useReferences) request += "+useurl";
    return request;
}

std::string summaryRequest(std::string_view text, const char* document, int32_t useReferences,
                           const char* extraOptions) {
    std::string request;
    if (document) {
        request = "/qmethod=z&querytext=" + std::string(text) + "&idnum=" + document;
    } else {
        request = "/qmethod=Z&querytext=" + std::string(text);
    }
    const bool extra = extraOptions && extraOptions[0] != '\0';
    if (useReferences || extra) {
        request += "&xoptions=";
        if (useReferences) request += "useurl+";
        if (extra) request += extraOptions;
    }
    return request;
}

std::string contentRequest(std::string_view document, int32_t upperMethod) {
    return std::string(upperMethod ? "/qmethod=C&querytext=" : "/qmethod=c&querytext=") +
           std::string(document);
}

std::vector<std::string> titleWords(std::string_view title) {
    std::vector<std::string> words;
    std::string word;
    for (char c : title) {
        const bool keep =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (keep) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

std::string oneLine(std::string_view text) {
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return out;
}

}  // namespace ixo_info

namespace {

using namespace ixo_info;

// Raised inside the information parser when memory runs out.
struct OutOfMemory {};

char* ownedCopy(std::string_view text) {
    char* copy = memStrNDup(text.empty() ? "" : text.data(), text.size());
    if (!copy) throw OutOfMemory{};
    return copy;
}

int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// A decimal integer at the start of text after blanks ('+' or '-' allowed), clamped;
// 0 when there is none.
int32_t leadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 100000000000LL) value = value * 10 + (text[i] - '0');
    }
    return clampToInt32(negative ? -value : value);
}

// Where key stands in reply: at the start of a line when it stands at one, else its
// first occurrence anywhere.
size_t findKey(std::string_view reply, std::string_view key) {
    size_t first = reply.find(key);
    for (size_t at = first; at != std::string_view::npos; at = reply.find(key, at + 1)) {
        if (at == 0 || reply[at - 1] == '\n') return at;
    }
    return first;
}

// The value of key: from one character after the key to the line feed (without a
// carriage return before it); nothing when the key is absent.
std::optional<std::string_view> keyValue(std::string_view reply, std::string_view key) {
    const size_t at = findKey(reply, key);
    if (at == std::string_view::npos) return std::nullopt;
    const size_t start = at + key.size() + 1;
    if (start >= reply.size()) return std::string_view();
    size_t end = reply.find('\n', start);
    if (end == std::string_view::npos) end = reply.size();
    std::string_view value = reply.substr(start, end - start);
    if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
    return value;
}

int32_t intValue(std::string_view reply, std::string_view key, int32_t fallback) {
    const auto value = keyValue(reply, key);
    return value ? leadingInteger(*value) : fallback;
}

char* textValue(std::string_view reply, std::string_view key) {
    const auto value = keyValue(reply, key);
    return value ? ownedCopy(*value) : nullptr;
}

// A list value "count[items...]": the count, capped, and the text after '[' up to ']'
// (or the value's end).
int32_t listCount(std::string_view value) {
    return std::clamp<int32_t>(leadingInteger(value), 0, IXO_INFO_MAX_DATABASES);
}

std::string_view listItems(std::string_view value) {
    const size_t open = value.find('[');
    if (open == std::string_view::npos) return {};
    std::string_view items = value.substr(open + 1);
    const size_t close = items.find(']');
    return close == std::string_view::npos ? items : items.substr(0, close);
}

void readDatabases(std::string_view reply, IxoServerInfo& info) {
    const auto value = keyValue(reply, "DATABASES");
    if (!value) return;
    const int32_t count = listCount(*value);
    if (count == 0) return;
    info.databaseNames = static_cast<char**>(memAlloc(sizeof(char*) * count));
    if (!info.databaseNames) throw OutOfMemory{};
    info.databaseCount = count;
    std::string_view items = listItems(*value);
    if (items.empty()) return;
    for (int32_t i = 0; i < count; ++i) {
        const size_t comma = items.find(',');
        info.databaseNames[i] = ownedCopy(items.substr(0, comma));
        if (comma == std::string_view::npos) break;
        items.remove_prefix(comma + 1);
    }
}

void readDbInfo(std::string_view reply, IxoServerInfo& info) {
    const auto value = keyValue(reply, "DBINFO");
    if (!value) return;
    const int32_t count = listCount(*value);
    if (count == 0) return;
    info.dbInfo = static_cast<IxoDbFigures*>(memAlloc(sizeof(IxoDbFigures) * count));
    if (!info.dbInfo) throw OutOfMemory{};
    info.dbInfoCount = count;
    // The text after '[' up to the value's end, in items separated by any of ":,()[]".
    const size_t open = value->find('[');
    if (open == std::string_view::npos) return;
    const std::string_view rest = value->substr(open + 1);
    std::vector<std::string_view> items;
    size_t start = 0;
    while (start < rest.size() && items.size() < static_cast<size_t>(count) * 3) {
        size_t end = rest.find_first_of(":,()[]", start);
        if (end == std::string_view::npos) end = rest.size();
        if (end > start) items.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i + 2 < items.size() && i / 3 < static_cast<size_t>(count); i += 3) {
        info.dbInfo[i / 3].first = leadingInteger(items[i + 1]);
        info.dbInfo[i / 3].second = leadingInteger(items[i + 2]);
    }
}

void fillInfo(std::string_view reply, IxoServerInfo& info) {
    info.documentCount = intValue(reply, "DOCNUM", 0);
    info.product = textValue(reply, "PRODUCT");
    info.version = textValue(reply, "VERSION");
    info.build = textValue(reply, "BUILD");
    info.queryPort = intValue(reply, "QUERYPORT", 0);
    info.indexPort = intValue(reply, "INDEXPORT", 0);
    info.maxDatabases = intValue(reply, "MAXDBASE", 0);
    info.numFields = intValue(reply, "NUM_FIELDS", 0);
    info.directory = textValue(reply, "DIRECTORY");
    info.num4Terms = intValue(reply, "NUM4TERMS", 0);
    info.storeContent = intValue(reply, "STORECONTENT", 1);
    info.properNames = intValue(reply, "PROPERNAMES", 0);
    info.slotSize = intValue(reply, "SLOT_SIZE", 10);
    info.maxOccurrences = intValue(reply, "MAXOC", 0);
    readDatabases(reply, info);
    readDbInfo(reply, info);
    info.stripLanguage = intValue(reply, "STRIPLANGUAGE", 0);
    info.charConversion = intValue(reply, "CHARCONV", 0);
    if (size_t at = reply.find(":\n["); at != std::string_view::npos) {
        info.tail = ownedCopy(reply.substr(at));
    }
}

bool anyNull(std::initializer_list<const void*> pointers) {
    return std::any_of(pointers.begin(), pointers.end(), [](const void* p) { return !p; });
}

std::string withUserParameters(const IXO& ixo, std::string request) {
    return request + ixo_query::userParameters(ixo);
}

// Parses a reply into a term list that takes over a copy of it.
int32_t parseTerms(const std::string& reply, int32_t withWeights, IxoTermList* list) {
    char* copy = memStrNDup(reply.data(), reply.size());
    if (!copy) return IXO_ERR_MEMORY;
    const int32_t rc = ixoParseTermList(list, copy, withWeights ? 1 : 0);
    if (rc != IXO_OK) memFree(copy);
    return rc;
}

int32_t toFile(IXO* ixo, const std::string& request, const char* fileName) {
    return ixoRequestToFile(ixo, ixo->queryPort, request.c_str(), nullptr, fileName);
}

int32_t toBuffer(IXO* ixo, const std::string& request, char* buffer, int32_t size) {
    return ixoRequestToBuffer(ixo, IXO_QUERY_PORT_SELECTOR, request.c_str(), nullptr, buffer, size);
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// The records of the title check, built straight into a query result: one text holds
// every title and field value, zero-separated; records and fields point into it.
int32_t buildTitleResult(const std::vector<std::string>& titles,
                         const std::vector<int32_t>& weights,
                         const std::vector<std::pair<int32_t, int32_t>>& counts,
                         IxoQueryResult* result) {
    const size_t n = titles.size();
    std::vector<std::string> pieces;
    for (size_t i = 0; i < n; ++i) {
        pieces.push_back(titles[i]);
        pieces.push_back("words");
        pieces.push_back(std::to_string(counts[i].first));
        pieces.push_back("shared");
        pieces.push_back(std::to_string(counts[i].second));
    }
    size_t length = 0;
    for (const auto& p : pieces) length += p.size() + 1;
    auto* text = static_cast<char*>(memAlloc(length + 1));
    auto* records = static_cast<IxoResultRecord*>(memAlloc(sizeof(IxoResultRecord) * n));
    auto* fields = static_cast<IxoResultField*>(memAlloc(sizeof(IxoResultField) * n * 2));
    if (!text || !records || !fields) {
        if (text) memFree(text);
        if (records) memFree(records);
        if (fields) memFree(fields);
        return IXO_ERR_MEMORY;
    }
    std::vector<char*> at;
    char* p = text;
    for (const auto& piece : pieces) {
        std::memcpy(p, piece.data(), piece.size());
        p[piece.size()] = '\0';
        at.push_back(p);
        p += piece.size() + 1;
    }
    for (size_t i = 0; i < n; ++i) {
        IxoResultRecord& r = records[i];
        r.name = r.title = at[i * 5];
        r.docId = static_cast<int32_t>(i);
        r.weight = weights[i];
        r.links = nullptr;
        r.database = 0;
        r.fieldCount = 2;
        r.fields = &fields[i * 2];
        fields[i * 2] = IxoResultField{at[i * 5 + 1], at[i * 5 + 2]};
        fields[i * 2 + 1] = IxoResultField{at[i * 5 + 3], at[i * 5 + 4]};
    }
    result->hitCount = static_cast<int32_t>(n);
    result->text = text;
    result->textLength = static_cast<int32_t>(length);
    result->records = records;
    result->fieldPairs = fields;
    return IXO_OK;
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int32_t ixoDestroyInfoStructure(IxoServerInfo* info) {
    if (!info) return IXO_ERR_PARAMETER;
    char** texts[] = {&info->product, &info->version, &info->build, &info->directory, &info->tail};
    for (char** t : texts) {
        if (*t) memFree(*t);
    }
    if (info->databaseNames) {
        for (int32_t i = 0; i < info->databaseCount; ++i) {
            if (info->databaseNames[i]) memFree(info->databaseNames[i]);
        }
        memFree(info->databaseNames);
    }
    if (info->dbInfo) memFree(info->dbInfo);
    memFree(info);
    return IXO_OK;
}

SAPIOLUX_EXPORT int32_t ixoParseServerInfo(const char* reply, IxoServerInfo** info) {
    if (info) *info = nullptr;
    if (!reply || !info) return IXO_ERR_PARAMETER;
    const std::string_view text(reply);
    if (findKey(text, "PRODUCT") == std::string_view::npos) return IXO_ERR_PARAMETER;
    auto* record = static_cast<IxoServerInfo*>(memAlloc(sizeof(IxoServerInfo)));
    if (!record) return IXO_ERR_MEMORY;
    try {
        fillInfo(text, *record);
    } catch (...) {
        ixoDestroyInfoStructure(record);
        return IXO_ERR_MEMORY;
    }
    *info = record;
    return IXO_OK;
}

SAPIOLUX_EXPORT int32_t ixoGetInfoToStructure(IXO* ixo, IxoServerInfo** info) {
    if (info) *info = nullptr;
    if (!ixo || !info) return IXO_ERR_PARAMETER;
    try {
        std::string reply;
        const int32_t rc = sendRequest(ixo, IXO_QUERY_PORT_SELECTOR,
                                       withUserParameters(*ixo, "/qmethod=V"), nullptr, reply);
        if (rc != IXO_OK) return rc;
        return ixoParseServerInfo(reply.c_str(), info);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetConfigurationToBuffer(IXO* ixo, char* buffer, int32_t size) {
    if (!ixo || !buffer || size < 1) return IXO_ERR_PARAMETER;
    buffer[0] = '\0';
    try {
        return toBuffer(ixo, "/qmethod=V", buffer, size);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetTermsToStructure(IXO* ixo, const char* text, int32_t numTerms,
                                               int32_t withWeights, int32_t useReferences,
                                               IxoTermList* list) {
    if (list) *list = IxoTermList{};
    if (anyNull({ixo, text, list})) return IXO_ERR_PARAMETER;
    try {
        std::string reply;
        const int32_t rc =
            sendThroughCache(ixo, termsRequest(text, numTerms, withWeights, useReferences), reply);
        if (rc != IXO_OK) return rc;
        return parseTerms(reply, withWeights, list);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetTermsToFile(IXO* ixo, const char* text, int32_t numTerms,
                                          int32_t withWeights, int32_t useReferences,
                                          const char* fileName) {
    if (anyNull({ixo, text, fileName})) return IXO_ERR_PARAMETER;
    try {
        return toFile(ixo, termsRequest(text, numTerms, withWeights, useReferences), fileName);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetTermsToBuffer(IXO* ixo, const char* text, int32_t numTerms,
                                            int32_t withWeights, int32_t useReferences,
                                            char* buffer, int32_t size) {
    if (anyNull({ixo, text, buffer}) || size < 1) return IXO_ERR_PARAMETER;
    buffer[0] = '\0';
    try {
        return toBuffer(ixo, termsRequest(text, numTerms, withWeights, useReferences), buffer,
                        size);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetDocIdsToStructure(IXO* ixo, const char* text, IxoDocIdList* list) {
    if (list) *list = IxoDocIdList{};
    if (anyNull({ixo, text, list})) return IXO_ERR_PARAMETER;
    try {
        std::string reply;
        const int32_t rc = sendRequest(
            ixo, IXO_QUERY_PORT_SELECTOR,
            withUserParameters(
                *ixo, "/qmethod=b&idnum=10000000&xoptions=plain&querytext=" + std::string(text)),
            nullptr, reply);
        if (rc != IXO_OK) return rc;
        char* copy = memStrNDup(reply.data(), reply.size());
        if (!copy) return IXO_ERR_MEMORY;
        const int32_t parsed = ixoParseDocIdList(list, copy);
        if (parsed != IXO_OK) memFree(copy);
        return parsed;
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetDocumentTermsToStructure(IXO* ixo, int32_t docNumber,
                                                       const char* text, int32_t withOccurrences,
                                                       IxoTermList* list) {
    if (list) *list = IxoTermList{};
    if (anyNull({ixo, text, list})) return IXO_ERR_PARAMETER;
    try {
        std::string request = withUserParameters(
            *ixo, "/qmethod=e&idnum=" + std::to_string(docNumber) + "&querytext=" + text);
        if (withOccurrences) request += "&xoptions=occ";
        std::string reply;
        const int32_t rc = sendRequest(ixo, IXO_QUERY_PORT_SELECTOR, request, nullptr, reply);
        if (rc != IXO_OK) return rc;
        return parseTerms(reply, 1, list);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetSummaryToFile(IXO* ixo, const char* text, const char* document,
                                            int32_t useReferences, const char* extraOptions,
                                            const char* fileName) {
    if (anyNull({ixo, text, fileName})) return IXO_ERR_PARAMETER;
    try {
        return toFile(ixo, summaryRequest(text, document, useReferences, extraOptions), fileName);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetSummaryToBuffer(IXO* ixo, const char* text, const char* document,
                                              int32_t useReferences, const char* extraOptions,
                                              char* buffer, int32_t size) {
    if (anyNull({ixo, text, buffer}) || size < 1) return IXO_ERR_PARAMETER;
    buffer[0] = '\0';
    try {
        return toBuffer(ixo, summaryRequest(text, document, useReferences, extraOptions), buffer,
                        size);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT char* ixoCreateContentString(const char* document, int32_t upperMethod) {
    if (!document) return nullptr;
    try {
        const std::string request = contentRequest(document, upperMethod);
        return memStrNDup(request.data(), request.size());
    } catch (...) {
        return nullptr;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetContentToFile(IXO* ixo, const char* document, int32_t upperMethod,
                                            const char* fileName) {
    if (anyNull({ixo, document, fileName})) return IXO_ERR_PARAMETER;
    try {
        return toFile(ixo, withUserParameters(*ixo, contentRequest(document, upperMethod)),
                      fileName);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetContentToBuffer(IXO* ixo, const char* document, int32_t upperMethod,
                                              char* buffer, int32_t size) {
    if (anyNull({ixo, document, buffer}) || size < 1) return IXO_ERR_PARAMETER;
    buffer[0] = '\0';
    try {
        return toBuffer(ixo, withUserParameters(*ixo, contentRequest(document, upperMethod)),
                        buffer, size);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetContentToStructure(IXO* ixo, const char* document,
                                                 int32_t upperMethod, ContentRecord** record) {
    if (record) *record = nullptr;
    if (anyNull({ixo, document, record})) return IXO_ERR_PARAMETER;
    try {
        // The whole reply is read, however long the document is.
        std::string reply;
        const int32_t rc = sendRequest(
            ixo, IXO_QUERY_PORT_SELECTOR,
            withUserParameters(*ixo, contentRequest(document, upperMethod)), nullptr, reply);
        if (rc != IXO_OK) return rc;
        if (reply.empty()) return IXO_ERR_PARAMETER;
        if (reply.find("#IXO") == std::string::npos) return IXO_ERR_MEMORY;
        if (ixoContentTextToRecord(reply.data(), reply.size(), record) != 1) {
            *record = nullptr;
            return IXO_ERR_MEMORY;
        }
        return IXO_OK;
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetTSEQPrimitiveToStructure(IXO* ixo, const char* text, int32_t number,
                                                       IxoTermList* list) {
    if (list) *list = IxoTermList{};
    if (anyNull({ixo, text, list})) return IXO_ERR_PARAMETER;
    try {
        std::string reply;
        const int32_t rc = sendThroughCache(
            ixo, "/qmethod=a&querytext=" + std::string(text) + "&idnum=" + std::to_string(number),
            reply);
        if (rc != IXO_OK) return rc;
        return parseTerms(reply, 1, list);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetTSEQPrimitiveToBuffer(IXO* ixo, const char* text, int32_t number,
                                                    char* buffer, int32_t size) {
    if (anyNull({ixo, text, buffer}) || size < 1) return IXO_ERR_PARAMETER;
    buffer[0] = '\0';
    try {
        return toBuffer(
            ixo, "/qmethod=a&querytext=" + std::string(text) + "&idnum=" + std::to_string(number),
            buffer, size);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoCheckBatchForTitleDuplicates(IXO* ixo, const char* title,
                                                        const char* const* titles, int32_t count,
                                                        IxoQueryResult* result) {
    if (result) *result = IxoQueryResult{};
    if (anyNull({ixo, title, titles, result}) || count < 1) return IXO_ERR_PARAMETER;
    for (int32_t i = 0; i < count; ++i) {
        if (!titles[i]) return IXO_ERR_PARAMETER;
    }
    try {
        // All words in one query text; ends[k] is where title k's words end (title 0 is
        // the main title).
        std::vector<std::string> words;
        std::vector<size_t> ends;
        std::vector<std::string> mainWords = titleWords(title);
        words = mainWords;
        ends.push_back(words.size());
        for (int32_t i = 0; i < count; ++i) {
            for (auto& w : titleWords(titles[i])) words.push_back(std::move(w));
            ends.push_back(words.size());
        }

        // The server's figure for each word, by position when the reply lists every word,
        // else by its (case-blind) text; words it does not list have none.
        std::vector<std::optional<int32_t>> figures(words.size());
        if (!words.empty()) {
            std::string query;
            for (const auto& w : words) query += (query.empty() ? "" : "+") + w;
            IxoTermList list{};
            const int32_t rc = ixoGetTSEQPrimitiveToStructure(ixo, query.c_str(), 0, &list);
            if (rc != IXO_OK && rc != IXO_ERR_FILE) return rc;
            if (rc == IXO_OK) {
                if (static_cast<size_t>(list.count) == words.size()) {
                    for (size_t k = 0; k < words.size(); ++k) figures[k] = list.terms[k].weight;
                } else {
                    std::unordered_map<std::string, int32_t> byTerm;
                    for (int32_t k = list.count - 1; k >= 0; --k) {
                        byTerm[upper(list.terms[k].term)] = list.terms[k].weight;
                    }
                    for (size_t k = 0; k < words.size(); ++k) {
                        auto found = byTerm.find(upper(words[k]));
                        if (found != byTerm.end()) figures[k] = found->second;
                    }
                }
                ixoDestroyTermList(&list);
            }
        }

        std::vector<std::string> upperMain;
        for (const auto& w : mainWords) upperMain.push_back(upper(w));
        std::vector<std::string> names;
        std::vector<int32_t> weights;
        std::vector<std::pair<int32_t, int32_t>> counts;
        for (int32_t i = 0; i < count; ++i) {
            const size_t from = ends[i], to = ends[i + 1];
            std::optional<int32_t> lowest;
            int32_t shared = 0;
            for (size_t k = from; k < to; ++k) {
                if (figures[k] && (!lowest || *figures[k] < *lowest)) lowest = figures[k];
                if (std::find(upperMain.begin(), upperMain.end(), upper(words[k])) !=
                    upperMain.end()) {
                    ++shared;
                }
            }
            names.push_back(oneLine(titles[i]));
            weights.push_back(lowest ? *lowest : -1);
            counts.emplace_back(static_cast<int32_t>(to - from), shared);
        }
        return buildTitleResult(names, weights, counts, result);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

}  // extern "C"
