#include "support/httprequest.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "support/dynstring.h"
#include "support/httpinet.h"
#include "support/percent.h"
#include "support/strutil.h"
#include "support/textcase.h"

namespace {

constexpr int32_t kChunk = 4096;
constexpr int kReceiveBuffer = 6193;
constexpr int32_t kBodySpare = 20;

// Bounded copy that always terminates (n >= 1).
void copyField(char* dst, std::size_t size, std::string_view src) {
    std::size_t n = std::min(src.size(), size - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

bool isEmpty(const char* text) {
    return text == nullptr || *text == '\0';
}

bool isSpecialProxy(const char* proxyHost) {
    return std::strcmp(proxyHost, HTTP_AUTOPROXY_NAME) == 0 ||
           std::strncmp(proxyHost, HTTP_CERNPROXY_PREFIX, std::strlen(HTTP_CERNPROXY_PREFIX)) == 0;
}

// First occurrence of needle in the first length bytes of hay, or npos.
std::size_t findBytes(const char* hay, std::size_t length, std::string_view needle) {
    std::string_view h(hay, length);
    return h.find(needle);
}

int32_t lastSocketError() {
    return errno != 0 ? static_cast<int32_t>(errno) : -1;
}

// Waits for the given events on one socket for at most timeoutMs. Returns the number
// of ready descriptors (0 on timeout, -1 on error) and the events seen.
int waitSocket(int32_t sock, short events, int timeoutMs, short* revents) {
    pollfd p{sock, events, 0};
    int n;
    do {
        n = poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    *revents = p.revents;
    return n;
}

int32_t pendingError(int32_t sock) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return lastSocketError();
    return err;
}

int timeoutMs(int32_t seconds);

// Bytes that must never appear raw in a request line or header value.
bool isLineBreaking(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

bool hasLineBreaking(const char* text) {
    for (const char* p = text; *p; ++p)
        if (isLineBreaking(static_cast<unsigned char>(*p))) return true;
    return false;
}

// How the receive loop ended.
enum class Received { Data, Nothing, TooLarge, NoMemory };

// The receive loop of sockReceiveAll. maxLength > 0 stops once that many bytes arrived
// (the data so far is kept); hardLimit > 0 gives up with TooLarge as soon as more than
// hardLimit bytes arrived. The buffer grows by half of what it holds, never past
// hardLimit + 1, so a long response costs few reallocations without reserving twice its
// size. On Data and Nothing, *buffer (zero-terminated) and *length are set.
Received receiveInto(int32_t sock, int32_t timeout, bool stopAtLineFeed, int32_t maxLength,
                     int32_t hardLimit, char** buffer, int32_t* length) {
    *buffer = nullptr;
    *length = 0;
    int64_t capacity = kChunk + 1;
    char* data = static_cast<char*>(memAlloc(static_cast<size_t>(capacity)));
    if (data == nullptr) return Received::NoMemory;
    int64_t used = 0;
    bool gotSomething = false;
    time_t lastData = time(nullptr);
    char chunk[kChunk];
    const int64_t ceiling = hardLimit > 0 ? static_cast<int64_t>(hardLimit) + 1 : 0x7fffffff;
    for (;;) {
        short revents = 0;
        int n = waitSocket(sock, POLLIN | POLLPRI, timeoutMs(timeout) + 1, &revents);
        if (n <= 0) break;
        if (revents & POLLNVAL) break;
        if ((revents & POLLERR) && !(revents & POLLIN)) {
            int32_t err = pendingError(sock);
            if (err != EWOULDBLOCK && err != EAGAIN) break;
        }
        ssize_t got = recv(sock, chunk, sizeof chunk, 0);
        if (got == 0) {
            gotSomething = true;  // a clean close
            break;
        }
        if (got < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR) {
                if (time(nullptr) - lastData >= static_cast<time_t>(timeout) + 1) break;
                continue;
            }
            break;
        }
        const int64_t g = got;
        if (hardLimit > 0 && used + g > hardLimit) {
            memFree(data);
            return Received::TooLarge;
        }
        if (used + g + 1 > capacity) {
            int64_t wanted = std::max(used + g + 1, capacity + capacity / 2);
            wanted = std::min<int64_t>(wanted, std::max(ceiling, used + g + 1));
            if (wanted > 0x7fffffff) {
                memFree(data);
                return Received::NoMemory;
            }
            char* grown = static_cast<char*>(memRealloc(data, static_cast<size_t>(wanted)));
            if (grown == nullptr) {
                memFree(data);
                return Received::NoMemory;
            }
            data = grown;
            capacity = wanted;
        }
        std::memcpy(data + used, chunk, static_cast<size_t>(g));
        used += g;
        data[used] = '\0';
        gotSomething = true;
        lastData = time(nullptr);
        if (stopAtLineFeed && std::memchr(chunk, '\n', static_cast<size_t>(g)) != nullptr) break;
        if (maxLength > 0 && used >= maxLength) break;
    }
    data[used] = '\0';
    *buffer = data;
    *length = static_cast<int32_t>(used);
    return gotSomething ? Received::Data : Received::Nothing;
}

int timeoutMs(int32_t seconds) {
    long long ms = static_cast<long long>(std::max<int32_t>(seconds, 0)) * 1000;
    return static_cast<int>(std::min<long long>(ms, 0x7fffffff - 1000));
}

// httpSplitResponse over a received buffer that it takes over: the body is moved to
// the front of that buffer, which is then trimmed to the body and its spare bytes, so
// a long response is never held twice. On failure the buffer is released.
int32_t splitInPlace(char* response, int32_t length, int32_t* statusCode, char** headers,
                     char** body, int32_t* bodyLength);

// The exchange of a request whose proxy host is a special proxy name, through the
// system-proxy path. The body goes along (a request must not lose it on this path),
// and so does the socket path's "Pragma: No-Cache", so a caching proxy treats both
// paths alike.
int32_t sendThroughInet(const HttpRequest* request, int32_t* statusCode, char** headers,
                        char** body, int32_t* bodyLength) {
    InetExchange x{};
    x.agentName = "Microsoft";
    x.host = request->host;
    x.port = request->port;
    x.proxyName = request->proxyHost;
    x.proxyPort = request->proxyPort;
    x.proxyUser = request->proxyUser;
    x.proxyPassword = request->proxyPassword;
    x.method = request->method;
    x.version = request->version;
    x.path = request->url;
    x.extraHeaders = "Pragma: No-Cache\r\n";
    x.body = request->postData;
    x.bodyLength = request->postData ? static_cast<int32_t>(std::strlen(request->postData)) : 0;
    x.timeout = request->timeout;
    x.maxResponse =
        request->maxResponseBytes > 0 ? request->maxResponseBytes : HTTP_DEFAULT_MAX_RESPONSE;
    char* response = nullptr;
    int32_t responseLength = 0;
    int32_t rc = inetExchange(&x, &response, &responseLength, statusCode);
    if (rc != 1) return rc == HTTP_ERR_TOO_LARGE ? HTTP_ERR_TOO_LARGE : -1;
    // The status was read from the last response already; the split reads it again.
    return splitInPlace(response, responseLength, statusCode, headers, body, bodyLength) == 0 ? 0
                                                                                              : -1;
}

}  // namespace

extern "C" {

int32_t httpRequestCreate(HttpRequest** request) {
    if (request == nullptr) return -2;
    auto* r = static_cast<HttpRequest*>(memAlloc(sizeof(HttpRequest)));
    if (r == nullptr) return -2;
    copyField(r->method, sizeof r->method, "GET");
    copyField(r->version, sizeof r->version, "HTTP/1.0");
    r->timeout = 60;
    r->secondTimeout = 600;
    r->maxResponseBytes = HTTP_DEFAULT_MAX_RESPONSE;
    *request = r;
    return 0;
}

int32_t httpRequestDestroy(HttpRequest** request) {
    if (request == nullptr || *request == nullptr) return -2;
    HttpRequest* r = *request;
    if (r->url) memFree(r->url);
    if (r->postData) memFree(r->postData);
    if (r->proxyUser) memFree(r->proxyUser);
    if (r->proxyPassword) memFree(r->proxyPassword);
    memFree(*request);
    return 0;
}

int32_t httpRequestSetHost(HttpRequest* request, const char* host, int32_t port) {
    if (request == nullptr || isEmpty(host) || hasLineBreaking(host)) return -2;
    copyField(request->host, sizeof request->host, host);
    request->port = port;
    return 0;
}

int32_t httpRequestSetMethod(HttpRequest* request, const char* method) {
    if (request == nullptr || isEmpty(method) || hasLineBreaking(method)) return -2;
    copyField(request->method, sizeof request->method, method);
    return 0;
}

int32_t httpRequestSetUrl(HttpRequest* request, const char* url) {
    if (request == nullptr || isEmpty(url)) return -2;
    std::string_view u(url);
    if (u.substr(0, 4) == "GET ") u.remove_prefix(4);
    std::size_t cut = u.find(" HTTP/1.");
    if (cut != std::string_view::npos) u = u.substr(0, cut);
    char* copy = memStrNDup(u.data(), u.size());
    if (copy == nullptr) return -2;
    if (request->url) memFree(request->url);
    request->url = copy;
    return 0;
}

int32_t httpRequestSetPostData(HttpRequest* request, const char* body) {
    if (request == nullptr || isEmpty(body)) return -2;
    char* copy = memStrDup(body);
    if (copy == nullptr) return -2;
    if (request->postData) memFree(request->postData);
    request->postData = copy;
    return 0;
}

int32_t httpRequestSetProxy(HttpRequest* request, const char* proxyHost, int32_t proxyPort,
                            const char* user, const char* password) {
    if (request == nullptr || isEmpty(proxyHost) || hasLineBreaking(proxyHost)) return -2;
    copyField(request->proxyHost, sizeof request->proxyHost, proxyHost);
    request->proxyPort = proxyPort;
    request->useInet = isSpecialProxy(request->proxyHost) ? 1 : 0;
    if (!isEmpty(user)) {
        if (request->proxyUser) memFree(request->proxyUser);
        request->proxyUser = memStrDup(user);
    }
    if (!isEmpty(password)) {
        if (request->proxyPassword) memFree(request->proxyPassword);
        request->proxyPassword = memStrDup(password);
    }
    return 0;
}

int32_t httpRequestSetTimeouts(HttpRequest* request, int32_t timeout, int32_t secondTimeout) {
    if (request == nullptr || timeout < 1 || secondTimeout < 1) return -2;
    request->timeout = timeout;
    request->secondTimeout = secondTimeout;
    return 0;
}

int32_t httpRequestSetMaxResponse(HttpRequest* request, int32_t maxBytes) {
    if (request == nullptr || maxBytes < 1) return -2;
    request->maxResponseBytes = maxBytes;
    return 0;
}

char* httpEncodeRequestTarget(const char* url) {
    if (url == nullptr) return nullptr;
    const std::string out = percentEncodeIf(url, isLineBreaking);
    return memStrNDup(out.data(), out.size());
}

char* httpRequestBuildText(const HttpRequest* request, int32_t* length) {
    if (length) *length = 0;
    if (request == nullptr || request->host[0] == '\0' || request->port == 0 ||
        isEmpty(request->url))
        return nullptr;
    // Fields filled by hand, past the setters, must not break the request line either.
    if (hasLineBreaking(request->host) || hasLineBreaking(request->method) ||
        hasLineBreaking(request->version) || hasLineBreaking(request->proxyHost))
        return nullptr;
    char* target = httpEncodeRequestTarget(request->url);
    if (target == nullptr) return nullptr;
    DynString* text = dynStringCreateWithCapacity(1024, nullptr);
    if (text == nullptr) {
        memFree(target);
        return nullptr;
    }
    int rc = 0;
    // Through any proxy (the special names too) the request line carries the absolute URL.
    if (!startsWithCaseBlind(target, "HTTP://") && request->proxyHost[0] != '\0')
        rc |= dynStringAppendFormatted(text, "%s %s%s:%ld%s %s\r\n", request->method, "http://",
                                       request->host, static_cast<long>(request->port), target,
                                       request->version);
    else
        rc |= dynStringAppendFormatted(text, "%s %s %s\r\n", request->method, target,
                                       request->version);
    memFree(target);
    rc |= dynStringAppend(text, "Pragma: No-Cache\r\n");
    if (!isEmpty(request->proxyUser)) {
        std::string credentials = std::string(request->proxyUser) + ":";
        if (!isEmpty(request->proxyPassword)) credentials += request->proxyPassword;
        char* encoded = strBase64Encode(reinterpret_cast<const unsigned char*>(credentials.data()),
                                        static_cast<int32_t>(credentials.size()), 0);
        if (encoded == nullptr) {
            rc = -1;
        } else {
            rc |= dynStringAppendFormatted(text, "Proxy-Authorization: Basic %s\r\n", encoded);
            memFree(encoded);
        }
    }
    if (request->postData != nullptr) {
        std::size_t bodyLength = std::strlen(request->postData);
        rc |= dynStringAppendFormatted(text, "Content-Length: %ld\r\n\r\n",
                                       static_cast<long>(bodyLength));
        rc |= dynStringAppendBytes(text, request->postData, static_cast<int32_t>(bodyLength));
    } else {
        rc |= dynStringAppend(text, "\r\n");
    }
    if (rc != 0) {
        dynStringDestroy(&text);
        return nullptr;
    }
    if (length) *length = text->length;
    return dynStringDetach(&text);
}

void httpReadStatusCode(const char* response, int32_t length, int32_t* statusCode) {
    if (response == nullptr || length <= 0 || statusCode == nullptr) return;
    std::size_t at = findBytes(response, static_cast<std::size_t>(length), "HTTP/");
    if (at == std::string_view::npos) return;
    std::size_t i = at + 8;
    std::size_t end = static_cast<std::size_t>(length);
    // Read like atoi: blanks, a sign, digits; stop at the end of the received bytes.
    while (i < end && (response[i] == ' ' || response[i] == '\t' || response[i] == '\r' ||
                       response[i] == '\n' || response[i] == '\v' || response[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < end && (response[i] == '-' || response[i] == '+')) negative = response[i++] == '-';
    long long value = 0;
    while (i < end && response[i] >= '0' && response[i] <= '9') {
        value = value * 10 + (response[i++] - '0');
        if (value > 0x7fffffff) value = 0x7fffffff;
    }
    *statusCode = static_cast<int32_t>(negative ? -value : value);
}

int32_t httpSplitResponse(const char* response, int32_t length, int32_t* statusCode, char** headers,
                          char** body, int32_t* bodyLength) {
    if (headers) *headers = nullptr;
    if (body) *body = nullptr;
    if (bodyLength) *bodyLength = 0;
    if (response == nullptr || length < 0) length = 0;
    std::size_t total = static_cast<std::size_t>(length);
    std::size_t lf = total ? findBytes(response, total, "\n\n") : std::string_view::npos;
    std::size_t crlf = total ? findBytes(response, total, "\r\n\r\n") : std::string_view::npos;
    std::size_t headerLength = 0;
    if (lf != std::string_view::npos && (crlf == std::string_view::npos || crlf > lf))
        headerLength = lf + 2;
    else if (crlf != std::string_view::npos)
        headerLength = crlf + 4;
    std::size_t bodyBytes = total - headerLength;

    char* headerCopy = nullptr;
    if (headers != nullptr) {
        headerCopy = static_cast<char*>(memAlloc(headerLength + 1));
        if (headerCopy == nullptr) return -1;
        if (headerLength) std::memcpy(headerCopy, response, headerLength);
    }
    char* bodyCopy = static_cast<char*>(memAlloc(bodyBytes + kBodySpare));
    if (bodyCopy == nullptr) {
        if (headerCopy) memFree(headerCopy);
        return -1;
    }
    if (bodyBytes) std::memcpy(bodyCopy, response + headerLength, bodyBytes);
    if (statusCode) httpReadStatusCode(response, length, statusCode);
    if (headers) *headers = headerCopy;
    if (body)
        *body = bodyCopy;
    else
        memFree(bodyCopy);
    if (bodyLength) *bodyLength = static_cast<int32_t>(bodyBytes);
    return 0;
}

int32_t httpSplitUrl(const char* url, char** host, int32_t* port, char** path) {
    if (url == nullptr || host == nullptr || port == nullptr || path == nullptr) return 0;
    *host = nullptr;
    *path = nullptr;
    std::string_view u(url);
    if (u.size() < 7) return 0;
    // The scheme: the first "http" in any case, then "://".
    std::size_t scheme = std::string_view::npos;
    for (std::size_t i = 0; i + 4 <= u.size(); ++i)
        if (startsWithCaseBlind(u.substr(i), "http")) {
            scheme = i;
            break;
        }
    if (scheme == std::string_view::npos) return 0;
    std::size_t sep = u.find("://", scheme);
    if (sep == std::string_view::npos) return 0;
    std::size_t hostStart = sep + 3;
    std::size_t slash = u.find('/', hostStart);
    std::string_view hostPart = u.substr(
        hostStart, slash == std::string_view::npos ? std::string_view::npos : slash - hostStart);
    int32_t p = startsWithCaseBlind(u, "https") ? 443 : 80;
    std::size_t colon = hostPart.find(':');
    if (colon != std::string_view::npos) {
        long value = 0;
        for (std::size_t i = colon + 1;
             i < hostPart.size() && hostPart[i] >= '0' && hostPart[i] <= '9'; ++i) {
            value = value * 10 + (hostPart[i] - '0');
            if (value > 65535) return 0;
        }
        p = static_cast<int32_t>(value);
        hostPart = hostPart.substr(0, colon);
    }
    if (hostPart.empty()) return 0;
    std::string_view pathPart =
        slash == std::string_view::npos ? std::string_view() : u.substr(slash + 1);
    char* h = memStrNDup(hostPart.data(), hostPart.size());
    char* pa = pathPart.empty() ? memStrDup("") : memStrNDup(pathPart.data(), pathPart.size());
    if (h == nullptr || pa == nullptr) {
        if (h) memFree(h);
        if (pa) memFree(pa);
        return 0;
    }
    *host = h;
    *path = pa;
    *port = p;
    return 1;
}

int32_t sockOpen(int32_t flags) {
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return -1;
    int size = kReceiveBuffer;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (flags & SOCK_NONBLOCKING) {
        int on = 1;
        ioctl(sock, FIONBIO, &on);
    }
    if (flags & SOCK_KEEPALIVE) {
        int on = 1;
        setsockopt(sock, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    }
    if (flags & SOCK_DONTLINGER) {
        linger l{};
        l.l_onoff = 0;
        setsockopt(sock, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    if (flags & SOCK_REUSEADDR) {
        int on = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    return sock;
}

int32_t sockConnect(int32_t sock, const char* host, int32_t port) {
    if (sock < 0 || isEmpty(host) || port < 0 || port > 65535) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host, &addr.sin_addr) != 1) {
        // Not a dotted address: resolve the name (re-entrant, unlike the older call).
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return -1;
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    if (connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return 0;
    // A connection still under way finishes as writability while sending.
    if (errno == EINPROGRESS || errno == EWOULDBLOCK || errno == EAGAIN) return 0;
    return -1;
}

int32_t sockSendAll(int32_t sock, const char* bytes, int32_t length, int32_t timeout) {
    if (sock < 0 || (bytes == nullptr && length > 0)) return -1;
    int32_t sent = 0;
    int32_t lastError = -1;
    time_t lastProgress = time(nullptr);
    while (sent < length) {
        short revents = 0;
        // Only writability (errors always show): pending reply data must not make the
        // loop spin while the send buffer is full.
        int n = waitSocket(sock, POLLOUT, timeoutMs(timeout), &revents);
        if (n <= 0) {
            if (n < 0) lastError = lastSocketError();
            break;
        }
        if (revents & (POLLERR | POLLNVAL)) {
            int32_t err = pendingError(sock);
            if (err != EWOULDBLOCK && err != EAGAIN) {
                lastError = err != 0 ? err : -1;
                break;
            }
        }
        if (revents & POLLOUT) {
            int32_t chunk = std::min(kChunk, length - sent);
            ssize_t done = send(sock, bytes + sent, static_cast<size_t>(chunk), MSG_NOSIGNAL);
            if (done > 0) {
                sent += static_cast<int32_t>(done);
                lastProgress = time(nullptr);
            } else if (done < 0 && errno != EWOULDBLOCK && errno != EAGAIN && errno != EINTR) {
                lastError = lastSocketError();
                break;
            }
        } else if (revents & POLLHUP) {
            break;  // the peer went away and nothing more can be written
        }
        if (time(nullptr) - lastProgress >= static_cast<time_t>(timeout) + 1) break;
    }
    return sent == length ? 0 : lastError;
}

int32_t sockReceiveAll(int32_t sock, char** buffer, int32_t* length, int32_t timeout,
                       int32_t secondTimeout, int32_t stopAtLineFeed, int32_t maxLength) {
    (void)secondTimeout;  // carried for callers; the waits use timeout only
    if (buffer == nullptr || length == nullptr) return -1;
    *buffer = nullptr;
    *length = 0;
    if (sock < 0) return -1;
    Received r = receiveInto(sock, timeout, stopAtLineFeed != 0, maxLength, 0, buffer, length);
    return r == Received::Data ? 0 : -1;
}

void sockClose(int32_t* sock) {
    if (sock == nullptr || *sock < 0) return;
    shutdown(*sock, SHUT_RDWR);
    close(*sock);
    *sock = -1;
}

int32_t sockExchange(const char* host, int32_t port, const char* request, int32_t requestLength,
                     char** response, int32_t* responseLength, int32_t timeout,
                     int32_t secondTimeout) {
    if (response) *response = nullptr;
    if (responseLength) *responseLength = 0;
    if (response == nullptr || responseLength == nullptr) return -1;
    int32_t sock = sockOpen(SOCK_NONBLOCKING | SOCK_KEEPALIVE | SOCK_DONTLINGER | SOCK_REUSEADDR);
    if (sock < 0) return -1;
    int32_t rc = sockConnect(sock, host, port);
    if (rc == 0) rc = sockSendAll(sock, request, requestLength, timeout);
    if (rc == 0) rc = sockReceiveAll(sock, response, responseLength, timeout, secondTimeout, 0, 0);
    sockClose(&sock);
    return rc;
}

int32_t httpRequestSend(HttpRequest* request, int32_t* statusCode, char** headers, char** body,
                        int32_t* bodyLength) {
    if (headers) *headers = nullptr;
    if (body) *body = nullptr;
    if (bodyLength) *bodyLength = 0;
    if (request == nullptr) return -1;
    int32_t textLength = 0;
    char* text = httpRequestBuildText(request, &textLength);
    if (text == nullptr) {
        // Nothing to send: no host, no port or no URL.
        return 0;
    }
    if (request->useInet) {
        memFree(text);
        return sendThroughInet(request, statusCode, headers, body, bodyLength);
    }
    const char* target = request->host;
    int32_t targetPort = request->port;
    if (request->proxyHost[0] != '\0') {
        target = request->proxyHost;
        if (request->proxyPort >= 1) targetPort = request->proxyPort;
    }
    const int32_t limit =
        request->maxResponseBytes > 0 ? request->maxResponseBytes : HTTP_DEFAULT_MAX_RESPONSE;
    char* response = nullptr;
    int32_t responseLength = 0;
    int32_t rc = -1;
    int32_t sock = sockOpen(SOCK_NONBLOCKING | SOCK_KEEPALIVE | SOCK_DONTLINGER | SOCK_REUSEADDR);
    if (sock >= 0) {
        rc = sockConnect(sock, target, targetPort);
        if (rc == 0) rc = sockSendAll(sock, text, textLength, request->timeout);
        if (rc == 0) {
            Received r =
                receiveInto(sock, request->timeout, false, 0, limit, &response, &responseLength);
            rc = r == Received::Data ? 0 : r == Received::TooLarge ? HTTP_ERR_TOO_LARGE : -1;
        }
        sockClose(&sock);
    }
    memFree(text);
    if (rc != 0) {
        if (response) memFree(response);
        return rc == HTTP_ERR_TOO_LARGE ? HTTP_ERR_TOO_LARGE : -1;
    }
    rc = splitInPlace(response, responseLength, statusCode, headers, body, bodyLength);
    return rc == 0 ? 0 : -1;
}

}  // extern "C"

namespace {

int32_t splitInPlace(char* response, int32_t length, int32_t* statusCode, char** headers,
                     char** body, int32_t* bodyLength) {
    const std::size_t total = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::size_t lf = total ? findBytes(response, total, "\n\n") : std::string_view::npos;
    const std::size_t crlf =
        total ? findBytes(response, total, "\r\n\r\n") : std::string_view::npos;
    std::size_t headerLength = 0;
    if (lf != std::string_view::npos && (crlf == std::string_view::npos || crlf > lf))
        headerLength = lf + 2;
    else if (crlf != std::string_view::npos)
        headerLength = crlf + 4;
    const std::size_t bodyBytes = total - headerLength;
    char* headerCopy = nullptr;
    if (headers != nullptr) {
        headerCopy = static_cast<char*>(memAlloc(headerLength + 1));
        if (headerCopy == nullptr) {
            memFree(response);
            return -1;
        }
        if (headerLength) std::memcpy(headerCopy, response, headerLength);
    }
    if (statusCode) httpReadStatusCode(response, length, statusCode);
    if (headerLength) std::memmove(response, response + headerLength, bodyBytes);
    // The receive buffer holds at least total + 1 bytes; the body needs bodyBytes + 20.
    char* trimmed = static_cast<char*>(memRealloc(response, bodyBytes + kBodySpare));
    if (trimmed == nullptr) {
        memFree(response);
        if (headerCopy) memFree(headerCopy);
        return -1;
    }
    std::memset(trimmed + bodyBytes, 0, kBodySpare);
    if (headers) *headers = headerCopy;
    if (body)
        *body = trimmed;
    else
        memFree(trimmed);
    if (bodyLength) *bodyLength = static_cast<int32_t>(bodyBytes);
    return 0;
}

}  // namespace
