#include "ixo/ixoapi.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "ixo/ixocache_hook.h"
#include "ixo/ixoquery.h"
#include "support/diaglog.h"
#include "support/httprequest.h"
#include "support/strutil.h"

namespace {

// Bounded copy into a fixed text field; always terminated.
template <std::size_t N>
void setField(char (&field)[N], const char* text) {
    std::size_t n = text ? strnlen(text, N - 1) : 0;
    if (n) std::memcpy(field, text, n);
    field[n] = '\0';
}

template <std::size_t N>
std::size_t fieldLength(const char (&field)[N]) {
    return strnlen(field, N - 1);
}

bool isEmpty(const char* text) {
    return text == nullptr || *text == '\0';
}

// True when text fits a field of N bytes (null fits as an empty text).
template <std::size_t N>
bool fits(const char (&)[N], const char* text) {
    return text == nullptr || strnlen(text, N) < N;
}

// Host names end up in request lines (through a proxy) and must not break them.
bool hasBlankOrControl(const char* text) {
    for (const char* p = text; p && *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c <= 0x20 || c == 0x7F) return true;
    }
    return false;
}

int32_t maxReply(const IXO* ixo) {
    return ixo->maxReplyBytes > 0 ? ixo->maxReplyBytes : IXO_DEFAULT_MAX_REPLY;
}

// Case-blind search over a text of known length.
std::size_t findCaseBlind(std::string_view hay, std::string_view needle) {
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
    return it == hay.end() ? std::string_view::npos : static_cast<std::size_t>(it - hay.begin());
}

// Reads an integer like atoi from at most n bytes (blanks, sign, digits); saturates.
long long readInteger(const char* text, std::size_t n) {
    std::size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i++] - '0');
        if (value > 0x7fffffff) value = 0x7fffffff;
    }
    return negative ? -value : value;
}

// "major.minor" from text; a missing part gives 0.
void readVersion(const char* text, int32_t* major, int32_t* minor) {
    int32_t a = 0;
    int32_t b = 0;
    if (text != nullptr) {
        std::size_t n = std::strlen(text);
        a = static_cast<int32_t>(readInteger(text, n));
        const char* dot = std::strchr(text, '.');
        if (dot != nullptr) b = static_cast<int32_t>(readInteger(dot + 1, std::strlen(dot + 1)));
    }
    if (major) *major = a;
    if (minor) *minor = b;
}

// Inflates a "binary/compressed" body: eight decimal digits of the inflated length,
// then a zlib stream of claimed - 8 bytes. -3 on any zlib error.
int32_t inflateBody(const char* body, int32_t claimed, int32_t maxBytes, char** out) {
    long long expected = readInteger(body, 8);
    if (expected < 0) return -3;
    if (expected > maxBytes) {
        diagLog("ixo: a compressed reply of %lld bytes is over the limit of %d bytes\n", expected,
                static_cast<int>(maxBytes));
        return -3;
    }
    uLong sourceLength = static_cast<uLong>(claimed - 8);
    // zlib cannot expand by more than about 1032:1; a larger claim only wastes memory,
    // so the buffer never needs to exceed what the stream can produce.
    unsigned long long possible = static_cast<unsigned long long>(sourceLength) * 1032ULL + 64;
    unsigned long long room =
        std::min<unsigned long long>(static_cast<unsigned long long>(expected) + 4, possible);
    char* buffer = static_cast<char*>(memAlloc(static_cast<size_t>(room) + 100));
    if (buffer == nullptr) return -7;
    uLongf produced = static_cast<uLongf>(room);
    int z = uncompress(reinterpret_cast<Bytef*>(buffer), &produced,
                       reinterpret_cast<const Bytef*>(body + 8), sourceLength);
    if (z != Z_OK) {
        memFree(buffer);
        return -3;
    }
    buffer[produced] = '\0';
    *out = buffer;
    return 1;
}

}  // namespace

extern "C" {

int32_t ixoCreateIxo(IXO* ixo, const char* hostName, const char* ipAddress, int32_t queryPort,
                     int32_t indexPort) {
    if (ixo == nullptr || (isEmpty(hostName) && isEmpty(ipAddress))) return IXO_ERR_PARAMETER;
    // A name that does not fit would be cut and the requests would go to another host.
    if (!fits(ixo->host, hostName) || !fits(ixo->address, ipAddress) ||
        hasBlankOrControl(hostName) || hasBlankOrControl(ipAddress))
        return IXO_ERR_PARAMETER;
    std::memset(ixo, 0, sizeof *ixo);
    setField(ixo->host, isEmpty(hostName) ? ipAddress : hostName);
    setField(ixo->address, isEmpty(ipAddress) ? hostName : ipAddress);
    ixo->queryPort = queryPort;
    ixo->indexPort = indexPort;
    ixo->timeout = 60;
    ixo->secondTimeout = 1000;
    ixo->maxReplyBytes = IXO_DEFAULT_MAX_REPLY;
    return IXO_OK;
}

int32_t ixoAddProxySettings(IXO* ixo, const char* proxyHost, int32_t proxyPort,
                            const char* proxyUser, const char* proxyPassword) {
    if (ixo == nullptr) return IXO_ERR_PARAMETER;
    if (proxyHost == nullptr) return IXO_OK;  // no proxy named: the handle stays as it is
    // A text that does not fit is refused rather than cut (or ignored, which would keep
    // the previous proxy in force without a word).
    if (!fits(ixo->proxyHost, proxyHost) || !fits(ixo->proxyUser, proxyUser) ||
        !fits(ixo->proxyPassword, proxyPassword) || hasBlankOrControl(proxyHost))
        return IXO_ERR_PARAMETER;
    setField(ixo->proxyHost, proxyHost);
    ixo->proxyPort = proxyPort;
    setField(ixo->proxyUser, proxyUser);
    setField(ixo->proxyPassword, proxyPassword);
    return IXO_OK;
}

int32_t ixoSetHTTPTimeOut(IXO* ixo, int32_t timeout, int32_t secondTimeout) {
    // The exchange takes only positive waits; anything else would silently become 60 s.
    if (ixo == nullptr || timeout <= 0 || secondTimeout <= 0) return IXO_ERR_PARAMETER;
    ixo->timeout = timeout;
    ixo->secondTimeout = secondTimeout;
    return IXO_OK;
}

int32_t ixoSetEncryption(IXO* ixo, int32_t mode, const char* text) {
    (void)text;  // accepted for callers; the scrambling needs no phrase
    if (ixo == nullptr) return IXO_ERR_PARAMETER;
    auto* fresh = static_cast<int32_t*>(memAlloc(sizeof(int32_t)));
    if (fresh == nullptr) return IXO_ERR_MEMORY;
    *fresh = mode;
    if (ixo->encryption) memFree(ixo->encryption);
    ixo->encryption = fresh;
    return IXO_OK;
}

int32_t ixoSetUserParameters(IXO* ixo, const char* user, const char* password, const char* group,
                             const char* domain) {
    if (ixo == nullptr) return IXO_ERR_PARAMETER;
    // All or nothing: a text that does not fit is refused rather than cut.
    if (!fits(ixo->user, user) || !fits(ixo->password, password) || !fits(ixo->group, group) ||
        !fits(ixo->domain, domain))
        return IXO_ERR_PARAMETER;
    if (user) setField(ixo->user, user);
    if (password) setField(ixo->password, password);
    if (group) setField(ixo->group, group);
    if (domain) setField(ixo->domain, domain);
    return IXO_OK;
}

int32_t ixoSetMaxReplySize(IXO* ixo, int32_t maxBytes) {
    if (ixo == nullptr || maxBytes < 1) return IXO_ERR_PARAMETER;
    ixo->maxReplyBytes = maxBytes;
    return IXO_OK;
}

int32_t ixoGetUserParameterLength(const IXO* ixo) {
    if (ixo == nullptr) return 30;
    // A value byte takes three bytes at most once encoded.
    return static_cast<int32_t>(30 + 3 * (fieldLength(ixo->user) + fieldLength(ixo->password) +
                                          fieldLength(ixo->group) + fieldLength(ixo->domain)));
}

int32_t ixoDoUserParameters(const IXO* ixo, char* request) {
    if (ixo == nullptr || request == nullptr) return IXO_ERR_PARAMETER;
    // The names take 27 bytes and the terminator one, the values three bytes per byte at
    // most: always within the room that ixoGetUserParameterLength adds.
    try {
        const std::string parameters = ixo_query::userParameters(*ixo);
        std::memcpy(request + std::strlen(request), parameters.c_str(), parameters.size() + 1);
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
    return IXO_OK;
}

int32_t ixoDestroyIxo(IXO* ixo) {
    if (ixo == nullptr) return IXO_ERR_PARAMETER;
    ixo->host[0] = '\0';
    ixo->address[0] = '\0';
    ixo->queryPort = 0;
    ixo->indexPort = 0;
    ixo->user[0] = '\0';
    ixo->password[0] = '\0';
    ixo->group[0] = '\0';
    ixo->domain[0] = '\0';
    ixo->requestMethod = 0;
    ixo->proxyHost[0] = '\0';
    ixo->proxyPort = 0;
    ixo->proxyUser[0] = '\0';
    ixo->proxyPassword[0] = '\0';
    if (ixo->encryption) memFree(ixo->encryption);
    if (ixo->clientCache != nullptr) ixoCacheDestroyForHandle(ixo);
    return IXO_OK;
}

int32_t ixoGetVersion(const char* version, const char* version2, int32_t* major, int32_t* minor,
                      int32_t* major2, int32_t* minor2) {
    if (version == nullptr) return IXO_ERR_PARAMETER;
    readVersion(version, major, minor);
    if (version2 != nullptr)
        while (*version2 == ':') ++version2;
    readVersion(version2, major2, minor2);
    return IXO_OK;
}

const char* ixoGetError(int32_t code) {
    switch (code) {
        case 1:
            return "No Error.";
        case -3:
            return "Couldn't retrieve results.";
        case -4:
            return "Couldn't initialize sockets.";
        case -5:
            return "Bad parameter passed.";
        case -6:
            return "File not found.";
        case -7:
            return "Ran out of memory.";
        case -8:
            return "Not implemented.";
        case -9:
            return "Field not found.";
        case -10:
            return "Wrong port. Check Query/Index ports.";
        case -11:
            return "Unknown IXO instruction. Check IXO version.";
        default:
            return "Unknown Error.";
    }
}

char* ixoScrambleText(const char* text) {
    if (text == nullptr) return nullptr;
    std::string_view t(text);
    // The segment: from the first '/' (after a "//" on the first line, when there is
    // one) up to the next blank.
    std::size_t searchFrom = 0;
    std::size_t firstBreak = t.find_first_of("\r\n");
    std::size_t slashes = t.find("//");
    if (slashes != std::string_view::npos && slashes < firstBreak) searchFrom = slashes + 2;
    std::size_t begin = t.find('/', searchFrom);
    if (begin == std::string_view::npos) begin = searchFrom;
    std::size_t end = t.find(' ', begin);
    if (end == std::string_view::npos) end = t.size();
    std::string_view segment = t.substr(begin, end - begin);

    int32_t checksum = 0;
    for (char c : segment) checksum = (checksum + static_cast<int8_t>(c)) % 999999;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d", static_cast<int>(checksum));
    // The block has room for six checksum characters; a wider (negative) checksum
    // keeps its first six, as the XORed bytes follow right after them.
    std::string block(digits, 6);
    block.reserve(segment.size() + 6);
    for (char c : segment) block.push_back(static_cast<char>(c ^ IXO_REQUEST_KEY));
    char* encoded = strBase64Encode(reinterpret_cast<const unsigned char*>(block.data()),
                                    static_cast<int32_t>(block.size()), 0);
    if (encoded == nullptr) return nullptr;
    std::string out;
    out.reserve(t.size() + std::strlen(encoded) + 8);
    out.append(t.substr(0, begin));
    out.append("/HLVN");
    out.append(encoded);
    out.append(t.substr(end));
    memFree(encoded);
    return memStrNDup(out.data(), out.size());
}

char* ixoScrambleRequest(const IXO* ixo, const char* request) {
    if (ixo == nullptr || request == nullptr) return nullptr;
    if (ixo->encryption != nullptr && *ixo->encryption == 1) return ixoScrambleText(request);
    return memStrDup(request);
}

int32_t ixoProcessReplyOwned(const char* headers, char* body, int32_t bodyLength, int32_t maxBytes,
                             char** reply) {
    if (reply == nullptr) {
        if (body) memFree(body);
        return IXO_ERR_PARAMETER;
    }
    *reply = nullptr;
    if (body == nullptr || bodyLength <= 0) {
        if (body) memFree(body);
        return IXO_ERR_RETRIEVE;
    }

    char* text = body;
    if (headers != nullptr) {
        std::string_view h(headers);
        std::size_t lengthAt = findCaseBlind(h, "Content-length: ");
        if (findCaseBlind(h, "binary/compressed") != std::string_view::npos &&
            lengthAt != std::string_view::npos) {
            std::string_view value = h.substr(lengthAt + 16);
            long long claimed = readInteger(value.data(), value.size());
            // Only a claim that the received body covers is inflated; anything else
            // passes through as plain text.
            if (claimed >= 9 && claimed <= bodyLength) {
                char* inflated = nullptr;
                int32_t rc = inflateBody(body, static_cast<int32_t>(claimed), maxBytes, &inflated);
                memFree(body);
                if (rc != IXO_OK) return rc;
                text = inflated;
            }
        }
    }
    if (char* marker = std::strstr(text, IXO_ORIGINAL_QUERY_MARKER)) *marker = '\0';
    if (std::strstr(text, IXO_INVALID_INSTRUCTION) != nullptr) {
        memFree(text);
        return IXO_ERR_INSTRUCTION;
    }
    *reply = text;
    return IXO_OK;
}

int32_t ixoProcessReply(const char* headers, const char* body, int32_t bodyLength, char** reply) {
    if (reply == nullptr) return IXO_ERR_PARAMETER;
    *reply = nullptr;
    if (body == nullptr || bodyLength <= 0) return IXO_ERR_RETRIEVE;
    // The owned variant works on a terminated copy of the body.
    char* copy = static_cast<char*>(memAlloc(static_cast<std::size_t>(bodyLength) + 1));
    if (copy == nullptr) return IXO_ERR_MEMORY;
    std::memcpy(copy, body, static_cast<std::size_t>(bodyLength));
    return ixoProcessReplyOwned(headers, copy, bodyLength, IXO_DEFAULT_MAX_REPLY, reply);
}

char* ixoRequestTarget(const IXO* ixo, const char* request) {
    if (ixo == nullptr || request == nullptr) return nullptr;
    // Blanks and control characters are percent-encoded before scrambling, so that the
    // scrambled segment covers the whole path and no raw line break reaches the wire.
    char* encoded = httpEncodeRequestTarget(request);
    if (encoded == nullptr) return nullptr;
    char* target = ixoScrambleRequest(ixo, encoded);
    memFree(encoded);
    return target;
}

int32_t ixoRequestWithStatus(IXO* ixo, int32_t portSelector, const char* request,
                             const char* postData, char** reply, int32_t* status) {
    if (reply != nullptr) *reply = nullptr;
    if (status != nullptr) *status = 0;
    if (ixo == nullptr || request == nullptr || reply == nullptr) return IXO_ERR_PARAMETER;
    int32_t port = portSelector == IXO_INDEX_PORT_SELECTOR ? ixo->indexPort : ixo->queryPort;
    if (port < 0) return IXO_ERR_PARAMETER;

    char* url = ixoRequestTarget(ixo, request);
    if (url == nullptr) return IXO_ERR_MEMORY;
    HttpRequest* http = nullptr;
    if (httpRequestCreate(&http) != 0) {
        memFree(url);
        return IXO_ERR_MEMORY;
    }
    bool hasBody = !isEmpty(postData);
    httpRequestSetUrl(http, url);
    memFree(url);
    httpRequestSetMethod(http, (ixo->requestMethod != 0 || hasBody) ? "POST" : "GET");
    if (hasBody) httpRequestSetPostData(http, postData);
    httpRequestSetHost(http, ixo->host, port);
    if (ixo->proxyHost[0] != '\0')
        httpRequestSetProxy(http, ixo->proxyHost, ixo->proxyPort, ixo->proxyUser,
                            ixo->proxyPassword);
    httpRequestSetTimeouts(http, ixo->timeout, ixo->secondTimeout);
    // The status line and headers come on top of the reply itself.
    const int32_t limit = maxReply(ixo);
    httpRequestSetMaxResponse(http, limit > 0x7fffffff - 65536 ? 0x7fffffff : limit + 65536);

    int32_t code = 0;
    char* headers = nullptr;
    char* body = nullptr;
    int32_t bodyLength = 0;
    int32_t rc = httpRequestSend(http, &code, &headers, &body, &bodyLength);
    httpRequestDestroy(&http);
    if (status != nullptr) *status = code;
    if (rc == HTTP_ERR_TOO_LARGE || (rc == 0 && bodyLength > limit)) {
        diagLog("ixo: the reply from %s:%d is larger than the limit of %d bytes\n", ixo->host,
                static_cast<int>(port), static_cast<int>(limit));
        if (headers) memFree(headers);
        if (body) memFree(body);
        return IXO_ERR_RETRIEVE;
    }
    if (rc != 0 || body == nullptr || bodyLength <= 0) {
        if (headers) memFree(headers);
        if (body) memFree(body);
        return IXO_ERR_RETRIEVE;
    }
    rc = ixoProcessReplyOwned(headers, body, bodyLength, limit, reply);
    memFree(headers);
    return rc;
}

bool ixoStatusIsError(int32_t status) {
    // 0: the reply carried no status line to judge.
    return status != 0 && (status < 200 || status > 299);
}

void ixoLogStatus(const IXO* ixo, int32_t portSelector, int32_t status) {
    if (ixo == nullptr) return;
    int32_t port = portSelector == IXO_INDEX_PORT_SELECTOR ? ixo->indexPort : ixo->queryPort;
    diagLog("ixo: %s:%d answered with HTTP status %d\n", ixo->host, static_cast<int>(port),
            static_cast<int>(status));
}

int32_t ixoRequestToDynBuffer2(IXO* ixo, int32_t portSelector, const char* request,
                               const char* postData, char** reply) {
    int32_t status = 0;
    int32_t rc = ixoRequestWithStatus(ixo, portSelector, request, postData, reply, &status);
    if (ixoStatusIsError(status)) {
        // A refused or failed request is not an answer, whatever its body says.
        ixoLogStatus(ixo, portSelector, status);
        if (reply != nullptr && *reply != nullptr) memFree(*reply);
        return IXO_ERR_RETRIEVE;
    }
    return rc;
}

int32_t ixoRequestToFile(IXO* ixo, int32_t port, const char* request, const char* postData,
                         const char* fileName) {
    if (ixo == nullptr || request == nullptr || isEmpty(fileName)) return IXO_ERR_PARAMETER;
    std::remove(fileName);
    int32_t selector;
    if (port == ixo->indexPort)
        selector = IXO_INDEX_PORT_SELECTOR;
    else if (port == ixo->queryPort)
        selector = IXO_QUERY_PORT_SELECTOR;
    else
        return IXO_ERR_PORT;
    char* reply = nullptr;
    int32_t rc = ixoRequestToDynBuffer2(ixo, selector, request, postData, &reply);
    if (rc != IXO_OK) return rc;
    std::string_view text(reply);
    // The file ends before the first line that holds the echo marker.
    std::size_t marker = text.find(IXO_ORIGINAL_QUERY_MARKER);
    if (marker != std::string_view::npos) {
        std::size_t lineStart = text.rfind('\n', marker);
        text = text.substr(0, lineStart == std::string_view::npos ? 0 : lineStart + 1);
    }
    if (!text.empty()) {
        FILE* f = std::fopen(fileName, "wb+");
        if (f == nullptr) {
            memFree(reply);
            return IXO_ERR_FILE;
        }
        bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        ok = std::fclose(f) == 0 && ok;
        if (!ok) {
            std::remove(fileName);
            memFree(reply);
            return IXO_ERR_FILE;
        }
    }
    memFree(reply);
    return IXO_OK;
}

int32_t ixoRequestToBuffer(IXO* ixo, int32_t portSelector, const char* request,
                           const char* postData, char* buffer, int32_t size) {
    if (buffer == nullptr || size < 1) return IXO_ERR_PARAMETER;
    buffer[0] = '\0';
    char* reply = nullptr;
    int32_t rc = ixoRequestToDynBuffer2(ixo, portSelector, request, postData, &reply);
    if (rc == IXO_OK && reply != nullptr) {
        std::size_t length = std::strlen(reply);
        std::size_t room = static_cast<std::size_t>(size);
        std::size_t copied = std::min(length, room);
        std::memcpy(buffer, reply, copied);
        if (copied < room) buffer[copied] = '\0';
        buffer[room - 1] = '\0';
    }
    if (reply) memFree(reply);
    return rc;
}

}  // extern "C"
