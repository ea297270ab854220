#include "server/idxfetch.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "memutil.h"
#include "support/httprequest.h"

namespace ixoserver {

namespace {

// Room for the status line and headers of the reply on top of the body limit.
constexpr std::size_t kHeaderRoom = 64u << 10;

bool startsWithCaseBlind(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

struct MemText {
    void operator()(char* p) const {
        if (p) memFree(p);
    }
};
using OwnedText = std::unique_ptr<char, MemText>;

struct RequestCloser {
    void operator()(HttpRequest* r) const {
        if (r) httpRequestDestroy(&r);
    }
};

// The path as it may stand in a request line: blanks, control bytes and bytes above
// 127 (the location arrived percent-decoded) are encoded again.
std::string requestPath(std::string_view path) {
    std::string out = "/";
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7f) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Value of the Content-Length header, or -1 when there is none or it is not a number.
long long contentLength(std::string_view headers) {
    constexpr std::string_view kName = "content-length:";
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t eol = headers.find('\n', pos);
        std::string_view line =
            headers.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
        if (startsWithCaseBlind(line, kName)) {
            std::string value(line.substr(kName.size()));
            char* end = nullptr;
            long long n = std::strtoll(value.c_str(), &end, 10);
            if (end == value.c_str() || n < 0) return -1;
            return n;
        }
        if (eol == std::string_view::npos) break;
        pos = eol + 1;
    }
    return -1;
}

constexpr const char* kCannotConnect = "cannot connect";

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

// Waits until fd is ready for events or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int left = msLeft(deadline);
        if (left == 0) return false;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, left);
        if (r < 0 && errno == EINTR) continue;
        return r > 0;
    }
}

bool isLoopback(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(a);
        const uint32_t ip = ntohl(in.sin_addr.s_addr);
        return (ip >> 24) == 127 || ip == 0;
    }
    if (a.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
        if (IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr) || IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr))
            return true;
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr))
            return in6.sin6_addr.s6_addr[12] == 127 ||
                   (in6.sin6_addr.s6_addr[12] | in6.sin6_addr.s6_addr[13] |
                    in6.sin6_addr.s6_addr[14] | in6.sin6_addr.s6_addr[15]) == 0;
    }
    return false;
}

int portOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return 0;
}

bool sameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    if (a.ss_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, 16) == 0;
    return false;
}

// A connected peer that is one of the server's own ports on this machine: the peer is
// a loopback address or the very address the connection leaves from.
bool isOwnPort(int fd, const std::vector<int>& ownPorts) {
    sockaddr_storage peer{}, local{};
    socklen_t pl = sizeof peer, ll = sizeof local;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0)
        return true;  // cannot tell: refuse
    const int port = portOf(peer);
    if (std::find(ownPorts.begin(), ownPorts.end(), port) == ownPorts.end()) return false;
    return isLoopback(peer) || sameAddress(peer, local);
}

struct AddrInfoFree {
    void operator()(addrinfo* a) const {
        if (a) ::freeaddrinfo(a);
    }
};

// Connects to host:port, sends request and receives until the peer closes, limit bytes
// have come or the deadline passes (false then). Each resolved address is tried in turn.
bool exchange(const char* host, int port, const std::string& request,
              const std::vector<int>& ownPorts, Clock::time_point deadline, std::size_t limit,
              std::string& received) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (::getaddrinfo(host, std::to_string(port).c_str(), &hints, &raw) != 0 || !raw) return false;
    std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
        if (msLeft(deadline) == 0) return false;
        sockaddr_storage target{};
        std::memcpy(&target, ai->ai_addr, std::min<std::size_t>(ai->ai_addrlen, sizeof target));
        if (isLoopback(target) &&
            std::find(ownPorts.begin(), ownPorts.end(), port) != ownPorts.end())
            continue;
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS || !waitFor(fd, POLLOUT, deadline)) continue;
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) continue;
        }
        if (isOwnPort(fd, ownPorts)) continue;
        std::size_t off = 0;
        while (off < request.size()) {
            const ssize_t n = ::send(fd, request.data() + off, request.size() - off, MSG_NOSIGNAL);
            if (n > 0) {
                off += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitFor(fd, POLLOUT, deadline)) return false;
            } else {
                return false;
            }
        }
        received.clear();
        char buf[65536];
        while (received.size() < limit) {
            const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, limit - received.size()), 0);
            if (n > 0) {
                received.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0) {
                return true;
            } else if (errno == EINTR) {
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (!waitFor(fd, POLLIN, deadline)) return false;
            } else {
                return false;
            }
        }
        return true;  // the limit was reached; the caller refuses the reply
    }
    return false;
}

}  // namespace

bool isHttpLocation(std::string_view location) {
    return startsWithCaseBlind(location, "http://") || startsWithCaseBlind(location, "https://");
}

bool fetchIdxText(std::string_view address, std::size_t maxBytes, int timeoutSeconds,
                  std::string& text, std::string& error) {
    FetchLimits limits;
    limits.maxBytes = maxBytes;
    limits.deadlineSeconds = timeoutSeconds;
    return fetchIdxText(address, limits, text, error);
}

bool fetchIdxText(std::string_view address, const FetchLimits& limits, std::string& text,
                  std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(std::max(limits.deadlineSeconds, 1));
    text.clear();
    error.clear();
    if (startsWithCaseBlind(address, "https://")) {
        error = "https addresses are not supported";
        return false;
    }
    if (!startsWithCaseBlind(address, "http://")) {
        error = "not an http address";
        return false;
    }
    const std::string url(address);
    char* rawHost = nullptr;
    char* rawPath = nullptr;
    int32_t port = 0;
    if (!httpSplitUrl(url.c_str(), &rawHost, &port, &rawPath)) {
        error = "bad address";
        return false;
    }
    OwnedText host(rawHost), path(rawPath);
    if (port <= 0 || port > 65535) {
        error = "bad port";
        return false;
    }

    HttpRequest* raw = nullptr;
    if (httpRequestCreate(&raw) != 0) {
        error = "out of memory";
        return false;
    }
    std::unique_ptr<HttpRequest, RequestCloser> request(raw);
    const int32_t wait = std::max(limits.deadlineSeconds, 1);
    if (httpRequestSetUrl(request.get(), requestPath(path.get()).c_str()) != 0 ||
        httpRequestSetHost(request.get(), host.get(), port) != 0 ||
        httpRequestSetTimeouts(request.get(), wait, wait) != 0) {
        error = "bad address";
        return false;
    }
    int32_t requestLength = 0;
    OwnedText built(httpRequestBuildText(request.get(), &requestLength));
    if (!built) {
        error = "bad address";
        return false;
    }
    // HTTP/1.0 needs no Host header, but servers with several names do.
    std::string wire(built.get(), static_cast<std::size_t>(requestLength));
    const std::size_t lineEnd = wire.find("\r\n");
    if (lineEnd != std::string::npos)
        wire.insert(lineEnd + 2,
                    "Host: " + std::string(host.get()) + ":" + std::to_string(port) + "\r\n");

    // Receiving stops once one byte more than the limit allows has arrived.
    const std::size_t cap = static_cast<std::size_t>(INT32_MAX) - kHeaderRoom - 2;
    const std::size_t bodyLimit = std::min(limits.maxBytes, cap);
    const std::size_t receiveLimit = bodyLimit + kHeaderRoom + 1;
    std::string received;
    if (!exchange(host.get(), port, wire, limits.ownPorts, deadline, receiveLimit, received) ||
        received.empty()) {
        error = kCannotConnect;
        return false;
    }
    if (received.size() >= receiveLimit) {
        error = "larger than " + std::to_string(bodyLimit) + " bytes";
        return false;
    }
    // Copied whole, zero bytes included: the reply is split by its length.
    OwnedText reply(static_cast<char*>(memAlloc(received.size() + 1)));
    const int32_t replyLength = static_cast<int32_t>(received.size());
    if (!reply) {
        error = "out of memory";
        return false;
    }
    std::memcpy(reply.get(), received.data(), received.size());
    reply.get()[received.size()] = '\0';
    int32_t status = 0;
    char* rawHeaders = nullptr;
    char* rawBody = nullptr;
    int32_t bodyLength = 0;
    if (httpSplitResponse(reply.get(), replyLength, &status, &rawHeaders, &rawBody, &bodyLength) !=
        0) {
        error = "out of memory";
        return false;
    }
    OwnedText headers(rawHeaders), body(rawBody);
    if (!headers || !startsWithCaseBlind(headers.get(), "http/")) {
        error = kCannotConnect;
        return false;
    }
    if (status < 200 || status > 299) {
        error = "HTTP status " + std::to_string(status);
        return false;
    }
    if (static_cast<std::size_t>(bodyLength) > bodyLimit) {
        error = "larger than " + std::to_string(bodyLimit) + " bytes";
        return false;
    }
    const long long announced = contentLength(headers.get());
    if (announced >= 0 && bodyLength < announced) {
        error = "reply cut short";
        return false;
    }
    if (bodyLength <= 0) {
        error = "empty reply";
        return false;
    }
    text.assign(body.get(), static_cast<std::size_t>(bodyLength));
    if (announced >= 0 && static_cast<long long>(text.size()) > announced)
        text.resize(static_cast<std::size_t>(announced));
    return true;
}

}  // namespace ixoserver
