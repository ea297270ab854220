// IXOADD of an http address: the IDX text comes from a loopback HTTP server and is
// indexed like a local file; failed or oversized fetches are refused like a missing file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/dispatch.h"
#include "server/idxfetch.h"
#include "server/store.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

using namespace ixoserver;
using testing_support::LoopbackServer;

namespace {

std::string idxDoc(const std::string& ref, const std::string& content,
                   const std::string& extra = "") {
    return "#IXOREFERENCE " + ref + "\n#IXOTITLE " + ref + "\n" + extra + "#IXOCONTENT\n" +
           content + "\n#IXOENDDOC\n";
}

// A loopback port that refuses connections: bound, never listening, held for the test.
class RefusingPort {
  public:
    RefusingPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~RefusingPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    int port = 0;

  private:
    int fd_ = -1;
};

class FetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config.home = dir.path().string();
        config.maxBodyBytes = 4096;
        store = std::make_unique<Store>(config.dataPath(), 20);
        std::string error;
        ASSERT_TRUE(store->open(error)) << error;
        dispatcher = std::make_unique<Dispatcher>(*store, config);
    }
    std::string request(PortKind port, const std::string& target) {
        HttpRequestData r;
        r.method = "GET";
        r.target = target;
        std::string body = dispatcher->handle(port, r, true).reply.body;
        store->commit();
        return body;
    }
    size_t hits(const std::string& query) {
        std::string reply = request(PortKind::Query, "/qmethod=q&querytext=" + query);
        size_t n = 0, pos = 0;
        while ((pos = reply.find("Doc_name=", pos)) != std::string::npos) ++n, ++pos;
        return n;
    }

    testing_support::TempDir dir;
    ServerConfig config;
    std::unique_ptr<Store> store;
    std::unique_ptr<Dispatcher> dispatcher;
    LoopbackServer http;
};

}  // namespace

TEST_F(FetchTest, IndexesTheFetchedTextLikeALocalFile) {
    // The text mentions the retrieval client's error marker: a fetched file is data and
    // must not be taken for a server reply.
    http.setReply(LoopbackServer::httpReply(
        idxDoc("w1", "Wombats dig burrows. Invalid Instruction is only a phrase here.") +
        idxDoc("w1", "Wombat burrows have many sections", "#IXOSECTION 1\n") + "#IXOENDDATA\n"));
    std::string reply =
        request(PortKind::Index, "/IXOADD?" + http.url("/docs/wombat.idx") + "&IXODBNAME=animals");
    EXPECT_NE(reply.find("DOCUMENTS=2\n"), std::string::npos) << reply;
    ASSERT_EQ(http.requestCount(), 1u);
    const std::string sent = http.lastRequest();
    EXPECT_EQ(sent.rfind("GET /docs/wombat.idx HTTP/1.0\r\n", 0), 0u) << sent;
    EXPECT_NE(sent.find("\r\nHost: 127.0.0.1:" + std::to_string(http.port()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(hits("wombat&attachtoname=animals"), 2u);

    // KILLDUPLICATES=REFERENCE replaces both sections by the one sent again.
    http.setReply(LoopbackServer::httpReply(idxDoc("w1", "Wombats sleep by day")));
    reply = request(PortKind::Index, "/IXOADD?" + http.url("/w.idx") +
                                         "&KILLDUPLICATES=REFERENCE&IXODBNAME=animals");
    EXPECT_NE(reply.find("INDEXID="), std::string::npos) << reply;
    EXPECT_EQ(hits("wombat&attachtoname=animals"), 1u);
    EXPECT_EQ(hits("sleep"), 1u);
}

TEST_F(FetchTest, FailedFetchesAreRefusedLikeAMissingFile) {
    const std::string missing = request(PortKind::Index, "/IXOADD?" + dir.file("none.idx"));
    ASSERT_EQ(missing.rfind("ERROR: cannot read ", 0), 0u) << missing;

    auto refused = [&](const std::string& address) {
        std::string reply = request(PortKind::Index, "/IXOADD?" + address);
        EXPECT_EQ(reply.rfind("ERROR: cannot read " + address, 0), 0u) << reply;
        EXPECT_EQ(reply.find("INDEXID"), std::string::npos) << reply;
        EXPECT_EQ(reply.find('\n'), reply.size() - 1) << reply;  // one line
        return reply;
    };
    RefusingPort closed;
    ASSERT_GT(closed.port, 0);
    refused("http://127.0.0.1:" + std::to_string(closed.port) + "/a.idx");

    // One byte over the limit is refused; exactly the limit is accepted.
    const std::string head = "#IXOREFERENCE big\n#IXOTITLE big\n#IXOCONTENT\n";
    const std::string tail = "\n#IXOENDDOC\n";
    std::string exact = head + std::string(4096 - head.size() - tail.size(), 'b') + tail;
    ASSERT_EQ(exact.size(), 4096u);
    exact.replace(head.size(), 9, "kangaroo ");
    http.setReply(LoopbackServer::httpReply(exact));
    EXPECT_NE(request(PortKind::Index, "/IXOADD?" + http.url("/exact.idx")).find("DOCUMENTS=1"),
              std::string::npos);
    http.setReply(LoopbackServer::httpReply(exact + "x"));
    EXPECT_NE(refused(http.url("/over.idx")).find("larger than 4096"), std::string::npos);
    // Without a Content-Length the limit holds all the same.
    http.setReply("HTTP/1.0 200 OK\r\n\r\n" + std::string(100000, 'z'));
    refused(http.url("/endless.idx"));

    http.setReply(LoopbackServer::httpReply("not here", "text/plain", 404));
    EXPECT_NE(refused(http.url("/gone.idx")).find("404"), std::string::npos);
    http.setReply("HTTP/1.0 200 OK\r\nContent-Length: 900\r\n\r\n" + idxDoc("cut", "short"));
    refused(http.url("/cut.idx"));
    http.setReply(idxDoc("nohead", "a reply without a status line"));
    refused(http.url("/raw.idx"));
    http.setMode(LoopbackServer::Mode::CloseAfterRequest);
    refused(http.url("/silent.idx"));
    refused("https://127.0.0.1:" + std::to_string(http.port()) + "/tls.idx");
    refused("http://:80/nohost.idx");

    EXPECT_EQ(hits("kangaroo"), 1u);
    EXPECT_EQ(hits("short+nohead"), 0u);
}

TEST(IdxFetch, AddressesAndRequestPaths) {
    EXPECT_TRUE(isHttpLocation("HTTP://x/y"));
    EXPECT_TRUE(isHttpLocation("https://x"));
    EXPECT_FALSE(isHttpLocation("/home/u/http://x"));
    EXPECT_FALSE(isHttpLocation("file:///a.idx"));

    // A location arrives percent-decoded: blanks are encoded again for the request line.
    LoopbackServer http;
    http.setReply(LoopbackServer::httpReply(idxDoc("r", "c")));
    std::string text, error;
    ASSERT_TRUE(fetchIdxText("http://127.0.0.1:" + std::to_string(http.port()) + "/my docs/a.idx",
                             1000, 5, text, error))
        << error;
    EXPECT_EQ(text, idxDoc("r", "c"));
    EXPECT_EQ(http.lastRequest().rfind("GET /my%20docs/a.idx HTTP/1.0\r\n", 0), 0u);
    EXPECT_FALSE(fetchIdxText("ftp://127.0.0.1/a", 1000, 5, text, error));
    EXPECT_TRUE(text.empty());
}
