// Query and suggestion requests: the request grammar's parameter builders, the query
// and suggestion calls in their structure, file and buffer forms, batches, hit counts
// and document sections.
#include "ixo/ixoquery.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ixo/ixoapi.h"
#include "ixo_cache.h"
#include "ixo_results.h"
#include "ixo_text.h"
#include "support/lang2util.h"
#include "support/percent.h"

namespace ixo_query {
namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of needle in text without regard to (ASCII) case, or npos.
size_t findCaseBlind(std::string_view text, std::string_view needle, size_t from = 0) {
    if (needle.size() > text.size()) return std::string_view::npos;
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && lower(text[i + k]) == lower(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads a run of digits at text[i], advancing i; saturates at a large bound so no
// input can overflow.
int64_t readDigits(std::string_view text, size_t& i) {
    int64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        if (value < 100000000000LL) value = value * 10 + (text[i] - '0');
    }
    return value;
}

int32_t clampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// A signed whole number at the start of text ('+' skipped, '-' negates), clamped.
int32_t readInteger(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const int64_t value = readDigits(text, i);
    return clampToInt32(negative ? -value : value);
}

std::string number(int64_t value) {
    return std::to_string(value);
}

int32_t resultsWanted(int32_t numResults) {
    return numResults < 1 ? 25 : numResults;
}

}  // namespace

std::string fieldsParameter(std::string_view fields, std::string_view fieldBool) {
    if (fields.empty()) return {};
    std::string copy(fields);
    for (size_t i = 0; i + 1 < copy.size(); ++i) {
        if (copy[i] != '+') continue;
        std::string_view next = std::string_view(copy).substr(i + 1, 5);
        if (findCaseBlind(next, "field") == 0 || findCaseBlind(next, "fname") == 0) copy[i] = '&';
    }
    std::string out = "&" + copy;
    if (!fieldBool.empty()) {
        std::string condition(fieldBool);
        for (size_t at; (at = findCaseBlind(condition, "field")) != std::string::npos;) {
            condition.erase(at, 5);
        }
        out += "&fieldbool=" + condition;
    }
    return out;
}

std::string docNumberParameter(int32_t docNumber) {
    return docNumber != 0 ? "&idnum=" + number(docNumber) : std::string();
}

std::string optionsParameter(std::string_view extra, int32_t withSummary, int32_t useUrl,
                             int32_t include, int32_t methodArgument) {
    if (extra.empty() && withSummary != 1 && useUrl != 1 && include != 0 && methodArgument < 4) {
        return {};
    }
    std::string out = "&xoptions=";
    if (!extra.empty()) {
        out += extra;
        out += '+';
    }
    if (withSummary == 1) out += "withsummary+";
    if (useUrl == 1) out += "useurl+";
    if (include == 0) out += "include+";
    if (methodArgument & IXO_METHOD_BOOLEAN) out += "boolean+";
    if (methodArgument & IXO_METHOD_FULLTEXT) out += "full+";
    if (methodArgument & IXO_METHOD_SORTDATE) out += "sortdate+";
    return out;
}

int32_t dayValue(std::string_view text, std::time_t now) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '+') {
        ++i;
    } else if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    const int64_t first = readDigits(text, i);
    if (i >= text.size() || text[i] != '/') return clampToInt32(negative ? -first : first);

    // day/month/year
    ++i;
    const int64_t month = readDigits(text, i);
    int64_t year = 0;
    if (i < text.size() && text[i] == '/') {
        ++i;
        year = readDigits(text, i);
    }
    if (year > 1900) year -= 1900;
    std::tm date{};
    date.tm_mday = static_cast<int>(std::min<int64_t>(first, 100000));
    date.tm_mon = static_cast<int>(std::min<int64_t>(month, 100000)) - 1;
    date.tm_year = static_cast<int>(std::min<int64_t>(year, 100000));
    date.tm_isdst = -1;
    const std::time_t midnight = std::mktime(&date);
    if (midnight == static_cast<std::time_t>(-1)) return 0;
    if (midnight > now) return -1;
    return clampToInt32((static_cast<int64_t>(now) - static_cast<int64_t>(midnight)) / 86400);
}

std::string datesParameter(std::string_view dates, std::time_t now) {
    if (dates.empty()) return "&fromdate=-1&todate=0";
    std::string out;
    if (size_t at = findCaseBlind(dates, "from="); at != std::string_view::npos) {
        out += "&fromdate=" + number(dayValue(dates.substr(at + 5), now));
    } else {
        out += "&fromdate=-1";
    }
    if (size_t at = findCaseBlind(dates, "to="); at != std::string_view::npos) {
        int32_t days = dayValue(dates.substr(at + 3), now);
        out += "&todate=" + number(days == -1 ? 0 : days);
    } else {
        out += "&todate=0";
    }
    return out;
}

std::string databasesParameter(std::string_view databases) {
    // The value ends at white space: a blank would end the request line early.
    auto valueAfter = [&](size_t start) {
        size_t end = start;
        while (end < databases.size() && !isBlank(databases[end])) ++end;
        return std::string(databases.substr(start, end - start));
    };
    if (size_t at = findCaseBlind(databases, "numbers="); at != std::string_view::npos) {
        return "&attachto=" + valueAfter(at + 8);
    }
    if (size_t at = findCaseBlind(databases, "names="); at != std::string_view::npos) {
        return "&attachtoname=" + valueAfter(at + 6);
    }
    return "&attachto=-1";
}

std::string userParameters(const IXO& ixo) {
    auto field = [](const char* text, size_t size) {
        return std::string_view(text, strnlen(text, size));
    };
    std::string out;
    const std::pair<const char*, std::string_view> parts[] = {
        {"&user=", field(ixo.user, sizeof ixo.user)},
        {"&pass=", field(ixo.password, sizeof ixo.password)},
        {"&group=", field(ixo.group, sizeof ixo.group)},
        {"&domain=", field(ixo.domain, sizeof ixo.domain)},
    };
    for (const auto& [name, value] : parts) {
        if (value.empty()) continue;
        out += name;
        out += encodeParameterValue(value);
    }
    return out;
}

std::string expandTerms(std::string_view query) {
    if (query.find('+') == std::string_view::npos) return std::string(query);
    std::string out;
    std::string_view previous;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('+', start);
        if (end == std::string_view::npos) end = query.size();
        std::string_view term = query.substr(start, end - start);
        start = end + 1;
        if (term.empty()) continue;
        if (previous.empty()) {
            out += term;
        } else {
            out += '+';
            out += term;
            out += '+';
            out += previous;
            out += term;
        }
        previous = term;
    }
    return out;
}

namespace {

// The parameters every query and suggestion request carries after its query text, in
// the order the server reads them; `options` is the ready "&xoptions=" part.
std::string requestParameters(std::string_view fields, std::string_view fieldBool,
                              int32_t docNumber, const std::string& options, std::string_view dates,
                              std::string_view databases, std::time_t now) {
    std::string out = fieldsParameter(fields, fieldBool);
    out += docNumberParameter(docNumber);
    out += options;
    out += datesParameter(dates, now);
    out += databasesParameter(databases);
    return out;
}

}  // namespace

std::string queryRequest(const IXO& ixo, int32_t method, std::string_view queryText,
                         std::string_view fields, std::string_view fieldBool,
                         std::string_view databases, std::string_view dates, int32_t numResults,
                         int32_t docNumber, int32_t withSummary, std::time_t now) {
    std::string_view query = queryText;
    std::string_view extra;
    if (size_t at = queryText.find("&xoptions="); at != std::string_view::npos) {
        query = queryText.substr(0, at);
        extra = queryText.substr(at + 10);
    }
    const std::string count = number(resultsWanted(numResults));
    const std::string counts = "+QNUM=" + count + "&qnum=" + count;
    std::string request;
    switch (method & 7) {
        case IXO_METHOD_FULL:
            request = "/qmethod=F&querytext=" + std::string(query) + counts;
            break;
        case IXO_METHOD_EXPANDED:
            request = "/qmethod=q&querytext=" + expandTerms(query) + counts;
            break;
        case IXO_METHOD_G_LOWER:
            request = "/qmethod=g&querytext=" + std::string(query);
            break;
        case IXO_METHOD_G_UPPER:
            request = "/qmethod=G&querytext=" + std::string(query);
            break;
        default:
            request = "/qmethod=q&querytext=" + std::string(query) + counts;
            break;
    }
    request += requestParameters(fields, fieldBool, docNumber,
                                 optionsParameter(extra, withSummary, 0, 1, method), dates,
                                 databases, now);
    request += userParameters(ixo);
    return request;
}

std::string suggestMoreRequest(const IXO& ixo, int32_t useUrl, std::string_view text,
                               std::string_view fields, std::string_view fieldBool,
                               std::string_view databases, std::string_view dates,
                               int32_t numResults, int32_t docNumber, int32_t withSummary,
                               int32_t include, std::time_t now) {
    const std::string count = number(resultsWanted(numResults));
    std::string request =
        "/qmethod=s&querytext=" + std::string(text) + "+QNUM=" + count + "&qnum=" + count;
    request += requestParameters(fields, fieldBool, docNumber,
                                 optionsParameter({}, withSummary, useUrl, include, 0), dates,
                                 databases, now);
    request += userParameters(ixo);
    return request;
}

std::string suggestTerms(const char* text) {
    struct ListDeleter {
        void operator()(WordList* list) const { ixoWordListDestroy(&list); }
    };
    using List = std::unique_ptr<WordList, ListDeleter>;
    struct TextDeleter {
        void operator()(char* text) const { memFree(text); }
    };

    List all(ixoWordListCreate());
    List kept(ixoWordListCreate());
    if (!all || !kept) throw std::bad_alloc();
    const int32_t added = ixoWordListAddText(all.get(), text, ixoSuggestSeparators());
    if (added == IXO_ERR_MEMORY) throw std::bad_alloc();
    for (int32_t i = 0; i < all->count; ++i) {
        std::string upper(all->words[i]);
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        if (lang2IsStopWord(upper.c_str()) == 1) continue;
        if (ixoWordListAddWord(kept.get(), all->words[i]) != IXO_OK) throw std::bad_alloc();
    }
    std::unique_ptr<char, TextDeleter> built(
        ixoWordListBuildQuery(kept.get(), "+", IXO_WORDS_SORT_UNIQUE));
    if (!built) throw std::bad_alloc();
    return std::string(built.get());
}

std::string suggestOnTextRequest(const char* text, std::string_view fields,
                                 std::string_view fieldBool, std::string_view databases,
                                 std::string_view dates, int32_t numResults, int32_t docNumber,
                                 int32_t withSummary, int32_t secondDocNumber, std::time_t now) {
    const std::string terms = suggestTerms(text);
    if (terms.empty()) return {};
    std::string request = "/qmethod=E&querytext=" + terms + "&qnum=" + number(numResults) +
                          "&idnum=" + number(secondDocNumber);
    request += requestParameters(fields, fieldBool, docNumber,
                                 optionsParameter({}, withSummary, 0, 1, 0), dates, databases, now);
    return request;
}

}  // namespace ixo_query

namespace {

using namespace ixo_query;

void emptyResult(IxoQueryResult* result) {
    if (result) *result = IxoQueryResult{};
}

// The reply to a request: from the cache when it holds one, else from the query port,
// stored in the cache on success.
int32_t fetchThroughCache(IXO* ixo, const std::string& request, char** reply) {
    *reply = nullptr;
    if (ixoCacheLookup(ixo, request.c_str(), reply) == 1) return IXO_OK;
    const int32_t rc =
        ixoRequestToDynBuffer2(ixo, IXO_QUERY_PORT_SELECTOR, request.c_str(), nullptr, reply);
    if (rc != IXO_OK) return rc;
    if (ixo->clientCache) ixoCacheStore(ixo, request.c_str(), *reply);
    return IXO_OK;
}

// Parses a reply into result, which takes it over. A reply without hits is success
// with an empty result; on failure the reply is released.
int32_t parseInto(IxoQueryResult* result, char* reply, int32_t fullForm) {
    const int32_t rc = ixoGetResultsFromBuffer(result, reply, fullForm == 1 ? 1 : 0);
    if (rc == IXO_OK) return IXO_OK;
    memFree(reply);
    emptyResult(result);
    return rc == IXO_ERR_PARAMETER ? IXO_OK : rc;
}

// The integer after the first "totalhits=" of a reply; 0 when there is none.
int32_t totalFromText(const char* text) {
    const char* at = std::strstr(text, "totalhits=");
    return at ? readInteger(std::string_view(at + 10)) : 0;
}

// Sends a request and parses its reply, reduced to the short form unless fullForm is 1.
// When total is not null it gets the reply's "totalhits=" count, read before the short
// form drops that line.
int32_t requestToStructure(IXO* ixo, const std::string& request, int32_t fullForm,
                           IxoQueryResult* result, int32_t* total = nullptr) {
    if (request.empty()) return IXO_ERR_MEMORY;
    char* reply = nullptr;
    const int32_t rc = fetchThroughCache(ixo, request, &reply);
    if (rc != IXO_OK) return rc;
    const int32_t found = total ? totalFromText(reply) : 0;
    if (fullForm != 1) ixoSimpleOutputFilterText(reply);
    const int32_t parsed = parseInto(result, reply, fullForm);
    if (parsed == IXO_OK && total) *total = found;
    return parsed;
}

int32_t requestToFile(IXO* ixo, const std::string& request, int32_t filter, const char* fileName) {
    const int32_t rc = ixoRequestToFile(ixo, ixo->queryPort, request.c_str(), nullptr, fileName);
    if (rc != IXO_OK) return rc;
    if (filter && ixoSimpleOutputFilterFile(fileName) != IXO_OK) return IXO_ERR_FILE;
    return IXO_OK;
}

int32_t requestToBuffer(IXO* ixo, const std::string& request, int32_t filter, char* buffer,
                        int32_t bufferSize) {
    const int32_t rc = ixoRequestToBuffer(ixo, IXO_QUERY_PORT_SELECTOR, request.c_str(), nullptr,
                                          buffer, bufferSize);
    if (rc == IXO_OK && filter) ixoSimpleOutputFilterBuffer(buffer, bufferSize);
    buffer[bufferSize - 1] = '\0';
    return rc;
}

bool anyNull(std::initializer_list<const void*> pointers) {
    return std::any_of(pointers.begin(), pointers.end(), [](const void* p) { return !p; });
}

// The query text of a batch: the restricting documents and the page's start.
std::string batchText(const char* text, int32_t start, const int32_t* onlyDocs, int32_t docCount,
                      int32_t wantTotal) {
    std::string out(text);
    if (onlyDocs && docCount > 0) {
        out += "&onlymatch=";
        for (int32_t i = 0; i < docCount; ++i) out += std::to_string(onlyDocs[i]) + "+";
    }
    out += "&xoptions=start" + std::to_string(start);
    if (wantTotal) out += "+inchitcount";
    return out;
}

int32_t batchResults(int32_t start, int32_t count) {
    return clampToInt32(static_cast<int64_t>(start) + count);
}

// Builds the request of an ixoDoQuery call and hands it to send (structure, file or
// buffer); a failed allocation on the way is IXO_ERR_MEMORY.
template <typename Send>
int32_t sendQuery(IXO* ixo, int32_t method, const char* queryText, const char* fields,
                  const char* fieldBool, const char* databases, const char* dates,
                  int32_t numResults, int32_t docNumber, int32_t withSummary, Send send) {
    try {
        return send(queryRequest(*ixo, method, queryText, fields, fieldBool, databases, dates,
                                 numResults, docNumber, withSummary, std::time(nullptr)));
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

// The same for the ixoSuggestMore calls.
template <typename Send>
int32_t sendSuggestMore(IXO* ixo, int32_t useUrl, const char* text, const char* fields,
                        const char* fieldBool, const char* databases, const char* dates,
                        int32_t numResults, int32_t docNumber, int32_t withSummary, int32_t include,
                        Send send) {
    try {
        return send(suggestMoreRequest(*ixo, useUrl, text, fields, fieldBool, databases, dates,
                                       numResults, docNumber, withSummary, include,
                                       std::time(nullptr)));
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int32_t ixoDoHttpQueryToStructure(IXO* ixo, const char* request,
                                                  IxoQueryResult* result) {
    if (anyNull({ixo, request, result})) return IXO_ERR_PARAMETER;
    try {
        std::string full = std::string(request) + userParameters(*ixo);
        emptyResult(result);
        return requestToStructure(ixo, full, 1, result);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoDoQueryToStructure(IXO* ixo, int32_t method, const char* queryText,
                                              const char* fields, const char* fieldBool,
                                              const char* databases, const char* dates,
                                              int32_t numResults, int32_t fullForm,
                                              int32_t docNumber, int32_t withSummary,
                                              IxoQueryResult* result) {
    emptyResult(result);
    if (anyNull({ixo, queryText, fields, fieldBool, databases, dates, result})) {
        return IXO_ERR_PARAMETER;
    }
    return sendQuery(ixo, method, queryText, fields, fieldBool, databases, dates, numResults,
                     docNumber, withSummary, [&](const std::string& request) {
                         return requestToStructure(ixo, request, fullForm, result);
                     });
}

SAPIOLUX_EXPORT int32_t ixoDoQueryToFile(IXO* ixo, int32_t method, const char* queryText,
                                         const char* fields, const char* fieldBool,
                                         const char* databases, const char* dates,
                                         int32_t numResults, int32_t fullForm, int32_t docNumber,
                                         int32_t withSummary, const char* fileName) {
    if (anyNull({ixo, queryText, fields, fieldBool, databases, dates, fileName})) {
        return IXO_ERR_PARAMETER;
    }
    return sendQuery(ixo, method, queryText, fields, fieldBool, databases, dates, numResults,
                     docNumber, withSummary, [&](const std::string& request) {
                         return requestToFile(ixo, request, fullForm != 1, fileName);
                     });
}

SAPIOLUX_EXPORT int32_t ixoDoQueryToBuffer(IXO* ixo, int32_t method, const char* queryText,
                                           const char* fields, const char* fieldBool,
                                           const char* databases, const char* dates,
                                           int32_t numResults, int32_t fullForm, int32_t docNumber,
                                           int32_t withSummary, char* buffer, int32_t bufferSize) {
    if (anyNull({ixo, queryText, fields, fieldBool, databases, dates, buffer}) || bufferSize < 1) {
        return IXO_ERR_PARAMETER;
    }
    buffer[0] = '\0';
    return sendQuery(ixo, method, queryText, fields, fieldBool, databases, dates, numResults,
                     docNumber, withSummary, [&](const std::string& request) {
                         return requestToBuffer(ixo, request, fullForm != 1, buffer, bufferSize);
                     });
}

SAPIOLUX_EXPORT int32_t ixoSuggestOnTextToStructure(IXO* ixo, const char* text, const char* fields,
                                                    const char* fieldBool, const char* databases,
                                                    const char* dates, int32_t numResults,
                                                    int32_t docNumber, int32_t withSummary,
                                                    int32_t secondDocNumber,
                                                    IxoQueryResult* result) {
    emptyResult(result);
    if (anyNull({ixo, text, fields, fieldBool, databases, dates, result})) {
        return IXO_ERR_PARAMETER;
    }
    try {
        const std::string request =
            suggestOnTextRequest(text, fields, fieldBool, databases, dates, numResults, docNumber,
                                 withSummary, secondDocNumber, std::time(nullptr));
        if (request.empty()) return IXO_ERR_MEMORY;
        return ixoDoHttpQueryToStructure(ixo, request.c_str(), result);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoSuggestMoreToStructure(IXO* ixo, int32_t useUrl, const char* text,
                                                  const char* fields, const char* fieldBool,
                                                  const char* databases, const char* dates,
                                                  int32_t numResults, int32_t docNumber,
                                                  int32_t withSummary, int32_t include,
                                                  IxoQueryResult* result) {
    emptyResult(result);
    if (anyNull({ixo, text, fields, fieldBool, databases, dates, result})) {
        return IXO_ERR_PARAMETER;
    }
    return sendSuggestMore(ixo, useUrl, text, fields, fieldBool, databases, dates, numResults,
                           docNumber, withSummary, include, [&](const std::string& request) {
                               return requestToStructure(ixo, request, 1, result);
                           });
}

SAPIOLUX_EXPORT int32_t ixoSuggestMoreToFile(IXO* ixo, int32_t useUrl, const char* text,
                                             const char* fields, const char* fieldBool,
                                             const char* databases, const char* dates,
                                             int32_t numResults, int32_t docNumber,
                                             int32_t withSummary, int32_t include,
                                             const char* fileName) {
    if (anyNull({ixo, text, fields, fieldBool, databases, dates, fileName})) {
        return IXO_ERR_PARAMETER;
    }
    return sendSuggestMore(ixo, useUrl, text, fields, fieldBool, databases, dates, numResults,
                           docNumber, withSummary, include, [&](const std::string& request) {
                               return requestToFile(ixo, request, 0, fileName);
                           });
}

SAPIOLUX_EXPORT int32_t ixoSuggestMoreToBuffer(IXO* ixo, int32_t useUrl, const char* text,
                                               const char* fields, const char* fieldBool,
                                               const char* databases, const char* dates,
                                               int32_t numResults, int32_t docNumber,
                                               int32_t withSummary, int32_t include, char* buffer,
                                               int32_t bufferSize) {
    if (anyNull({ixo, text, fields, fieldBool, databases, dates, buffer}) || bufferSize < 1) {
        return IXO_ERR_PARAMETER;
    }
    buffer[0] = '\0';
    return sendSuggestMore(ixo, useUrl, text, fields, fieldBool, databases, dates, numResults,
                           docNumber, withSummary, include, [&](const std::string& request) {
                               return requestToBuffer(ixo, request, 0, buffer, bufferSize);
                           });
}

SAPIOLUX_EXPORT int32_t ixoDoBatchSuggestToStructure(
    IXO* ixo, int32_t useUrl, const char* text, const char* fields, const char* fieldBool,
    const char* databases, const char* dates, int32_t start, int32_t count, const int32_t* onlyDocs,
    int32_t docCount, int32_t wantTotal, int32_t docNumber, int32_t withSummary,
    IxoQueryResult* result, int32_t* total) {
    if (total) *total = 0;
    emptyResult(result);
    if (anyNull({ixo, text, result}) || (docCount > 0 && !onlyDocs)) return IXO_ERR_PARAMETER;
    try {
        if (anyNull({fields, fieldBool, databases, dates})) return IXO_ERR_PARAMETER;
        const std::string query = batchText(text, start, onlyDocs, docCount, wantTotal);
        return sendSuggestMore(ixo, useUrl, query.c_str(), fields, fieldBool, databases, dates,
                               batchResults(start, count), docNumber, withSummary, 1,
                               [&](const std::string& request) {
                                   return requestToStructure(ixo, request, 1, result, total);
                               });
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoDoBatchQueryToStructure(
    IXO* ixo, int32_t method, const char* queryText, const char* fields, const char* fieldBool,
    const char* databases, const char* dates, int32_t start, int32_t count, int32_t fullForm,
    const int32_t* onlyDocs, int32_t docCount, int32_t wantTotal, int32_t docNumber,
    int32_t withSummary, IxoQueryResult* result, int32_t* total) {
    if (total) *total = 0;
    emptyResult(result);
    if (anyNull({ixo, queryText, result}) || (docCount > 0 && !onlyDocs)) {
        return IXO_ERR_PARAMETER;
    }
    try {
        if (anyNull({fields, fieldBool, databases, dates})) return IXO_ERR_PARAMETER;
        const std::string query = batchText(queryText, start, onlyDocs, docCount, wantTotal);
        // The total is read from the reply before the short form drops its line.
        return sendQuery(ixo, method, query.c_str(), fields, fieldBool, databases, dates,
                         batchResults(start, count), docNumber, withSummary,
                         [&](const std::string& request) {
                             return requestToStructure(ixo, request, fullForm, result, total);
                         });
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetNumHitsForQuery(IXO* ixo, int32_t method, const char* queryText,
                                              const char* fields, const char* fieldBool,
                                              const char* databases, const char* dates,
                                              int32_t* numHits) {
    if (numHits) *numHits = 0;
    if (anyNull({ixo, queryText, fields, fieldBool, databases, dates, numHits})) {
        return IXO_ERR_PARAMETER;
    }
    try {
        const std::string query = std::string(queryText) + "&xoptions=counthits";
        const std::string request = queryRequest(*ixo, method, query, fields, fieldBool, databases,
                                                 dates, 0, 0, 0, std::time(nullptr));
        char* reply = nullptr;
        const int32_t rc =
            ixoRequestToDynBuffer2(ixo, IXO_QUERY_PORT_SELECTOR, request.c_str(), nullptr, &reply);
        if (rc != IXO_OK) return rc;
        *numHits = ixoGetResultsNumber(reply);
        memFree(reply);
        return IXO_OK;
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetSectionsToStructure(IXO* ixo, const char* reference,
                                                  const char* databases, int32_t fullForm,
                                                  int32_t withSummary, IxoQueryResult* result) {
    emptyResult(result);
    if (anyNull({ixo, reference, databases, result})) return IXO_ERR_PARAMETER;
    try {
        std::vector<char> query(2 * std::strlen(reference) + 64);
        ixoProcessQueryText(reference, query.data(), static_cast<int32_t>(query.size()));
        const std::string fields = std::string("fnameIXOREFERENCE=") + reference;
        return ixoDoQueryToStructure(ixo, IXO_METHOD_QUERY, query.data(), fields.c_str(), "",
                                     databases, "", 9999, fullForm, 0, withSummary, result);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

}  // extern "C"
