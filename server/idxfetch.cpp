#include "server/idxfetch.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

class Socket {
  public:
    explicit Socket(int32_t fd) : fd_(fd) {}
    ~Socket() { sockClose(&fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int32_t fd() const { return fd_; }

  private:
    int32_t fd_;
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

}  // namespace

bool isHttpLocation(std::string_view location) {
    return startsWithCaseBlind(location, "http://") || startsWithCaseBlind(location, "https://");
}

bool fetchIdxText(std::string_view address, std::size_t maxBytes, int timeoutSeconds,
                  std::string& text, std::string& error) {
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
    const int32_t wait = std::max(timeoutSeconds, 1);
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

    Socket sock(sockOpen(SOCK_NONBLOCKING | SOCK_KEEPALIVE | SOCK_DONTLINGER));
    if (sock.fd() < 0) {
        error = "cannot open a socket";
        return false;
    }
    if (sockConnect(sock.fd(), host.get(), port) != 0 ||
        sockSendAll(sock.fd(), wire.data(), static_cast<int32_t>(wire.size()), wait) != 0) {
        error = "cannot connect";
        return false;
    }
    // Receiving stops once one byte more than the limit allows has arrived.
    const std::size_t cap = static_cast<std::size_t>(INT32_MAX) - kHeaderRoom - 2;
    const std::size_t bodyLimit = std::min(maxBytes, cap);
    const int32_t receiveLimit = static_cast<int32_t>(bodyLimit + kHeaderRoom + 1);
    char* rawReply = nullptr;
    int32_t replyLength = 0;
    int32_t rc = sockReceiveAll(sock.fd(), &rawReply, &replyLength, wait, wait, 0, receiveLimit);
    OwnedText reply(rawReply);
    if (rc != 0 || !reply || replyLength <= 0) {
        error = "no reply";
        return false;
    }
    if (replyLength >= receiveLimit) {
        error = "larger than " + std::to_string(bodyLimit) + " bytes";
        return false;
    }
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
        error = "no HTTP reply";
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
