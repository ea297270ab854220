// HTTP/1.0 exchanges over sockets: the request bytes on the wire, proxies, response
// splitting, and how exchanges end with peers that misbehave.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "support/httprequest.h"
#include "support/strutil.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"
#include "tests/common/tiny_proxy.h"

using testing_support::LoopbackServer;
using testing_support::unusedPort;
using Clock = std::chrono::steady_clock;

namespace {

// Owns one request; sends it and keeps what came back.
struct Exchange {
    HttpRequest* request = nullptr;
    int32_t status = -99;
    char* headers = nullptr;
    char* body = nullptr;
    int32_t bodyLength = -1;
    int32_t rc = -99;

    Exchange() { EXPECT_EQ(httpRequestCreate(&request), 0); }
    Exchange(const char* host, int port, const char* url) : Exchange() {
        httpRequestSetHost(request, host, port);
        httpRequestSetUrl(request, url);
    }
    ~Exchange() {
        if (headers) memFree(headers);
        if (body) memFree(body);
        httpRequestDestroy(&request);
    }
    int32_t send() {
        rc = httpRequestSend(request, &status, &headers, &body, &bodyLength);
        return rc;
    }
    std::string bodyText() const {
        return body ? std::string(body, static_cast<size_t>(bodyLength)) : "";
    }
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string base64(const std::string& text) {
    char* encoded = strBase64Encode(reinterpret_cast<const unsigned char*>(text.data()),
                                    static_cast<int32_t>(text.size()), 0);
    std::string out = encoded ? encoded : "";
    if (encoded) memFree(encoded);
    return out;
}

}  // namespace

TEST(HttpRequestWire, GetAndPostCarryExactlyTheirHeaders) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("pong"));
    {
        Exchange x("127.0.0.1", server.port(), "/qmethod=V");
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(server.lastRequest(), "GET /qmethod=V HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");
        EXPECT_EQ(x.status, 200);
        EXPECT_EQ(x.bodyText(), "pong");
        EXPECT_EQ(std::string(x.headers),
                  "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\n");
    }
    {
        Exchange x;
        httpRequestSetHost(x.request, "127.0.0.1", server.port());
        httpRequestSetMethod(x.request, "POST");
        httpRequestSetUrl(x.request, "/IXOADD?db=1");
        httpRequestSetPostData(x.request, "body with \xe9 bytes\n");
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(server.lastRequest(),
                  "POST /IXOADD?db=1 HTTP/1.0\r\nPragma: No-Cache\r\nContent-Length: 18\r\n\r\n"
                  "body with \xe9 bytes\n");
    }
    {
        // A whole request line may be given as the URL.
        Exchange x("localhost", server.port(), "GET /a?b=c HTTP/1.1");
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(server.lastRequest(), "GET /a?b=c HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");
    }
}

TEST(HttpRequestWire, ProxyGetsAbsoluteUrlAndBasicCredentials) {
    LoopbackServer proxy;
    proxy.setReply(LoopbackServer::httpReply("via proxy"));
    {
        // The socket goes to the proxy; the server name is never resolved.
        Exchange x("retrieval.invalid", 4711, "/qmethod=E&querytext=A+");
        httpRequestSetProxy(x.request, "127.0.0.1", proxy.port(), "user", "secret");
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(x.bodyText(), "via proxy");
        EXPECT_EQ(proxy.lastRequest(),
                  "GET http://retrieval.invalid:4711/qmethod=E&querytext=A+ HTTP/1.0\r\n"
                  "Pragma: No-Cache\r\nProxy-Authorization: Basic " +
                      base64("user:secret") + "\r\n\r\n");
    }
    {
        // User without password keeps its colon; an absolute URL in any case is kept.
        Exchange x("retrieval.invalid", 4711, "hTtP://other.invalid/x");
        httpRequestSetProxy(x.request, "127.0.0.1", proxy.port(), "user", "");
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(proxy.lastRequest(),
                  "GET hTtP://other.invalid/x HTTP/1.0\r\nPragma: No-Cache\r\n"
                  "Proxy-Authorization: Basic " +
                      base64("user:") + "\r\n\r\n");
        EXPECT_EQ(base64("user:"), "dXNlcjo=");
    }
    {
        // Proxy port 0: the proxy host at the server's port.
        Exchange x("retrieval.invalid", proxy.port(), "/p");
        httpRequestSetProxy(x.request, "127.0.0.1", 0, nullptr, nullptr);
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(proxy.lastRequest(),
                  "GET http://retrieval.invalid:" + std::to_string(proxy.port()) +
                      "/p HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");
    }
}

TEST(HttpRequestWire, SpecialProxyNamesAndIncompleteRequestsSendNothing) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("x"));
    // The special names take the system-proxy path, which reaches a loopback server
    // directly.
    for (const char* name : {"ORVIQ_AUTOPROXY", "ORVIQ_CERNPROXYproxy.invalid"}) {
        Exchange x("127.0.0.1", server.port(), "/x");
        ASSERT_EQ(httpRequestSetProxy(x.request, name, 8080, nullptr, nullptr), 0);
        EXPECT_EQ(x.request->useInet, 1) << name;
        EXPECT_EQ(x.send(), 0) << name;
        EXPECT_EQ(x.bodyText(), "x") << name;
    }
    {
        // Case matters for the special names: this one is an ordinary (unreachable) proxy.
        Exchange x;
        httpRequestSetProxy(x.request, "orviq_autoproxy", 1, nullptr, nullptr);
        EXPECT_EQ(x.request->useInet, 0);
    }
    {
        Exchange x;  // no URL
        httpRequestSetHost(x.request, "127.0.0.1", server.port());
        EXPECT_EQ(x.send(), 0);
        EXPECT_EQ(x.body, nullptr);
        EXPECT_EQ(x.bodyLength, 0);
    }
    EXPECT_EQ(server.connectionCount(), 2u);
}

TEST(HttpRequestSetters, RejectNullAndEmptyAndCutLongTexts) {
    Exchange x;
    HttpRequest* r = x.request;
    EXPECT_EQ(httpRequestSetHost(nullptr, "h", 1), -2);
    EXPECT_EQ(httpRequestSetHost(r, "", 1), -2);
    EXPECT_EQ(httpRequestSetMethod(r, nullptr), -2);
    EXPECT_EQ(httpRequestSetUrl(r, ""), -2);
    EXPECT_EQ(httpRequestSetPostData(r, nullptr), -2);
    EXPECT_EQ(httpRequestSetProxy(r, "", 1, "u", "p"), -2);
    EXPECT_EQ(r->proxyUser, nullptr);
    EXPECT_EQ(httpRequestSetTimeouts(r, 0, 5), -2);
    EXPECT_EQ(httpRequestSetTimeouts(r, 5, 0), -2);
    EXPECT_EQ(r->timeout, 60);  // refused settings change nothing
    EXPECT_EQ(httpRequestSetTimeouts(r, 5, 7), 0);

    std::string longHost(600, 'h');
    EXPECT_EQ(httpRequestSetHost(r, longHost.c_str(), 80), 0);
    EXPECT_EQ(std::strlen(r->host), 511u);
    std::string longMethod(300, 'M');
    EXPECT_EQ(httpRequestSetMethod(r, longMethod.c_str()), 0);
    EXPECT_EQ(std::strlen(r->method), 255u);
    std::string longProxy(700, 'p');
    EXPECT_EQ(httpRequestSetProxy(r, longProxy.c_str(), 1, "u", nullptr), 0);
    EXPECT_EQ(std::strlen(r->proxyHost), 511u);
    EXPECT_EQ(std::string(r->proxyUser), "u");
    EXPECT_EQ(r->proxyPassword, nullptr);
    EXPECT_EQ(httpRequestDestroy(&x.request), 0);
    EXPECT_EQ(x.request, nullptr);
}

// Blanks and control characters of a URL go out percent-encoded, so a URL cannot add
// header lines; host, method and proxy names with them are refused.
TEST(HttpRequestWire, RequestLineNeverCarriesRawBreaksOrBlanks) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("pong"));
    Exchange x("127.0.0.1", server.port(), "/a b\r\nX-Injected: yes\r\n\x01\x7f\xe9%41");
    ASSERT_EQ(x.send(), 0);
    EXPECT_EQ(server.lastRequest(),
              "GET /a%20b%0D%0AX-Injected:%20yes%0D%0A%01%7F\xe9%41 HTTP/1.0\r\n"
              "Pragma: No-Cache\r\n\r\n");
    // A whole request line may still be passed.
    httpRequestSetUrl(x.request, "GET /x y HTTP/1.0");
    int32_t length = 0;
    char* text = httpRequestBuildText(x.request, &length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, static_cast<size_t>(length)),
              "GET /x%20y HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");
    memFree(text);

    EXPECT_EQ(httpRequestSetHost(x.request, "h\r\nX: y", 80), -2);
    EXPECT_EQ(httpRequestSetHost(x.request, "h y", 80), -2);
    EXPECT_EQ(httpRequestSetMethod(x.request, "GET /evil HTTP/1.0\r\n"), -2);
    EXPECT_EQ(httpRequestSetProxy(x.request, "p\n", 1, nullptr, nullptr), -2);
    EXPECT_EQ(std::string(x.request->host), "127.0.0.1");
    EXPECT_EQ(std::string(x.request->method), "GET");
    // Fields written past the setters are checked when the text is built.
    std::strcpy(x.request->version, "HTTP/1.0\r\nX: y");
    EXPECT_EQ(httpRequestBuildText(x.request, &length), nullptr);
}

// A response past the request's maximum ends the exchange as a failure of its own;
// one of exactly the maximum is taken.
TEST(HttpRequestPeers, ResponsesPastTheMaximumFail) {
    LoopbackServer server;
    const std::string reply = LoopbackServer::httpReply(std::string(100000, 'x'));
    server.setReply(reply);
    const int32_t size = static_cast<int32_t>(reply.size());
    {
        Exchange x;
        EXPECT_EQ(x.request->maxResponseBytes, HTTP_DEFAULT_MAX_RESPONSE);
        EXPECT_EQ(httpRequestSetMaxResponse(x.request, 0), -2);
        httpRequestSetHost(x.request, "127.0.0.1", server.port());
        httpRequestSetUrl(x.request, "/big");
        ASSERT_EQ(httpRequestSetMaxResponse(x.request, size), 0);
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(x.bodyLength, 100000);
    }
    {
        Exchange x("127.0.0.1", server.port(), "/big");
        ASSERT_EQ(httpRequestSetMaxResponse(x.request, size - 1), 0);
        EXPECT_EQ(x.send(), HTTP_ERR_TOO_LARGE);
        EXPECT_EQ(x.body, nullptr);
        EXPECT_EQ(x.headers, nullptr);
    }
}

TEST(HttpResponseSplit, BlankLineRulesAndStatusCode) {
    struct Case {
        std::string response;
        std::string headers;
        std::string body;
        int32_t status;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody\r\n\r\nmore", "HTTP/1.0 200 OK\r\nA: b\r\n\r\n",
         "body\r\n\r\nmore", 200},
        // A bare "\n\n" before a later "\r\n\r\n" wins.
        {"HTTP/1.0 404 NF\nA: b\n\nbody\r\n\r\nx", "HTTP/1.0 404 NF\nA: b\n\n", "body\r\n\r\nx",
         404},
        // "\r\n\r\n" before a later "\n\n".
        {"HTTP/1.1 500 E\r\n\r\nx\n\ny", "HTTP/1.1 500 E\r\n\r\n", "x\n\ny", 500},
        // No blank line: everything is the body; the status is still read.
        {"HTTP/1.0 302 Found\r\nLocation: x\r\n", "", "HTTP/1.0 302 Found\r\nLocation: x\r\n", 302},
        // No "HTTP/": the status stays as it was.
        {"hello\n\nworld", "hello\n\n", "world", -7},
        // A truncated status line never reads past the end.
        {"HTTP/1.0", "", "HTTP/1.0", 0},
        {"", "", "", -7},
    };
    for (const auto& c : cases) {
        int32_t status = -7;
        char* headers = nullptr;
        char* body = nullptr;
        int32_t length = -1;
        ASSERT_EQ(httpSplitResponse(c.response.data(), static_cast<int32_t>(c.response.size()),
                                    &status, &headers, &body, &length),
                  0);
        EXPECT_EQ(std::string(headers), c.headers) << c.response;
        EXPECT_EQ(std::string(body, static_cast<size_t>(length)), c.body) << c.response;
        EXPECT_EQ(status, c.status) << c.response;
        for (int i = 0; i < 20; ++i) EXPECT_EQ(body[length + i], '\0');
        memFree(headers);
        memFree(body);
    }
    // Zero bytes in the body are kept.
    const char binary[] = "HTTP/1.0 200 OK\r\n\r\na\0b\0c";
    char* body = nullptr;
    int32_t length = 0;
    ASSERT_EQ(httpSplitResponse(binary, sizeof binary - 1, nullptr, nullptr, &body, &length), 0);
    EXPECT_EQ(std::string(body, static_cast<size_t>(length)), std::string("a\0b\0c", 5));
    memFree(body);
}

TEST(HttpRequestPeers, SlowDripAndLargeRepliesArriveWhole) {
    LoopbackServer server;
    std::string big;
    for (int i = 0; big.size() < 300000; ++i) big += "line " + std::to_string(i) + "\n";
    server.queueReply(LoopbackServer::httpReply(big));
    Exchange large("127.0.0.1", server.port(), "/big");
    ASSERT_EQ(large.send(), 0);
    EXPECT_EQ(large.bodyText(), big);

    server.setMode(LoopbackServer::Mode::SlowDrip);
    server.setDrip(7, std::chrono::milliseconds(15));
    server.setReply(LoopbackServer::httpReply("a reply sent in many small pieces"));
    Exchange drip("127.0.0.1", server.port(), "/drip");
    httpRequestSetTimeouts(drip.request, 2, 1);
    ASSERT_EQ(drip.send(), 0);
    EXPECT_EQ(drip.bodyText(), "a reply sent in many small pieces");
}

TEST(HttpRequestPeers, SilentClosingAndAbsentPeersEndPromptly) {
    {
        // Accepts, reads, never answers: ends after the wait, not later.
        LoopbackServer server;
        server.setMode(LoopbackServer::Mode::NeverAnswer);
        Exchange x("127.0.0.1", server.port(), "/silent");
        httpRequestSetTimeouts(x.request, 1, 1);
        auto start = Clock::now();
        EXPECT_EQ(x.send(), -1);
        double took = secondsSince(start);
        EXPECT_GE(took, 0.9);
        EXPECT_LT(took, 3.0);
        EXPECT_EQ(x.body, nullptr);
        EXPECT_TRUE(server.waitForRequests(1, std::chrono::milliseconds(1000)));
    }
    // Reads the request and closes: a clean close. Closes before reading anything:
    // whatever the kernel reports. Either way no body and no waiting.
    for (auto mode : {LoopbackServer::Mode::CloseAfterRequest, LoopbackServer::Mode::CloseAtOnce}) {
        LoopbackServer server;
        server.setMode(mode);
        Exchange x("127.0.0.1", server.port(), "/close");
        httpRequestSetTimeouts(x.request, 10, 1);
        auto start = Clock::now();
        const int32_t rc = x.send();
        // Only a close after the request is certain to read as a clean end.
        EXPECT_TRUE(rc == 0 || mode == LoopbackServer::Mode::CloseAtOnce) << rc;
        EXPECT_LT(secondsSince(start), 2.0);
        EXPECT_EQ(x.bodyLength, 0);
    }
    {
        Exchange x("127.0.0.1", unusedPort(), "/refused");
        auto start = Clock::now();
        EXPECT_EQ(x.send(), -1);
        EXPECT_LT(secondsSince(start), 2.0);
    }
    {
        Exchange x("no-such-host.invalid", 80, "/x");
        EXPECT_EQ(x.send(), -1);
    }
}

TEST(HttpRequestPeers, ReceiveStopRulesOfTheSocketLayer) {
    LoopbackServer server;
    server.setMode(LoopbackServer::Mode::SlowDrip);
    server.setDrip(4, std::chrono::milliseconds(30));
    server.setReply("abc\ndefghijkl\n");
    auto receive = [&](int32_t stopAtLineFeed, int32_t maxLength) {
        int32_t sock = sockOpen(15);
        EXPECT_GE(sock, 0);
        EXPECT_EQ(sockConnect(sock, "127.0.0.1", server.port()), 0);
        const char request[] = "GET / HTTP/1.0\r\n\r\n";
        EXPECT_EQ(sockSendAll(sock, request, sizeof request - 1, 2), 0);
        char* buffer = nullptr;
        int32_t length = 0;
        EXPECT_EQ(sockReceiveAll(sock, &buffer, &length, 2, 1, stopAtLineFeed, maxLength), 0);
        sockClose(&sock);
        EXPECT_EQ(sock, -1);
        std::string got(buffer, static_cast<size_t>(length));
        EXPECT_EQ(buffer[length], '\0');
        memFree(buffer);
        return got;
    };
    EXPECT_EQ(receive(1, 0), "abc\n");
    EXPECT_EQ(receive(0, 8), "abc\ndefg");
    EXPECT_EQ(receive(0, 0), "abc\ndefghijkl\n");
}

TEST(HttpSplitUrl, HostPortAndPath) {
    struct Case {
        const char* url;
        int32_t ok;
        const char* host;
        int32_t port;
        const char* path;
    };
    const Case cases[] = {
        {"https://secure.example/a/b?c", 1, "secure.example", 443, "a/b?c"},
        {"HTTPS://secure.example:8443/x", 1, "secure.example", 8443, "x"},
        {"http://www.example:8080/path/file.html", 1, "www.example", 8080, "path/file.html"},
        {"http://www.example/", 1, "www.example", 80, ""},
        {"http://www.example", 1, "www.example", 80, ""},
        {"see http://h.example/z", 1, "h.example", 80, "z"},
        {"http:/", 0, nullptr, 0, nullptr},
        {"ftp://files.example/x", 0, nullptr, 0, nullptr},
        {"http:///nohost", 0, nullptr, 0, nullptr},
        {"http://h.example:99999/x", 0, nullptr, 0, nullptr},
    };
    for (const auto& c : cases) {
        char* host = nullptr;
        char* path = nullptr;
        int32_t port = -1;
        EXPECT_EQ(httpSplitUrl(c.url, &host, &port, &path), c.ok) << c.url;
        if (c.ok) {
            EXPECT_STREQ(host, c.host) << c.url;
            EXPECT_EQ(port, c.port) << c.url;
            EXPECT_STREQ(path, c.path) << c.url;
            memFree(host);
            memFree(path);
        } else {
            EXPECT_EQ(host, nullptr);
            EXPECT_EQ(path, nullptr);
        }
    }
    EXPECT_EQ(httpSplitUrl(nullptr, nullptr, nullptr, nullptr), 0);
}

// Requests through a real proxy program to the loopback server: an error status of the
// proxy is an answer, not a transport failure.
TEST(HttpRequestRealProxy, ForwardsAndRequiresBasicAuthentication) {
    if (!testing_support::TinyProxy::available()) GTEST_SKIP() << "tinyproxy is not installed";
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("numhits=0\n"));
    for (bool withAuth : {false, true}) {
        SCOPED_TRACE(withAuth ? "with authentication" : "open");
        testing_support::TinyProxy proxy(withAuth);
        ASSERT_TRUE(proxy.up());
        const size_t before = server.requestCount();
        Exchange x("127.0.0.1", server.port(), "/qmethod=V");
        httpRequestSetProxy(x.request, "127.0.0.1", proxy.port(), nullptr, nullptr);
        httpRequestSetTimeouts(x.request, 10, 1);
        ASSERT_EQ(x.send(), 0);
        EXPECT_EQ(x.status, withAuth ? 407 : 200);
        EXPECT_EQ(server.requestCount(), before + (withAuth ? 0u : 1u));
        if (!withAuth) {
            EXPECT_EQ(x.bodyText(), "numhits=0\n");
            EXPECT_EQ(server.lastRequest().rfind("GET /qmethod=V HTTP/1.", 0), 0u)
                << server.lastRequest();
            continue;
        }
        Exchange y("127.0.0.1", server.port(), "/b");
        httpRequestSetProxy(y.request, "127.0.0.1", proxy.port(), "user", "pass");
        httpRequestSetTimeouts(y.request, 10, 1);
        ASSERT_EQ(y.send(), 0);
        EXPECT_EQ(y.status, 200);
        EXPECT_EQ(y.bodyText(), "numhits=0\n");
        EXPECT_EQ(server.requestCount(), before + 1);
    }
}
