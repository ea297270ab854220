// The ixoserver program on free loopback ports in a temporary home: raw HTTP and curl,
// malformed requests, the three ways to stop it, and a kill during indexing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "ixo.h"
#include "server/httpreq.h"
#include "tests/common/loopback_server.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"

namespace {

using namespace std::chrono_literals;

std::string rawExchange(int port, const std::string& raw, bool halfClose = true) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return {};
    }
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    size_t off = 0;
    while (off < raw.size()) {
        ssize_t n = ::send(fd, raw.data() + off, raw.size() - off, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server may close early on an oversized request
        off += static_cast<size_t>(n);
    }
    if (halfClose) ::shutdown(fd, SHUT_WR);
    std::string reply;
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return reply;
}

std::string bodyOf(const std::string& reply) {
    size_t p = reply.find("\r\n\r\n");
    return p == std::string::npos ? std::string() : reply.substr(p + 4);
}

std::string get(int port, const std::string& path) {
    return bodyOf(rawExchange(port, "GET " + path + " HTTP/1.0\r\nPragma: No-Cache\r\n\r\n"));
}

std::string post(int port, const std::string& path, const std::string& body) {
    return bodyOf(rawExchange(port, "POST " + path + " HTTP/1.0\r\nContent-Length: " +
                                        std::to_string(body.size()) + "\r\n\r\n" + body));
}

std::string idxDoc(int i, const std::string& words) {
    return "#IXOREFERENCE doc" + std::to_string(i) + "\n#IXOTITLE Document " + std::to_string(i) +
           "\n#IXOCONTENT\n" + words + "\n#IXOENDDOC\n";
}

using testing_support::ServerChild;

// Every test server: ports chosen by the system, small limits, the given commit interval.
std::unique_ptr<ServerChild> startServer(const std::filesystem::path& home,
                                         int commitIntervalMs = 100) {
    auto server = std::make_unique<ServerChild>(
        IXOSERVER_BIN, home,
        "QUERYPORT=0\nINDEXPORT=0\nCOMMITINTERVALMS=" + std::to_string(commitIntervalMs) +
            "\nMAXBODYBYTES=1000000\nMAXHEADERBYTES=8192\nWORKERTHREADS=8\n");
    if (server->queryPort == 0) ADD_FAILURE() << "server did not start";
    return server;
}

int hitCount(const std::string& reply) {
    size_t p = reply.find("numhits=");
    return p == std::string::npos ? -1 : std::atoi(reply.c_str() + p + 8);
}

// Queries until the documents show up (commits are batched) or a second has passed.
int hitsWithin(int port, const std::string& path, int expected) {
    int n = -1;
    auto until = std::chrono::steady_clock::now() + 1s;
    do {
        n = hitCount(get(port, path));
        if (n == expected) break;
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < until);
    return n;
}

}  // namespace

TEST(ServerProcess, IndexesQueriesAndStopsOnRequest) {
    testing_support::TempDir dir;
    auto server = startServer(dir.path());
    ASSERT_GT(server->queryPort, 0);
    std::string body = idxDoc(1, "kangaroos hop across the outback") +
                       idxDoc(2, "penguins swim in cold water") + "#IXOENDDATA\n";
    std::string reply = post(server->indexPort, "/IXOADDDATA? ", body);
    ASSERT_NE(reply.find("INDEXID="), std::string::npos) << reply;
    EXPECT_EQ(
        hitsWithin(server->queryPort, "/qmethod=E&querytext=KANGAROO~+OUTBACK~+&qnum=6&idnum=0", 1),
        1);

    // Compressed reply: 8 digits of length and a zlib stream.
    std::string raw = rawExchange(
        server->queryPort, "GET /qmethod=q&querytext=penguins&xoptions=compress HTTP/1.0\r\n\r\n");
    ASSERT_NE(raw.find("binary/compressed"), std::string::npos);
    std::string z = bodyOf(raw);
    ASSERT_GT(z.size(), 8u);
    std::string text(static_cast<size_t>(std::atoi(z.substr(0, 8).c_str())) + 4, '\0');
    uLongf len = text.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(text.data()), &len,
                         reinterpret_cast<const Bytef*>(z.data() + 8), z.size() - 8),
              Z_OK);
    text.resize(len);
    EXPECT_NE(text.find("Doc_name=doc2\n"), std::string::npos);

    // Scrambled request paths, as the desktop agent sends them.
    std::string scrambled = ixoserver::scrambleTarget("/qmethod=q&querytext=penguins&qnum=5");
    EXPECT_NE(get(server->queryPort, scrambled).find("Doc_name=doc2\n"), std::string::npos);
    std::string broken = scrambled;
    broken[8] = broken[8] == 'x' ? 'y' : 'x';
    EXPECT_NE(rawExchange(server->queryPort, "GET " + broken + " HTTP/1.0\r\n\r\n").find(" 400 "),
              std::string::npos);

    // A real HTTP client.
    std::string cmd = "curl -s -m 20 'http://127.0.0.1:" + std::to_string(server->queryPort) +
                      "/qmethod=q&querytext=kangaroos+QNUM=5&qnum=5'";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    EXPECT_NE(out.find("Doc_name=doc1\n"), std::string::npos) << out;

    EXPECT_EQ(get(server->queryPort, "/IXOSHUTDOWN"), "SHUTDOWN\n");
    EXPECT_EQ(server->waitExit(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "ixo" / "ports"));

    // Started again, the documents are there.
    server = startServer(dir.path());
    EXPECT_EQ(hitCount(get(server->queryPort, "/qmethod=q&querytext=penguins+kangaroos")), 2);
}

TEST(ServerProcess, MalformedRequestsNeverStopTheServer) {
    testing_support::TempDir dir;
    auto server = startServer(dir.path());
    const int qp = server->queryPort, ip = server->indexPort;

    EXPECT_NE(rawExchange(qp, "\x16\x03\x01garbage\xff\xfe\r\n\r\n").find(" 400 "),
              std::string::npos);
    EXPECT_NE(
        rawExchange(qp, "GET /" + std::string(20000, 'a') + " HTTP/1.0\r\n\r\n").find(" 413 "),
        std::string::npos);
    EXPECT_NE(
        rawExchange(qp, "GET /qmethod=V HTTP/1.0\r\nX: " + std::string(20000, 'h') + "\r\n\r\n")
            .find(" 413 "),
        std::string::npos);
    EXPECT_NE(rawExchange(ip, "POST /IXOADDDATA? HTTP/1.0\r\nContent-Length: 2000000\r\n\r\nxx")
                  .find(" 413 "),
              std::string::npos);
    EXPECT_NE(rawExchange(ip, "POST /IXOADDDATA? HTTP/1.0\r\nContent-Length: 500\r\n\r\n#IXOREF")
                  .find(" 400 "),
              std::string::npos);
    EXPECT_NE(rawExchange(qp, "GET /HLVN%%%% HTTP/1.0\r\n\r\n").find(" 400 "), std::string::npos);
    EXPECT_EQ(rawExchange(qp, ""),
              "HTTP/1.0 400 Bad Request\r\nServer: ixoserver\r\nContent-Type: "
              "text/plain\r\nContent-length: 19\r\nConnection: close\r\n\r\n"
              "ERROR: bad request\n");
    // Many connections at once, some abandoned half-way.
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&, i] {
            if (i % 4 == 0)
                rawExchange(qp, "GET /qmethod=q&querytext=x", true);
            else
                get(qp, "/qmethod=V");
        });
    for (auto& t : threads) t.join();

    EXPECT_TRUE(server->alive());
    EXPECT_NE(get(qp, "/qmethod=V").find("PRODUCT="), std::string::npos);

    // After a burst every worker is free again and the shutdown ends them all.
    EXPECT_EQ(get(qp, "/IXOSHUTDOWN"), "SHUTDOWN\n");
    EXPECT_EQ(server->waitExit(std::chrono::seconds(10)), 0);
}

TEST(ServerProcess, StopFileAndSignalsCommitPendingWork) {
    testing_support::TempDir dir;
    {
        // A long commit interval: only the clean shutdown can have committed the document.
        auto server = startServer(dir.path(), 60000);
        ASSERT_NE(
            post(server->indexPort, "/IXOADDDATA? ", idxDoc(1, "wombat burrows")).find("INDEXID"),
            std::string::npos);
        testing_support::writeWholeFile((dir.path() / "ixo" / "ixo.stop").string(), "");
        EXPECT_EQ(server->waitExit(), 0);
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "ixo" / "ixo.stop"));

        server = startServer(dir.path(), 60000);
        EXPECT_EQ(hitCount(get(server->queryPort, "/qmethod=q&querytext=wombat")), 1);
        post(server->indexPort, "/IXOADDDATA? ", idxDoc(2, "wombat diggers"));
        server->signal(SIGTERM);
        EXPECT_EQ(server->waitExit(), 0);
        server = startServer(dir.path(), 60000);
        EXPECT_EQ(hitCount(get(server->queryPort, "/qmethod=q&querytext=wombat")), 2);
        server->signal(SIGINT);
        EXPECT_EQ(server->waitExit(), 0);
    }
    // The hidden server kept a log.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "ixo" / "ixoserver.log"));
}

TEST(ServerProcess, KillDuringIndexingKeepsCommittedDocuments) {
    testing_support::TempDir dir;
    auto server = startServer(dir.path());
    std::string batch;
    for (int i = 0; i < 200; ++i)
        batch += idxDoc(i, "platypus number " + std::to_string(i) + " swims");
    ASSERT_NE(post(server->indexPort, "/IXOADDDATA? ", batch).find("DOCUMENTS=200"),
              std::string::npos);
    ASSERT_EQ(post(server->indexPort, "/IXOFINISHEDINDEX", ""), "FINISHED\n");

    // Keep indexing from another thread and kill the server in the middle of it.
    std::atomic<bool> done{false};
    const int indexPort = server->indexPort;
    std::thread feeder([&] {
        for (int round = 0; !done && round < 200; ++round) {
            std::string more;
            for (int i = 0; i < 50; ++i) more += idxDoc(1000 + round * 50 + i, "echidna spines");
            post(indexPort, "/IXOADDDATA? ", more);
        }
    });
    std::this_thread::sleep_for(400ms);
    server.reset();  // killed and reaped
    done = true;
    feeder.join();

    server = startServer(dir.path());
    EXPECT_EQ(hitCount(get(server->queryPort, "/qmethod=q&querytext=platypus&xoptions=counthits")),
              200);
    EXPECT_NE(get(server->queryPort, "/qmethod=V").find("PRODUCT="), std::string::npos);
    // And it keeps indexing.
    ASSERT_NE(post(server->indexPort, "/IXOADDDATA? ", idxDoc(5000, "numbat")).find("INDEXID"),
              std::string::npos);
    EXPECT_EQ(hitsWithin(server->queryPort, "/qmethod=q&querytext=numbat", 1), 1);
}

TEST(ServerProcess, LibixoSuggestionsFindIndexedDocuments) {
    testing_support::TempDir dir;
    auto server = startServer(dir.path());
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", nullptr, server->queryPort, server->indexPort), 1);
    const std::string idx =
        idxDoc(1, "Runners train for months before running marathons; endurance matters.") +
        idxDoc(2, "Bakeries sell fresh bread and sweet pastries every morning.");
    // Indexed the way the client's add-data request sends it.
    const std::string added =
        post(server->indexPort, "/IXOADDDATA? ", idx + "\n#IXOENDDATA" + "\n");
    EXPECT_NE(added.find("INDEXID"), std::string::npos) << added;

    // The client's own term making (stop words, stemming, "~" marks) meets the index.
    auto suggest = [&](const char* text) {
        IxoQueryResult r{};
        std::string first;
        int weight = -1;
        if (ixoSuggestOnTextToStructure(&ixo, text, "", "", "", "", 6, 0, 0, 0, &r) == 1 &&
            r.hitCount > 0) {
            first = r.records[0].name;
            weight = r.records[0].weight;
        }
        ixoDestroyQueryResult(&r);
        return std::make_pair(first, weight);
    };
    auto until = std::chrono::steady_clock::now() + 1s;
    auto hit = suggest("The runners were running in marathons to build endurance");
    while (hit.first.empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(20ms);
        hit = suggest("The runners were running in marathons to build endurance");
    }
    EXPECT_EQ(hit.first, "doc1");
    EXPECT_GE(hit.second, 50);
    EXPECT_EQ(suggest("fresh pastries from the bakeries").first, "doc2");

    // Scrambled requests, as the desktop agent sends them.
    ASSERT_EQ(ixoSetEncryption(&ixo, 1, nullptr), 1);
    EXPECT_EQ(suggest("fresh pastries from the bakeries").first, "doc2");

    EXPECT_EQ(get(server->indexPort, "/IXODELETEREF?docs=doc2&dbname=default"), "DELETED=1\n");
    until = std::chrono::steady_clock::now() + 1s;
    while (!suggest("fresh pastries from the bakeries").first.empty() &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(suggest("fresh pastries from the bakeries").first, "");
    ixoDestroyIxo(&ixo);
}

TEST(ServerProcess, LibixoAddsAnIdxFileFromAnHttpAddress) {
    testing_support::TempDir dir;
    auto server = startServer(dir.path());
    testing_support::LoopbackServer http;
    http.setReply(testing_support::LoopbackServer::httpReply(
        idxDoc(1, "quolls hunt at night") + idxDoc(2, "quolls rest in dens") + "#IXOENDDATA\n"));
    IXO ixo{};
    ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", nullptr, server->queryPort, server->indexPort), 1);
    char reply[2048] = {0};
    EXPECT_EQ(ixoIndexDocumentIntoDatabase(&ixo, http.url("/quolls.idx").c_str(), "REFERENCE",
                                           "wild", reply, sizeof reply),
              1)
        << reply;
    EXPECT_NE(std::string(reply).find("DOCUMENTS=2"), std::string::npos) << reply;
    EXPECT_EQ(hitsWithin(server->queryPort, "/qmethod=q&querytext=quolls&attachtoname=wild", 2), 2);

    // The ini file's MAXBODYBYTES (1000000 here) bounds the fetched text too.
    http.setReply(testing_support::LoopbackServer::httpReply(
        idxDoc(3, "numbats eat termites" + std::string(1000000, ' '))));
    EXPECT_EQ(ixoIndexDocument(&ixo, http.url("/big.idx").c_str(), "", reply, sizeof reply), -11);
    EXPECT_NE(std::string(reply).find("ERROR: cannot read"), std::string::npos) << reply;
    http.setReply(testing_support::LoopbackServer::httpReply("gone", "text/plain", 404));
    EXPECT_EQ(ixoIndexDocument(&ixo, http.url("/gone.idx").c_str(), "", reply, sizeof reply), -11);
    EXPECT_EQ(hitCount(get(server->queryPort, "/qmethod=q&querytext=numbats+quolls")), 2);
    ixoDestroyIxo(&ixo);
}
