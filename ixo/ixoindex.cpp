// Index and administration requests: adding documents by location or as IDX text,
// deleting, field and term changes, and the server's maintenance commands, plus the
// indexer status, the document-number look-up and the thesaurus-widened query.
#include "ixo/ixoindex.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ixo/ixoapi.h"
#include "ixo/ixoinfo.h"
#include "ixo/ixoquery.h"
#include "ixo_info.h"
#include "ixo_query.h"
#include "support/percent.h"

namespace ixo_index {
namespace {

using ixo_info::oneLine;

bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool hasText(const char* text) {
    return text && text[0] != '\0';
}

}  // namespace

std::string percentEncode(std::string_view text) {
    return percentEncodeIf(text, [](unsigned char c) { return !isAlnum(static_cast<char>(c)); });
}

std::string addRequest(std::string_view location, const char* killDuplicates, const char* dbName) {
    std::string request = "/IXOADD?";
    request += location.find(' ') != std::string_view::npos ? percentEncode(location)
                                                            : std::string(location);
    if (hasText(killDuplicates)) request += std::string("&KILLDUPLICATES=") + killDuplicates;
    if (dbName) request += std::string("&IXODBNAME=") + dbName;
    return request;
}

std::string addDataBody(std::string_view idxText, const char* extra) {
    std::string body(idxText);
    body += "\n#IXOENDDATA";
    if (extra) body += extra;
    body += '\n';
    return body;
}

std::string deleteRequest(int32_t mode, std::string_view text) {
    switch (mode) {
        case IXO_DELETE_DOCUMENTS:
            return "/IXODELETEDOC?docs=" + std::string(text);
        case IXO_DELETE_REFERENCES: {
            // The database parameter follows the references with '+'; the server needs
            // it as a parameter of its own.
            std::string docs(text);
            size_t at = docs.find("+dbname=");
            if (at == std::string::npos) at = docs.find("+dbnum=");
            if (at != std::string::npos) docs[at] = '&';
            return "/IXODELETEREF?docs=" + docs;
        }
        case IXO_DELETE_DATABASE:
            return "/IXODELDBASE?" + std::string(text);
        case IXO_REMOVE_DATABASE:
            return "/IXOREMOVEDBASE?" + std::string(text);
        default:
            return {};
    }
}

std::string replaceBody(const IxoFieldChange* changes, int32_t count) {
    std::string body;
    for (int32_t i = 0; i < count; ++i) {
        const IxoFieldChange& c = changes[i];
        if (hasText(c.reference)) {
            body += "#IXODOCREF " + oneLine(c.reference) + "\n";
        } else {
            body += "#IXODOCID " + std::to_string(c.docId) + "\n";
        }
        body += "#IXOFIELDNAME " + oneLine(c.fieldName ? c.fieldName : "") + "\n";
        body += "#IXOFIELDVALUE " + oneLine(c.value ? c.value : "") + "\n";
    }
    body += "#IXOENDDATA\n";
    return body;
}

std::string termsBody(const IxoTermChange* changes, int32_t count, char sign) {
    std::string body;
    const char* previous = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const IxoTermChange& c = changes[i];
        if (!previous || std::strcmp(previous, c.term) != 0) {
            body += "#IXOTERM " + oneLine(std::string_view(c.term).substr(0, 999)) + "\n";
        }
        previous = c.term;
        body += sign;
        if (hasText(c.reference)) {
            body += "R" + oneLine(c.reference) + "\n";
        } else {
            body += std::to_string(c.docId) + "\n";
        }
    }
    body += "#IXOENDDATA\n";
    return body;
}

std::string thesaurusTerms(const IxoTermList& list, int32_t limit) {
    std::string out;
    int32_t used = 0;
    for (int32_t i = 0; i < list.count && used < limit; ++i) {
        const char* term = list.terms[i].term;
        if (!term || term[0] == '\0' || std::atol(term) != 0) continue;
        out += std::string(term) + "~[" + std::to_string(list.terms[i].weight) + "]+";
        ++used;
    }
    return out;
}

}  // namespace ixo_index

namespace {

using namespace ixo_index;
using ixo_info::copyToBuffer;
using ixo_info::sendRequest;

bool anyNull(std::initializer_list<const void*> pointers) {
    return std::any_of(pointers.begin(), pointers.end(), [](const void* p) { return !p; });
}

bool badBuffer(char* buffer, int32_t size) {
    return !buffer || size < 1;
}

// True when the server's reply says it refused the command ("ERROR: ..." on its
// first line).
bool refusedReply(std::string_view reply) {
    const size_t start = reply.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    const std::string_view head = reply.substr(start, 5);
    return head.size() == 5 && std::equal(head.begin(), head.end(), "ERROR", [](char a, char b) {
               return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
           });
}

// Sends an index command. A command the server refused, by an HTTP status outside 2xx
// or by an "ERROR" reply, fails with -11 like an add the server did not confirm; reply
// then holds the server's reason (when it gave one) for the caller to show.
int32_t sendCommand(IXO* ixo, int32_t selector, const std::string& request, const char* body,
                    std::string& reply) {
    reply.clear();
    char* text = nullptr;
    int32_t status = 0;
    const int32_t rc = ixoRequestWithStatus(ixo, selector, request.c_str(), body, &text, &status);
    if (text) {
        reply.assign(text);
        memFree(text);
    }
    if (ixoStatusIsError(status)) {
        ixoLogStatus(ixo, selector, status);
        return IXO_ERR_INSTRUCTION;
    }
    if (rc != IXO_OK) return rc;
    return refusedReply(reply) ? IXO_ERR_INSTRUCTION : IXO_OK;
}

// Sends a command and copies its reply (also a refusal's) into the caller's buffer.
int32_t commandToBuffer(IXO* ixo, int32_t selector, const std::string& request, const char* body,
                        char* buffer, int32_t size) {
    buffer[0] = '\0';
    std::string reply;
    const int32_t rc = sendCommand(ixo, selector, request, body, reply);
    copyToBuffer(reply, buffer, size);
    return rc;
}

// An add command: the reply goes into the buffer, and only a reply holding "INDEXID"
// counts as done.
int32_t addToBuffer(IXO* ixo, const std::string& request, const char* body, char* buffer,
                    int32_t size) {
    buffer[0] = '\0';
    std::string reply;
    const int32_t rc = sendCommand(ixo, IXO_INDEX_PORT_SELECTOR, request, body, reply);
    copyToBuffer(reply, buffer, size);
    if (rc != IXO_OK) return rc;
    return reply.find("INDEXID") != std::string::npos ? IXO_OK : IXO_ERR_INSTRUCTION;
}

// Sends a command and hands its whole reply back (when reply is not null), also the
// reply of a refused command.
int32_t commandToReply(IXO* ixo, int32_t selector, const std::string& request, const char* body,
                       char** reply) {
    if (reply) *reply = nullptr;
    std::string text;
    const int32_t rc = sendCommand(ixo, selector, request, body, text);
    if (!reply || (rc != IXO_OK && text.empty())) return rc;
    *reply = memStrNDup(text.data(), text.size());
    if (!*reply) return rc == IXO_OK ? IXO_ERR_MEMORY : rc;
    return rc;
}

// The handle's user parameters: every index command carries them, so that a server
// that takes index commands only from a known user accepts them.
std::string user(const IXO* ixo) {
    return ixo_query::userParameters(*ixo);
}

bool allUserParameters(const IXO& ixo) {
    return ixo.user[0] && ixo.password[0] && ixo.group[0] && ixo.domain[0];
}

std::string field(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

int32_t changeTerms(IXO* ixo, const IxoTermChange* changes, int32_t count, char sign,
                    char** reply) {
    if (reply) *reply = nullptr;
    if (anyNull({ixo, changes}) || count < 1) return IXO_ERR_PARAMETER;
    for (int32_t i = 0; i < count; ++i) {
        if (!changes[i].term) return IXO_ERR_PARAMETER;
    }
    try {
        const std::string body = termsBody(changes, count, sign);
        return commandToReply(ixo, IXO_INDEX_PORT_SELECTOR, "/IXOUPDATE" + user(ixo), body.c_str(),
                              reply);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int32_t ixoIndexDocument(IXO* ixo, const char* location, const char* killDuplicates,
                                         char* reply, int32_t replySize) {
    if (anyNull({ixo, location}) || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    try {
        return addToBuffer(ixo, addRequest(location, killDuplicates, nullptr) + user(ixo), nullptr,
                           reply, replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoIndexDocumentIntoDatabase(IXO* ixo, const char* location,
                                                     const char* killDuplicates, const char* dbName,
                                                     char* reply, int32_t replySize) {
    if (anyNull({ixo, location}) || !hasText(dbName) || badBuffer(reply, replySize)) {
        return IXO_ERR_PARAMETER;
    }
    try {
        return addToBuffer(ixo, addRequest(location, killDuplicates, dbName) + user(ixo), nullptr,
                           reply, replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoIndexLocalBuffer(IXO* ixo, const char* idxText, const char* extra,
                                            char* reply, int32_t replySize) {
    if (anyNull({ixo, idxText}) || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    try {
        const std::string body = addDataBody(idxText, extra);
        return addToBuffer(ixo, "/IXOADDDATA? " + user(ixo), body.c_str(), reply, replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoIndexLocalFile(IXO* ixo, const char* fileName, const char* extra,
                                          char* reply, int32_t replySize) {
    if (anyNull({ixo, fileName}) || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    reply[0] = '\0';
    try {
        std::ifstream in(fileName, std::ios::binary);
        if (!in) return IXO_ERR_FILE;
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad() || text.empty()) return IXO_ERR_FILE;
        return ixoIndexLocalBuffer(ixo, text.c_str(), extra, reply, replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoLoadThesaurusFile(IXO* ixo, const char* location) {
    if (anyNull({ixo, location})) return IXO_ERR_PARAMETER;
    try {
        char reply[2048];
        const std::string request = std::string("/IXOADD?") + location +
                                    "&KILLDUPLICATES=REFERENCE&IXODBNAME=" IXO_THESAURUS_DATABASE +
                                    user(ixo);
        return addToBuffer(ixo, request, nullptr, reply, sizeof reply);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoLoadThesaurus(void) {
    return IXO_ERR_NOT_IMPL;
}

SAPIOLUX_EXPORT int32_t ixoDeleteDocuments(IXO* ixo, int32_t mode, const char* text, char* reply,
                                           int32_t replySize) {
    if (anyNull({ixo, text}) || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    reply[0] = '\0';
    try {
        const std::string request = deleteRequest(mode, text);
        if (request.empty()) return IXO_ERR_PARAMETER;
        return commandToBuffer(ixo, IXO_INDEX_PORT_SELECTOR, request + user(ixo), nullptr, reply,
                               replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoCreateDatabase(IXO* ixo, const char* dbName, char* reply,
                                          int32_t replySize) {
    if (!ixo || !hasText(dbName) || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    try {
        return commandToBuffer(ixo, IXO_INDEX_PORT_SELECTOR,
                               std::string("/IXOCREATEDBASE?") + dbName + user(ixo), nullptr, reply,
                               replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoReplaceFields(IXO* ixo, const IxoFieldChange* changes, int32_t count,
                                         char** reply) {
    if (reply) *reply = nullptr;
    if (anyNull({ixo, changes}) || count < 1) return IXO_ERR_PARAMETER;
    try {
        const std::string body = replaceBody(changes, count);
        return commandToReply(ixo, IXO_INDEX_PORT_SELECTOR, "/IXOREPLACE" + user(ixo), body.c_str(),
                              reply);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoAddTermsToDocs(IXO* ixo, const IxoTermChange* changes, int32_t count,
                                          char** reply) {
    return changeTerms(ixo, changes, count, '+', reply);
}

SAPIOLUX_EXPORT int32_t ixoRemoveTermsFromDocs(IXO* ixo, const IxoTermChange* changes,
                                               int32_t count, char** reply) {
    return changeTerms(ixo, changes, count, '-', reply);
}

SAPIOLUX_EXPORT int32_t ixoFinishedIndex(IXO* ixo, char** reply) {
    if (reply) *reply = nullptr;
    if (!ixo) return IXO_ERR_PARAMETER;
    if (allUserParameters(*ixo)) return IXO_ERR_NOT_IMPL;
    try {
        return commandToReply(ixo, IXO_INDEX_PORT_SELECTOR, "/IXOFINISHEDINDEX" + user(ixo),
                              nullptr, reply);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoMerge(IXO* ixo, const char* text, char** reply) {
    if (reply) *reply = nullptr;
    if (anyNull({ixo, text})) return IXO_ERR_PARAMETER;
    try {
        std::string request = std::string("/IXOMERGE?") + text;
        if (allUserParameters(*ixo)) {
            request += "&user=" + encodeParameterValue(field(ixo->user, sizeof ixo->user)) +
                       "&pass=" + encodeParameterValue(field(ixo->password, sizeof ixo->password)) +
                       "&group=" + encodeParameterValue(field(ixo->group, sizeof ixo->group)) +
                       "&domain=" + encodeParameterValue(field(ixo->domain, sizeof ixo->domain));
        } else {
            request += user(ixo) + '\n';
        }
        return commandToReply(ixo, IXO_INDEX_PORT_SELECTOR, request, nullptr, reply);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoReset(IXO* ixo, char* reply, int32_t replySize) {
    if (!ixo || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    try {
        return commandToBuffer(ixo, IXO_INDEX_PORT_SELECTOR,
                               "/IXORESET" + ixo_query::userParameters(*ixo), nullptr, reply,
                               replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoInitial(IXO* ixo, char* reply, int32_t replySize) {
    if (!ixo || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    try {
        return commandToBuffer(ixo, IXO_INDEX_PORT_SELECTOR,
                               "/IXOINITIAL" + ixo_query::userParameters(*ixo), nullptr, reply,
                               replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoBackup(IXO* ixo, const char* text, char* reply, int32_t replySize) {
    if (anyNull({ixo, text}) || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    try {
        return commandToBuffer(ixo, IXO_INDEX_PORT_SELECTOR,
                               std::string("/IXOBACKUP?") + text + user(ixo), nullptr, reply,
                               replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoRestoreFromBackup(IXO* ixo, const char* text, char* reply,
                                             int32_t replySize) {
    if (anyNull({ixo, text}) || badBuffer(reply, replySize)) return IXO_ERR_PARAMETER;
    try {
        return commandToBuffer(ixo, IXO_INDEX_PORT_SELECTOR,
                               std::string("/IXOINITIAL?") + text + user(ixo), nullptr, reply,
                               replySize);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoShutdownServer(IXO* ixo) {
    if (!ixo) return IXO_ERR_PARAMETER;
    try {
        return commandToReply(ixo, IXO_QUERY_PORT_SELECTOR, "/IXOSHUTDOWN" + user(ixo), nullptr,
                              nullptr);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetIndexerStatus(IXO* ixo, int32_t jobNumber, char* buffer,
                                            int32_t size) {
    if (!ixo || badBuffer(buffer, size)) return IXO_ERR_PARAMETER;
    buffer[0] = '\0';
    try {
        std::string reply;
        const int32_t rc =
            sendRequest(ixo, IXO_QUERY_PORT_SELECTOR,
                        "/qmethod=p&idnum=" + std::to_string(jobNumber), nullptr, reply);
        if (rc != IXO_OK) return rc;
        const size_t at = reply.find("STATUS");
        if (at == std::string::npos) return IXO_ERR_RETRIEVE;
        // At most size - 1 characters and the terminator.
        const std::string_view status = std::string_view(reply).substr(at, size - 1);
        std::memcpy(buffer, status.data(), status.size());
        buffer[status.size()] = '\0';
        return IXO_OK;
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetDocIdFromReference(IXO* ixo, const char* reference) {
    if (!ixo || !hasText(reference)) return -1;
    try {
        std::string reply;
        const std::string request =
            std::string("/qmethod=C&querytext=") + reference + "&xoptions=useurl";
        if (sendRequest(ixo, IXO_QUERY_PORT_SELECTOR, request, nullptr, reply) != IXO_OK) {
            return -1;
        }
        // The reply must be the document asked for: its reference line holds exactly
        // this reference (not merely one that begins with it).
        const std::string tag = std::string("#IXOREFERENCE ") + reference;
        bool matches = false;
        for (size_t at = reply.find(tag); at != std::string::npos && !matches;
             at = reply.find(tag, at + 1)) {
            const size_t end = at + tag.size();
            matches = end == reply.size() || reply[end] == '\n' || reply[end] == '\r';
        }
        const size_t id = reply.find("#IXODOCID");
        if (!matches || id == std::string::npos) return -1;
        size_t i = id + 9;
        while (i < reply.size() && (reply[i] == ' ' || reply[i] == '\t' || reply[i] == '=')) ++i;
        if (i >= reply.size() || reply[i] < '0' || reply[i] > '9') return -1;
        int64_t value = 0;
        for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i) {
            value = value * 10 + (reply[i] - '0');
            if (value > INT32_MAX) return -1;
        }
        return static_cast<int32_t>(value);
    } catch (...) {
        return -1;
    }
}

SAPIOLUX_EXPORT int32_t ixoDoThesaurusQueryToStructure(
    IXO* ixo, int32_t method, const char* queryText, const char* fields, const char* fieldBool,
    const char* databases, const char* dates, int32_t numResults, int32_t fullForm,
    int32_t docNumber, int32_t withSummary, IXO* thesaurus, const char* thesaurusDb,
    int32_t termLimit, IxoQueryResult* result) {
    if (result) *result = IxoQueryResult{};
    if (anyNull({ixo, queryText, fields, fieldBool, databases, dates, thesaurus, thesaurusDb,
                 result})) {
        return IXO_ERR_PARAMETER;
    }
    try {
        // The thesaurus documents that match the text, then their weighted terms.
        std::string extra;
        IxoQueryResult hits{};
        const std::string names = std::string("names=") + thesaurusDb;
        if (ixoDoQueryToStructure(thesaurus, IXO_METHOD_QUERY, queryText, "", "", names.c_str(), "",
                                  10, 1, 0, 0, &hits) == IXO_OK &&
            hits.hitCount > 0) {
            std::string ids;
            for (int32_t i = 0; i < hits.hitCount; ++i) {
                ids += std::to_string(hits.records[i].docId) + "+";
            }
            IxoTermList terms{};
            if (ixoGetTermsToStructure(thesaurus, ids.c_str(), 20, 1, 0, &terms) == IXO_OK) {
                extra = thesaurusTerms(terms, termLimit);
                ixoDestroyTermList(&terms);
            }
        }
        ixoDestroyQueryResult(&hits);

        // The terms go before any "&xoptions=" part, which the query call reads apart.
        std::string text(queryText);
        if (!extra.empty()) {
            const size_t options = std::min(text.find("&xoptions="), text.size());
            std::string head = text.substr(0, options);
            if (!head.empty() && head.back() != '+') head += '+';
            text = head + extra + text.substr(options);
        }
        return ixoDoQueryToStructure(ixo, method, text.c_str(), fields, fieldBool, databases, dates,
                                     numResults, fullForm, docNumber, withSummary, result);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

}  // extern "C"
