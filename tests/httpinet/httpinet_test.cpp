// Requests through the system's proxy settings or a named proxy: which proxy is chosen,
// a real proxy program in between (open and with Basic authentication), peers that
// misbehave, relaying, the connectivity probe and the ixo client in system-proxy mode.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "ixo_api.h"
#include "ixo_info.h"
#include "support/httpinet.h"
#include "support/httprequest.h"
#include "support/netprobe.h"
#include "tests/common/loopback_server.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"
#include "tests/common/tiny_proxy.h"
#include "tests/common/tls_peer.h"

using testing_support::LoopbackServer;
using testing_support::TinyProxy;
using testing_support::unusedPort;

namespace {

// Sets (or, with nullptr, removes) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

// No proxy from the test's own environment gets in the way.
struct CleanProxyEnv {
    ScopedEnv a{"http_proxy", nullptr}, b{"HTTP_PROXY", nullptr}, c{"https_proxy", nullptr},
        d{"HTTPS_PROXY", nullptr}, e{"all_proxy", nullptr}, f{"ALL_PROXY", nullptr},
        g{"no_proxy", nullptr}, h{"NO_PROXY", nullptr};
};

std::string chosen(const char* name, int32_t proxyPort, const char* host, int32_t port) {
    char* p = inetChooseProxy(name, proxyPort, host, port);
    if (p == nullptr) return "<unusable>";
    std::string out = p;
    memFree(p);
    return out;
}

// One exchange of inetExchange and what came back.
struct Result {
    int32_t rc = -99;
    int32_t status = -1;
    std::string response;
};
Result run(const InetExchange& x) {
    Result r;
    char* response = nullptr;
    int32_t length = 0;
    r.rc = inetExchange(&x, &response, &length, &r.status);
    if (response) {
        r.response.assign(response, static_cast<size_t>(length));
        memFree(response);
    }
    return r;
}
InetExchange exchangeTo(const char* host, int port, const char* path = "/") {
    InetExchange x{};
    x.host = host;
    x.port = port;
    x.path = path;
    x.timeout = 10;
    return x;
}

// httpRequestSend with a proxy; status, body and result.
struct Sent {
    int32_t rc = -99;
    int32_t status = -1;
    std::string body;
};
Sent sendVia(const char* host, int port, const char* url, const char* proxy, int proxyPort,
             const char* user = nullptr, const char* password = nullptr,
             const char* postData = nullptr) {
    Sent s;
    HttpRequest* request = nullptr;
    httpRequestCreate(&request);
    httpRequestSetHost(request, host, port);
    httpRequestSetUrl(request, url);
    if (postData) httpRequestSetPostData(request, postData);
    if (proxy) httpRequestSetProxy(request, proxy, proxyPort, user, password);
    httpRequestSetTimeouts(request, 10, 10);
    char* body = nullptr;
    int32_t length = 0;
    s.rc = httpRequestSend(request, &s.status, nullptr, &body, &length);
    if (body) {
        s.body.assign(body, static_cast<size_t>(length));
        memFree(body);
    }
    httpRequestDestroy(&request);
    return s;
}

#define REQUIRE_TINYPROXY() \
    if (!TinyProxy::available()) GTEST_SKIP() << "tinyproxy is not installed"

}  // namespace

TEST(InetProxyChoice, LocalHostsSpecialNamesAndTheEnvironment) {
    CleanProxyEnv clean;
    for (const char* local : {"intranet", "localhost", "LOCALHOST.", "db.localhost", "127.0.0.1",
                              "127.10.0.3", "::1", "[::1]"})
        EXPECT_EQ(inetIsLocalHost(local), 1) << local;
    for (const char* remote : {"retrieval.example", "192.0.2.7", "fd00::2", "localhost.example"})
        EXPECT_EQ(inetIsLocalHost(remote), 0) << remote;

    EXPECT_EQ(chosen("ORVIQ_CERNPROXYcache.example", 8080, "www.example", 80),
              "http://cache.example:8080");
    EXPECT_EQ(chosen("ORVIQ_CERNPROXYcache.example", 0, "www.example", 6200),
              "http://cache.example:6200");
    EXPECT_EQ(chosen("ORVIQ_CERNPROXYcache.example", 8080, "intranet", 80), "");
    EXPECT_EQ(chosen("ORVIQ_CERNPROXY", 8080, "www.example", 80), "<unusable>");
    EXPECT_EQ(chosen("ORVIQ_CERNPROXYuser@evil.example", 8080, "www.example", 80), "<unusable>");

    EXPECT_EQ(chosen("ORVIQ_AUTOPROXY", 0, "www.example", 80), "");
    ScopedEnv proxy("http_proxy", "http://127.0.0.1:3128");
    EXPECT_EQ(chosen("ORVIQ_AUTOPROXY", 0, "www.example", 80), "http://127.0.0.1:3128");
    EXPECT_EQ(chosen("ORVIQ_AUTOPROXY", 0, "127.0.0.1", 80), "");
    // Anything but the special names goes direct, whatever the environment says.
    EXPECT_EQ(chosen("cache.example", 8080, "www.example", 80), "");
    EXPECT_EQ(chosen(nullptr, 0, "www.example", 80), "");
    ScopedEnv noProxy("no_proxy", ".example");
    EXPECT_EQ(chosen("ORVIQ_AUTOPROXY", 0, "www.example", 80), "");
}

TEST(InetRealProxy, EveryModeReachesTheServerAsChosen) {
    REQUIRE_TINYPROXY();
    CleanProxyEnv clean;
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("through"));
    TinyProxy proxy(false, server.port());
    ASSERT_TRUE(proxy.up());

    // A named proxy: the request line carries the absolute URL, the proxy passes it on.
    Sent named = sendVia("retrieval.example", 6200, "/qmethod=V&x=a b", "ORVIQ_CERNPROXY127.0.0.1",
                         proxy.port(), nullptr, nullptr, "posted=1");
    ASSERT_EQ(named.rc, 0);
    EXPECT_EQ(named.status, 200);
    EXPECT_EQ(named.body, "through");
    ASSERT_EQ(server.requestCount(), 1u);
    std::string seen = server.lastRequest();
    // The method stays the request's own, as on the socket path.
    EXPECT_EQ(seen.rfind("GET http://retrieval.example:6200/qmethod=V&x=a%20b HTTP/1.", 0), 0u)
        << seen;
    EXPECT_EQ(seen.find("Content-Type"), std::string::npos) << seen;
    EXPECT_NE(seen.find("Via: "), std::string::npos) << seen;
    EXPECT_NE(seen.find("User-Agent: Microsoft"), std::string::npos) << seen;
    EXPECT_NE(seen.find("Pragma: No-Cache"), std::string::npos) << seen;
    EXPECT_EQ(seen.substr(seen.size() - 8), "posted=1");

    // The system's proxy, from the environment.
    {
        ScopedEnv env("http_proxy", proxy.url().c_str());
        Sent automatic = sendVia("retrieval.example", 6200, "/auto", "ORVIQ_AUTOPROXY", 0);
        ASSERT_EQ(automatic.rc, 0);
        EXPECT_EQ(automatic.body, "through");
        ASSERT_EQ(server.requestCount(), 2u);
        EXPECT_NE(server.lastRequest().find("/auto HTTP/1."), std::string::npos);
        EXPECT_NE(server.lastRequest().find("Via: "), std::string::npos);
    }

    // Direct: neither a proxy name nor the environment's proxy (a dead port) is used;
    // local hosts skip even the special names' proxies.
    ScopedEnv dead("http_proxy", ("http://127.0.0.1:" + std::to_string(unusedPort())).c_str());
    LoopbackServer direct;
    direct.setReply(LoopbackServer::httpReply("direct"));
    InetExchange x = exchangeTo("127.0.0.1", direct.port(), "/plain");
    Result plain = run(x);
    EXPECT_EQ(plain.rc, 1);
    EXPECT_EQ(plain.status, 200);
    EXPECT_EQ(plain.response.rfind("HTTP/1.0 200", 0), 0u);
    EXPECT_EQ(plain.response.substr(plain.response.size() - 6), "direct");
    for (const char* name : {"ORVIQ_AUTOPROXY", "ORVIQ_CERNPROXYproxy.invalid"}) {
        Sent bypass = sendVia("127.0.0.1", direct.port(), "/local", name, unusedPort());
        EXPECT_EQ(bypass.rc, 0) << name;
        EXPECT_EQ(bypass.body, "direct") << name;
    }
    Sent dotless = sendVia("localhost", direct.port(), "/local", "ORVIQ_AUTOPROXY", 0);
    EXPECT_EQ(dotless.body, "direct");
    EXPECT_EQ(direct.requestCount(), 4u);
    // Direct, the request carries what the socket path sends (no Host header either).
    EXPECT_EQ(direct.requests()[1].rfind("GET /local HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(direct.requests()[1].find("Host:"), std::string::npos);
}

TEST(InetRealProxy, BasicAuthenticationAfterA407IsSentOnce) {
    REQUIRE_TINYPROXY();
    CleanProxyEnv clean;
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("authorised"));
    TinyProxy proxy(true, server.port());
    ASSERT_TRUE(proxy.up());

    Sent withoutUser =
        sendVia("retrieval.example", 80, "/a", "ORVIQ_CERNPROXY127.0.0.1", proxy.port());
    EXPECT_EQ(withoutUser.rc, 0);  // the proxy's refusal is a status, not a failure
    EXPECT_EQ(withoutUser.status, 407);
    EXPECT_EQ(server.requestCount(), 0u);

    Sent withUser = sendVia("retrieval.example", 80, "/b", "ORVIQ_CERNPROXY127.0.0.1", proxy.port(),
                            "user", "pass");
    ASSERT_EQ(withUser.rc, 0);
    EXPECT_EQ(withUser.status, 200);
    EXPECT_EQ(withUser.body, "authorised");
    EXPECT_EQ(server.requestCount(), 1u);

    // A proxy that keeps refusing is asked exactly twice, the second time with the
    // credentials, and its last answer comes back.
    LoopbackServer refusing;
    refusing.setReply(LoopbackServer::httpReply("denied", "text/plain", 407,
                                                "Proxy-Authenticate: Basic realm=\"p\"\r\n"));
    Sent refused = sendVia("retrieval.example", 80, "/c", "ORVIQ_CERNPROXY127.0.0.1",
                           refusing.port(), "user", "wrong");
    EXPECT_EQ(refused.rc, 0);
    EXPECT_EQ(refused.status, 407);
    EXPECT_EQ(refused.body, "denied");
    ASSERT_EQ(refusing.requestCount(), 2u);
    EXPECT_EQ(refusing.requests()[0].find("Proxy-Authorization"), std::string::npos);
    EXPECT_NE(refusing.requests()[1].find("Proxy-Authorization: Basic dXNlcjp3cm9uZw=="),
              std::string::npos);
}

TEST(InetPeers, LongHeadersEarlyCloseRedirectTimeoutAndLimits) {
    CleanProxyEnv clean;
    {
        LoopbackServer server;
        const std::string longHeader = "X-Long: " + std::string(6000, 'h') + "\r\n";
        server.setReply(LoopbackServer::httpReply("body", "text/plain", 200, longHeader));
        Result r = run(exchangeTo("127.0.0.1", server.port()));
        EXPECT_EQ(r.rc, 1);
        EXPECT_NE(r.response.find(longHeader), std::string::npos);
        EXPECT_EQ(r.response.substr(r.response.size() - 8), "\r\n\r\nbody");
    }
    {
        LoopbackServer server;  // a redirect is handed back, not followed
        server.setReply(LoopbackServer::httpReply("moved", "text/plain", 302,
                                                  "Location: http://elsewhere.example/\r\n"));
        Result r = run(exchangeTo("127.0.0.1", server.port()));
        EXPECT_EQ(r.rc, 1);
        EXPECT_EQ(r.status, 302);
        EXPECT_EQ(server.requestCount(), 1u);
    }
    for (auto mode : {LoopbackServer::Mode::CloseAtOnce, LoopbackServer::Mode::CloseAfterRequest}) {
        LoopbackServer server;
        server.setMode(mode);
        EXPECT_EQ(run(exchangeTo("127.0.0.1", server.port())).rc, 0);
    }
    {
        LoopbackServer server;  // the body is cut short of its announced length
        server.setReply("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b");
        EXPECT_EQ(run(exchangeTo("127.0.0.1", server.port())).rc, 0);
    }
    {
        LoopbackServer server;
        server.setMode(LoopbackServer::Mode::NeverAnswer);
        InetExchange x = exchangeTo("127.0.0.1", server.port());
        x.timeout = 1;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run(x).rc, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    {
        LoopbackServer server;
        server.setReply(LoopbackServer::httpReply(std::string(10000, 'b')));
        InetExchange x = exchangeTo("127.0.0.1", server.port());
        x.maxResponse = 5000;
        EXPECT_EQ(run(x).rc, HTTP_ERR_TOO_LARGE);
        x.maxResponse = 0;
        EXPECT_EQ(run(x).rc, 1);
    }
    // Arguments that cannot make a request.
    EXPECT_EQ(run(exchangeTo("bad host", 80)).rc, 0);
    EXPECT_EQ(run(exchangeTo("127.0.0.1", 0)).rc, 0);
    InetExchange x = exchangeTo("127.0.0.1", 80);
    x.method = "GET /x HTTP/1.0\r\nInjected:";
    EXPECT_EQ(run(x).rc, 0);
    x = exchangeTo("127.0.0.1", 80);
    x.extraHeaders = "NoColon\r\n";
    EXPECT_EQ(run(x).rc, 0);
    EXPECT_EQ(run(exchangeTo(nullptr, 80)).rc, 0);
}

namespace {
struct Progress {
    int calls = 0;
    int32_t largestChunk = 0;
    int32_t total = 0;
};
void onProgress(void* arg, const char*, int32_t chunkLength, int32_t total) {
    auto* p = static_cast<Progress*>(arg);
    ++p->calls;
    p->largestChunk = std::max(p->largestChunk, chunkLength);
    p->total = total;
}
}  // namespace

TEST(InetPeers, ProgressAndRelayMode) {
    CleanProxyEnv clean;
    LoopbackServer server;
    const std::string body(20000, 'r');
    server.setReply(LoopbackServer::httpReply(body));
    Progress progress;
    char* response = nullptr;
    int32_t length = 0, status = 0;
    ASSERT_EQ(inetRequest("Agent", "127.0.0.1", server.port(), nullptr, 0, nullptr, nullptr, "GET",
                          "HTTP/1.0", "/p", nullptr, nullptr, nullptr, &response, &length, &status,
                          -1, 0, onProgress, &progress),
              1);
    memFree(response);
    EXPECT_EQ(progress.total, 20000);
    EXPECT_LE(progress.largestChunk, 4096);
    EXPECT_GE(progress.calls, 5);
    EXPECT_NE(server.lastRequest().find("User-Agent: Agent\r\n"), std::string::npos);

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::string relayed;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pair[1], buffer, sizeof buffer)) > 0) relayed.append(buffer, n);
    });
    InetExchange x = exchangeTo("127.0.0.1", server.port(), "/r");
    x.relay = 1;
    x.relaySocket = pair[0];
    Result r = run(x);
    shutdown(pair[0], SHUT_WR);
    reader.join();
    close(pair[0]);
    close(pair[1]);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.response.empty());
    EXPECT_EQ(relayed.rfind("HTTP/1.0 200", 0), 0u);
    EXPECT_EQ(relayed.substr(relayed.size() - body.size()), body);
}

TEST(NetProbe, AnyAnswerThroughTheChosenProxyCounts) {
    CleanProxyEnv clean;
    EXPECT_EQ(netProbeUrl(nullptr, nullptr, 0, nullptr, nullptr, 2), 0);
    EXPECT_EQ(netProbeUrl("", nullptr, 0, nullptr, nullptr, 2), 0);
    netHasOutsideInterface();  // whatever the machine has, it answers without harm
    LoopbackServer refusing;
    refusing.setReply(LoopbackServer::httpReply("no", "text/plain", 503));
    const std::string url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/";
    EXPECT_EQ(netProbeUrl(url.c_str(), nullptr, 0, nullptr, nullptr, 2), 1);
    EXPECT_EQ(netProbeUrl(url.c_str(), "ORVIQ_AUTOPROXY", 0, "", "", 2), 1);
    EXPECT_NE(refusing.lastRequest().find("Pragma: No-Cache"), std::string::npos);
    LoopbackServer silent;
    silent.setMode(LoopbackServer::Mode::CloseAtOnce);
    const std::string closed = "http://127.0.0.1:" + std::to_string(silent.port()) + "/";
    EXPECT_EQ(netProbeUrl(closed.c_str(), nullptr, 0, nullptr, nullptr, 2), 0);
}

TEST(InetSecure, VerifiedCertificatesOnlyAndNothingSentOtherwise) {
    if (!testing_support::tlsToolsAvailable()) GTEST_SKIP() << "openssl or python3 missing";
    CleanProxyEnv clean;
    testing_support::TestCertificates certs;
    ASSERT_TRUE(certs.ok());
    LoopbackServer backend;
    backend.setReply(LoopbackServer::httpReply("secret reply"));
    testing_support::TlsRelay good(backend.port(),
                                   certs.issue("good", "DNS:secure.example,IP:127.0.0.1"));
    ASSERT_GT(good.port(), 0);
    const std::string ca = certs.caFile();
    char error[INET_ERROR_SIZE];
    auto secureTo = [&](int port, const char* caFile, const char* path = "/a?b=c") {
        InetExchange x = exchangeTo("127.0.0.1", port, path);
        x.secure = 1;
        x.caFile = caFile;
        x.errorText = error;
        return x;
    };

    Result ok = run(secureTo(good.port(), ca.c_str()));
    ASSERT_EQ(ok.rc, 1) << error;
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.response.substr(ok.response.size() - 12), "secret reply");
    ASSERT_EQ(backend.requestCount(), 1u);
    EXPECT_EQ(backend.lastRequest().rfind("GET /a?b=c HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(backend.lastRequest().find("Host: 127.0.0.1:"), std::string::npos);

    // Certificates that must be refused: another name, one the client does not trust,
    // a trusted one without the CA file. None lets a request byte through.
    testing_support::TlsRelay otherName(backend.port(), certs.issue("other", "DNS:other.example"));
    testing_support::TlsRelay selfSigned(
        backend.port(), certs.issue("self", "DNS:secure.example,IP:127.0.0.1", true));
    const std::pair<int, const char*> refused[] = {
        {otherName.port(), ca.c_str()}, {selfSigned.port(), ca.c_str()}, {good.port(), nullptr}};
    for (const auto& [port, caFile] : refused) {
        ASSERT_GT(port, 0);
        Result r = run(secureTo(port, caFile));
        EXPECT_EQ(r.rc, INET_ERR_TLS) << port;
        EXPECT_TRUE(r.response.empty());
        EXPECT_NE(std::string(error), "") << port;
    }
    EXPECT_NE(std::string(error).find("certificate"), std::string::npos) << error;
    // (A connection refused after its handshake, for its name, reaches the backend
    // without a byte.)
    size_t withBytes = 0;
    for (const std::string& bytes : backend.requests()) withBytes += bytes.empty() ? 0 : 1;
    EXPECT_EQ(withBytes, 1u);
    // No clear text instead: a plain server on the secure port fails as well.
    LoopbackServer plain;
    EXPECT_EQ(run(secureTo(plain.port(), ca.c_str())).rc, INET_ERR_TLS);
    for (const std::string& bytes : plain.requests())
        EXPECT_EQ(bytes.find("GET"), std::string::npos) << "only a handshake went out";
    EXPECT_EQ(run(secureTo(good.port(), ca.c_str(), "http://127.0.0.1/")).rc, 0);

    // Through a real proxy the connection is tunnelled; the certificate is checked for
    // the server's name (which only the proxy's side resolves).
    if (!TinyProxy::available()) return;
    testing_support::TlsRelay upstream(good.port());
    TinyProxy proxy(false, upstream.port());
    ASSERT_TRUE(proxy.up());
    InetExchange x = secureTo(443, ca.c_str(), "/tunnelled");
    x.host = "secure.example";
    x.proxyName = "ORVIQ_CERNPROXY127.0.0.1";
    x.proxyPort = proxy.port();
    Result tunnelled = run(x);
    ASSERT_EQ(tunnelled.rc, 1) << error;
    EXPECT_EQ(tunnelled.status, 200);
    EXPECT_EQ(backend.lastRequest().rfind("GET /tunnelled HTTP/1.0\r\n", 0), 0u);
    ASSERT_FALSE(upstream.connectLines().empty());
    EXPECT_EQ(upstream.connectLines()[0].rfind("CONNECT secure.example:443 ", 0), 0u);
}

#ifdef IXOSERVER_BIN
TEST(InetRealProxy, IxoClientInSystemProxyModeReachesARealServer) {
    REQUIRE_TINYPROXY();
    CleanProxyEnv clean;
    testing_support::TempDir home;
    // The server takes requests that name it "retrieval.example" in their Host header.
    testing_support::ServerChild server(
        IXOSERVER_BIN, home.path(), "QUERYPORT=0\nINDEXPORT=0\nALLOWEDHOSTS=retrieval.example\n");
    ASSERT_GT(server.queryPort, 0);
    TinyProxy proxy(false, server.queryPort);
    ASSERT_TRUE(proxy.up());
    ScopedEnv env("http_proxy", proxy.url().c_str());
    // Through the proxy: the server's name is one only the proxy could resolve.
    for (const char* proxyName : {"ORVIQ_AUTOPROXY", "ORVIQ_CERNPROXY127.0.0.1"}) {
        IXO ixo{};
        ASSERT_EQ(ixoCreateIxo(&ixo, "retrieval.example", nullptr, server.queryPort, 0), IXO_OK);
        ASSERT_EQ(ixoAddProxySettings(&ixo, proxyName, proxy.port(), "", ""), IXO_OK);
        IxoServerInfo* info = nullptr;
        EXPECT_EQ(ixoGetInfoToStructure(&ixo, &info), IXO_OK) << proxyName;
        if (info) ixoDestroyInfoStructure(info);
        ixoDestroyIxo(&ixo);
    }
    // The local server directly, with the environment's proxy left alone.
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", server.queryPort, 0), IXO_OK);
    ASSERT_EQ(ixoAddProxySettings(&ixo, "ORVIQ_AUTOPROXY", 0, "", ""), IXO_OK);
    ScopedEnv dead("http_proxy", ("http://127.0.0.1:" + std::to_string(unusedPort())).c_str());
    IxoServerInfo* info = nullptr;
    EXPECT_EQ(ixoGetInfoToStructure(&ixo, &info), IXO_OK);
    if (info) ixoDestroyInfoStructure(info);
    ixoDestroyIxo(&ixo);
}
#endif
