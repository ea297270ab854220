#include "support/httpinet.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <proxy.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "support/httprequest.h"
#include "support/percent.h"
#include "support/textcase.h"

namespace {

constexpr int32_t kDefaultTimeout = 60;
constexpr std::size_t kChunk = 4096;
constexpr int32_t kRelayHeaderWait = 100;
constexpr int32_t kRelayBodyWait = 1000;

bool isEmpty(const char* text) {
    return text == nullptr || *text == '\0';
}

bool endsWithCaseBlind(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           startsWithCaseBlind(text.substr(text.size() - suffix.size()), suffix);
}

// A host name, a dotted address or a bracketed IPv6 address: letters, digits, '-', '.',
// '_' (and ':' inside brackets). Nothing that could end the host part of a URL.
bool isHostText(std::string_view host) {
    if (host.empty() || host.size() >= HTTP_HOST_SIZE) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        for (char c : host.substr(1, host.size() - 2))
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
        return true;
    }
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '-' && c != '.' && c != '_') return false;
    }
    return true;
}

// The host as a URL carries it: IPv6 addresses in brackets.
std::string urlHost(std::string_view host) {
    if (host.find(':') != std::string_view::npos && host.front() != '[')
        return "[" + std::string(host) + "]";
    return std::string(host);
}

bool isLoopback(std::string_view host) {
    std::string h(host);
    if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    in_addr v4{};
    if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, h.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6) != 0;
    if (!h.empty() && h.back() == '.') h.pop_back();  // the fully qualified spelling
    return startsWithCaseBlind(h, "localhost") ? h.size() == 9 : endsWithCaseBlind(h, ".localhost");
}

// Hosts that never go through a proxy: loopback, and names without a dot (an IPv6
// address has no dot either but is not a name).
bool isLocal(std::string_view host) {
    if (isLoopback(host)) return true;
    return host.find('.') == std::string_view::npos && host.find(':') == std::string_view::npos;
}

void curlInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The one proxy factory of the process: libproxy keeps read settings and fetched scripts
// in it, and asking it is safe from any thread. It lives as long as the process.
pxProxyFactory* proxyFactory() {
    static pxProxyFactory* factory = nullptr;
    static std::once_flag once;
    std::call_once(once, [] { factory = px_proxy_factory_new(); });
    return factory;
}

// The first proxy libproxy names for url that curl can use, "" for a direct connection.
std::string systemProxyFor(const std::string& url) {
    pxProxyFactory* factory = proxyFactory();
    if (factory == nullptr) return "";
    char** proxies = px_proxy_factory_get_proxies(factory, url.c_str());
    std::string chosen;
    if (proxies != nullptr) {
        for (char** p = proxies; *p != nullptr; ++p) {
            std::string_view entry(*p);
            if (startsWithCaseBlind(entry, "direct://")) break;
            if (startsWithCaseBlind(entry, "http://") || startsWithCaseBlind(entry, "socks4://") ||
                startsWithCaseBlind(entry, "socks4a://") ||
                startsWithCaseBlind(entry, "socks5://") || startsWithCaseBlind(entry, "socks://")) {
                chosen.assign(entry);
                if (startsWithCaseBlind(chosen, "socks://")) chosen = "socks5" + chosen.substr(5);
                break;
            }
            // Kinds curl cannot take (a script runner's "pac+" entries, ...) are skipped.
        }
        px_proxy_factory_free_proxies(proxies);
    }
    return chosen;
}

// What chooseProxy decided.
struct ProxyChoice {
    bool usable = true;
    std::string url;  // "" direct
};

ProxyChoice chooseProxy(const char* proxyName, int32_t proxyPort, std::string_view host,
                        int32_t port, const std::string& requestUrl) {
    ProxyChoice choice;
    if (isEmpty(proxyName)) return choice;
    const std::string_view name(proxyName);
    const std::string_view cern(HTTP_CERNPROXY_PREFIX);
    if (name == HTTP_AUTOPROXY_NAME) {
        if (!isLocal(host)) choice.url = systemProxyFor(requestUrl);
    } else if (name.substr(0, cern.size()) == cern) {
        std::string_view proxyHost = name.substr(cern.size());
        if (!isHostText(proxyHost)) {
            choice.usable = false;
            return choice;
        }
        int32_t p = proxyPort >= 1 ? proxyPort : port;
        if (p < 1 || p > 65535) {
            choice.usable = false;
            return choice;
        }
        if (!isLocal(host)) choice.url = "http://" + urlHost(proxyHost) + ":" + std::to_string(p);
    }
    return choice;
}

// Bytes that never go raw into a request line: controls, blank and DEL.
std::string encodeTarget(std::string_view path) {
    return percentEncodeIf(path, [](unsigned char c) { return c <= 0x20 || c == 0x7F; });
}

bool isToken(std::string_view text) {
    if (text.empty() || text.size() >= HTTP_METHOD_SIZE) return false;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && std::strchr("!#$%&'*+-.^_`|~", c) == nullptr) return false;
    }
    return true;
}

// What the callbacks collect during one attempt.
struct Transfer {
    std::string headers;  // of the latest response only
    std::string body;
    int64_t limit = HTTP_DEFAULT_MAX_RESPONSE;
    bool tooLarge = false;
    int32_t relaySocket = -1;
    bool relay = false;
    bool headersRelayed = false;
    bool relayFailed = false;
    int64_t total = 0;
    int32_t status = 0;       // of the response being received
    bool discard407 = false;  // a 407 reply will be sent again: drop its body
    InetProgressCallback progress = nullptr;
    void* progressArg = nullptr;

    void reset() {
        headers.clear();
        body.clear();
        tooLarge = relayFailed = headersRelayed = false;
        total = 0;
    }
    bool overLimit(std::size_t more) const {
        return static_cast<int64_t>(headers.size()) + total + static_cast<int64_t>(more) > limit;
    }
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    std::string_view line(data, n);
    // A new status line starts a new response (after a 100, a 407, a proxy's CONNECT
    // answer): only the last one is handed back.
    if (startsWithCaseBlind(line, "HTTP/")) {
        t->headers.clear();
        int32_t status = 0;
        httpReadStatusCode(data, static_cast<int32_t>(std::min<std::size_t>(n, 64)), &status);
        t->status = status;
    }
    if (t->overLimit(n)) {
        t->tooLarge = true;
        return 0;
    }
    t->headers.append(line);
    return n;
}

bool relaySend(Transfer* t, const char* bytes, std::size_t length, int32_t wait) {
    if (length == 0) return true;
    if (sockSendAll(t->relaySocket, bytes, static_cast<int32_t>(length), wait) != 0) {
        t->relayFailed = true;
        return false;
    }
    return true;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (t->discard407 && t->status == 407) return n;
    if (t->overLimit(n)) {
        t->tooLarge = true;
        return 0;
    }
    if (t->relay && !t->headersRelayed) {
        t->headersRelayed = true;
        if (!relaySend(t, t->headers.data(), t->headers.size(), kRelayHeaderWait)) return 0;
    }
    for (std::size_t at = 0; at < n; at += kChunk) {
        const std::size_t piece = std::min(kChunk, n - at);
        if (t->relay) {
            if (!relaySend(t, data + at, piece, kRelayBodyWait)) return 0;
        } else {
            t->body.append(data + at, piece);
        }
        t->total += static_cast<int64_t>(piece);
        if (t->progress)
            t->progress(t->progressArg, data + at, static_cast<int32_t>(piece),
                        static_cast<int32_t>(t->total));
    }
    return n;
}

// The results of curl that mean the secure connection itself failed: an untrusted
// certificate, one for another name, an unreadable CA file, a failed handshake.
bool isTlsFailure(CURLcode rc) {
    switch (rc) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_USE_SSL_FAILED:
            return true;
        default:
            return false;
    }
}

// Copies why an exchange failed into the caller's buffer, when it gave one.
void tellError(const InetExchange* x, std::string_view text) {
    if (x == nullptr || x->errorText == nullptr) return;
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(INET_ERROR_SIZE - 1));
    std::memcpy(x->errorText, text.data(), n);
    x->errorText[n] = '\0';
}

using CurlHandle = std::unique_ptr<CURL, void (*)(CURL*)>;
using HeaderList = std::unique_ptr<curl_slist, void (*)(curl_slist*)>;

// The request headers: "Accept: */*", no "Expect", no "Content-Type" unless the caller
// gives one, no "Host" on a direct connection (the socket path sends none, and a
// server that guards against rebound names may refuse one it does not know), then the
// caller's lines.
bool buildHeaders(const char* extra, bool direct, HeaderList& list) {
    auto add = [&list](const std::string& line) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown == nullptr) return false;
        list.release();
        list.reset(grown);
        return true;
    };
    if (!add("Accept: */*") || !add("Expect:")) return false;
    if (direct && !add("Host:")) return false;
    const bool ownType = !isEmpty(extra) && [extra] {
        std::string_view e(extra);
        for (std::size_t at = 0; at < e.size(); at = e.find('\n', at) + 1) {
            if (startsWithCaseBlind(e.substr(at), "Content-Type:")) return true;
            if (e.find('\n', at) == std::string_view::npos) break;
        }
        return false;
    }();
    if (!ownType && !add("Content-Type:")) return false;
    if (isEmpty(extra)) return true;
    std::string_view rest(extra);
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        // A header line holds a name and a colon and no other control characters.
        if (line.find(':') == std::string_view::npos || line.front() == ' ') return false;
        for (char c : line)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
        if (!add(std::string(line))) return false;
    }
    return true;
}

}  // namespace

extern "C" {

int32_t inetIsLocalHost(const char* host) {
    if (isEmpty(host)) return 0;
    return isLocal(host) ? 1 : 0;
}

char* inetChooseProxy(const char* proxyName, int32_t proxyPort, const char* host, int32_t port) {
    if (isEmpty(host)) return nullptr;
    const std::string url = "http://" + urlHost(host) + ":" + std::to_string(port) + "/";
    ProxyChoice choice = chooseProxy(proxyName, proxyPort, host, port, url);
    if (!choice.usable) return nullptr;
    return memStrNDup(choice.url.data(), choice.url.size());
}

int32_t inetExchange(const InetExchange* x, char** response, int32_t* responseLength,
                     int32_t* statusCode) {
    if (response) *response = nullptr;
    if (responseLength) *responseLength = 0;
    tellError(x, "");
    auto refuse = [x](const char* why) {
        tellError(x, why);
        return 0;
    };
    if (x == nullptr || !isHostText(x->host ? x->host : "") || x->port < 1 || x->port > 65535 ||
        isEmpty(x->path) || (x->body == nullptr && x->bodyLength > 0) || x->bodyLength < 0)
        return refuse("bad arguments");
    if (!x->relay && (response == nullptr || responseLength == nullptr))
        return refuse("bad arguments");
    if (x->relay && x->relaySocket < 0) return refuse("bad arguments");
    const std::string_view method = isEmpty(x->method) ? "GET" : x->method;
    if (!isToken(method)) return refuse("bad method");

    const bool secure = x->secure != 0;
    const std::string host = urlHost(x->host);
    const std::string base =
        (secure ? "https://" : "http://") + host + ":" + std::to_string(x->port);
    std::string target = encodeTarget(x->path);
    const bool absolute =
        startsWithCaseBlind(target, "http://") || startsWithCaseBlind(target, "https://");
    // A secure request names only its path: the host is the one the certificate is
    // checked against.
    if (secure && absolute) return refuse("a secure request takes a path, not an address");
    if (!absolute && target.front() != '/') target.insert(0, "/");
    ProxyChoice proxy = chooseProxy(x->proxyName, x->proxyPort, x->host, x->port,
                                    absolute ? target : base + target);
    if (!proxy.usable) return refuse("unusable proxy name");
    // Through a proxy the request line carries the absolute URL, as on the socket path;
    // a secure request is tunnelled instead and keeps its path. A SOCKS proxy only
    // carries the connection: the request is the direct one.
    const bool httpProxy = startsWithCaseBlind(proxy.url, "http://");
    if (httpProxy && !absolute && !secure) target = base + target;

    curlInitOnce();
    char curlError[CURL_ERROR_SIZE] = "";  // outlives the handle that may write it
    CurlHandle curl(curl_easy_init(), curl_easy_cleanup);
    HeaderList headers(nullptr, curl_slist_free_all);
    // A secure request keeps its Host header: the name it carries is the one the
    // certificate was checked for, and servers behind TLS commonly choose by it.
    if (!curl || !buildHeaders(x->extraHeaders, !httpProxy && !secure, headers))
        return refuse("bad header lines");
    CURL* c = curl.get();
    Transfer t;
    t.limit = x->maxResponse > 0 ? x->maxResponse : HTTP_DEFAULT_MAX_RESPONSE;
    t.relay = x->relay != 0;
    t.relaySocket = x->relaySocket;
    t.progress = x->progress;
    t.progressArg = x->progressArg;
    t.discard407 = httpProxy && !isEmpty(x->proxyUser);
    const long timeout = x->timeout > 0 ? x->timeout : kDefaultTimeout;
    const std::string url = base + "/";

    bool ok = curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_REQUEST_TARGET, target.c_str()) == CURLE_OK;
    // Only the scheme asked for: a secure exchange never falls back to clear text.
    ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, secure ? "https" : "http") == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curlError) == CURLE_OK;
    if (secure) {
        ok = ok && curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
        ok = ok && curl_easy_setopt(c, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2) == CURLE_OK;
        if (!isEmpty(x->caFile))
            ok = ok && curl_easy_setopt(c, CURLOPT_CAINFO, x->caFile) == CURLE_OK;
    }
    ok = ok && curl_easy_setopt(c, CURLOPT_PROXY, proxy.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(c, CURLOPT_NOPROXY, "") == CURLE_OK;
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION,
                     !isEmpty(x->version) && std::string_view(x->version) == "HTTP/1.1"
                         ? CURL_HTTP_VERSION_1_1
                         : CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
    // No progress for the whole wait ends the exchange, like the socket layer's rule.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    if (!isEmpty(x->agentName)) curl_easy_setopt(c, CURLOPT_USERAGENT, x->agentName);
    if (!isEmpty(x->user)) {
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(c, CURLOPT_USERNAME, x->user);
        curl_easy_setopt(c, CURLOPT_PASSWORD, x->password ? x->password : "");
    }
    if (method == "GET" && x->body == nullptr) {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD" && x->body == nullptr) {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        if (x->body != nullptr) {
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(x->bodyLength));
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, x->body);
        }
        if (method != "POST" || x->body == nullptr)
            curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
    }
    if (!ok) return refuse("the transfer could not be set up");

    CURLcode rc = curl_easy_perform(c);
    long status = 0;
    long connectStatus = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    // The proxy wants credentials: once more with the proxy user and password.
    if ((status == 407 || connectStatus == 407) && httpProxy && !isEmpty(x->proxyUser) &&
        !t.relayFailed) {
        t.reset();
        t.discard407 = false;
        curl_easy_setopt(c, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, x->proxyUser);
        curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, x->proxyPassword ? x->proxyPassword : "");
        rc = curl_easy_perform(c);
        status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    }
    if (t.tooLarge) {
        tellError(x, "the response is too large");
        return HTTP_ERR_TOO_LARGE;
    }
    if (rc != CURLE_OK) {
        tellError(x, *curlError ? curlError : curl_easy_strerror(rc));
        return isTlsFailure(rc) ? INET_ERR_TLS : 0;
    }
    if (t.relayFailed) return refuse("the relay socket did not take the response");
    if (status <= 0) return refuse("no response");
    if (t.relay) {
        // A reply without a body still relays its headers.
        if (!t.headersRelayed &&
            !relaySend(&t, t.headers.data(), t.headers.size(), kRelayHeaderWait))
            return 0;
        if (statusCode) *statusCode = static_cast<int32_t>(status);
        return 1;
    }
    const std::size_t length = t.headers.size() + t.body.size();
    char* out = static_cast<char*>(memAlloc(length + 1));
    if (out == nullptr) return refuse("out of memory");
    std::memcpy(out, t.headers.data(), t.headers.size());
    if (!t.body.empty()) std::memcpy(out + t.headers.size(), t.body.data(), t.body.size());
    *response = out;
    *responseLength = static_cast<int32_t>(length);
    if (statusCode) *statusCode = static_cast<int32_t>(status);
    return 1;
}

int32_t inetRequest(const char* agentName, const char* host, int32_t port, const char* proxyName,
                    int32_t proxyPort, const char* proxyUser, const char* proxyPassword,
                    const char* method, const char* version, const char* path,
                    const char* extraHeaders, const char* user, const char* password,
                    char** response, int32_t* responseLength, int32_t* statusCode,
                    int32_t relaySocket, int32_t relay, InetProgressCallback progress,
                    void* progressArg) {
    InetExchange x{};
    x.agentName = agentName;
    x.host = host;
    x.port = port;
    x.proxyName = proxyName;
    x.proxyPort = proxyPort;
    x.proxyUser = proxyUser;
    x.proxyPassword = proxyPassword;
    x.method = method;
    x.version = version;
    x.path = path;
    x.extraHeaders = extraHeaders;
    x.user = user;
    x.password = password;
    x.relaySocket = relaySocket;
    x.relay = relay;
    x.progress = progress;
    x.progressArg = progressArg;
    return inetExchange(&x, response, responseLength, statusCode) == 1 ? 1 : 0;
}

}  // extern "C"
