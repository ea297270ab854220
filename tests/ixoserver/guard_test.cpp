// What the server refuses: requests a web page makes or that name a foreign host,
// commands without the owner's credentials, local files that are not plain files or
// are too large, fetches of its own ports or that drip, unbounded term requests and
// numbers that do not fit; and what it keeps: replies only after a commit, job numbers
// across a restart, credentials generated into a private ini file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "server/dispatch.h"
#include "server/idxfetch.h"
#include "server/netserver.h"
#include "server/srvconfig.h"
#include "server/store.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"

using namespace ixoserver;
using namespace std::chrono_literals;
using testing_support::LoopbackServer;

namespace {

std::string idxDoc(const std::string& ref, const std::string& content) {
    return "#IXOREFERENCE " + ref + "\n#IXOTITLE " + ref + "\n#IXOCONTENT\n" + content +
           "\n#IXOENDDOC\n";
}

int modeOf(const std::filesystem::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

class GuardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config.home = dir.path().string();
        config.maxBodyBytes = 4096;
        config.commitIntervalMs = 60000;  // only explicit commits reach the disk
        open();
    }
    void open() {
        store = std::make_unique<Store>(config.dataPath(), config.commitIntervalMs);
        std::string error;
        ASSERT_TRUE(store->open(error)) << error;
        dispatcher = std::make_unique<Dispatcher>(*store, config);
    }
    DispatchResult send(PortKind port, const std::string& target, const std::string& body = "",
                        std::vector<std::pair<std::string, std::string>> headers = {}) {
        HttpRequestData r;
        r.method = body.empty() ? "GET" : "POST";
        r.target = target;
        r.body = body;
        r.headers = std::move(headers);
        return dispatcher->handle(port, r, true);
    }
    std::string q(const std::string& target) { return send(PortKind::Query, target).reply.body; }
    std::string idx(const std::string& target, const std::string& body = "") {
        return send(PortKind::Index, target, body).reply.body;
    }
    int count(const std::string& word) {
        const std::string r = q("/qmethod=q&querytext=" + word + "&xoptions=counthits");
        return std::atoi(r.c_str() + r.find("numhits=") + 8);
    }

    testing_support::TempDir dir;
    ServerConfig config;
    std::unique_ptr<Store> store;
    std::unique_ptr<Dispatcher> dispatcher;
};

}  // namespace

TEST_F(GuardTest, RequestsOfWebPagesAndForeignHostsAreRefused) {
    ASSERT_NE(idx("/IXOADDDATA? ", idxDoc("a", "aardvark")).find("INDEXID="), std::string::npos);
    using Headers = std::vector<std::pair<std::string, std::string>>;
    const Headers refusedHeaders[] = {
        {{"Origin", "https://evil.example"}},
        {{"origin", "null"}},
        {{"Sec-Fetch-Site", "cross-site"}},
        {{"Sec-Fetch-Site", "same-site"}},
        {{"Host", "rebind.attacker.example"}},
        {{"Host", "rebind.attacker.example:6223"}},
        {{"Host", "127.0.0.1"}, {"Host", "evil.example"}},
        {{"Host", "10.0.0.1"}},
    };
    for (const auto& h : refusedHeaders) {
        auto r = send(PortKind::Index, "/IXORESET", "", h);
        EXPECT_EQ(r.reply.status, 403) << h.front().first << ": " << h.front().second;
        r = send(PortKind::Query, "/qmethod=c&idnum=1", "", h);
        EXPECT_EQ(r.reply.status, 403);
        EXPECT_EQ(r.reply.body.find("aardvark"), std::string::npos);
        r = send(PortKind::Query, "/IXOSHUTDOWN", "", h);
        EXPECT_FALSE(r.shutdown);
    }
    EXPECT_EQ(count("aardvark"), 1);  // the resets were not carried out

    const Headers allowedHeaders[] = {
        {},
        {{"Host", "127.0.0.1:6223"}},
        {{"Host", "localhost"}},
        {{"HOST", "LocalHost:1"}},
        {{"Host", "[::1]:6223"}},
        {{"Host", "127.1.2.3"}},
        {{"Sec-Fetch-Site", "none"}},
        {{"User-Agent", "curl/8"}, {"Accept", "*/*"}},
    };
    for (const auto& h : allowedHeaders)
        EXPECT_NE(send(PortKind::Query, "/qmethod=c&idnum=1", "", h).reply.body.find("aardvark"),
                  std::string::npos);

    // Names the owner lists are taken as well.
    config.allowedHosts = {"myhost.lan"};
    EXPECT_EQ(send(PortKind::Query, "/qmethod=V", "", {{"Host", "MyHost.lan:80"}}).reply.status,
              200);
    EXPECT_EQ(send(PortKind::Query, "/qmethod=V", "", {{"Host", "other.lan"}}).reply.status, 403);
}

TEST_F(GuardTest, IndexCommandsAndShutdownNeedTheCredentials) {
    config.indexUser = "ixo-owner";
    config.indexPassword = "s3cret";
    for (const char* target :
         {"/IXOADDDATA? ", "/IXOADDDATA?user=ixo-owner&pass=wrong",
          "/IXOADDDATA?user=ixo-owne&pass=s3cret", "/IXOADDDATA?pass=s3cret"}) {
        auto r = send(PortKind::Index, target, idxDoc("a", "aardvark"));
        EXPECT_EQ(r.reply.status, 403) << target;
    }
    EXPECT_EQ(count("aardvark"), 0);
    EXPECT_NE(
        idx("/IXOADDDATA? &user=ixo-owner&pass=s3cret", idxDoc("a", "aardvark")).find("INDEXID="),
        std::string::npos);
    EXPECT_EQ(count("aardvark"), 1);

    auto r = send(PortKind::Query, "/IXOSHUTDOWN");
    EXPECT_EQ(r.reply.status, 403);
    EXPECT_FALSE(r.shutdown);
    r = send(PortKind::Query, "/IXOSHUTDOWN?user=ixo-owner&pass=s3cre");
    EXPECT_FALSE(r.shutdown);
    r = send(PortKind::Query, "/IXOSHUTDOWN?user=ixo-owner&pass=s3cret");
    EXPECT_TRUE(r.shutdown);
    EXPECT_EQ(r.reply.body, "SHUTDOWN\n");

    // With a query pair, every query needs it (the index pair does not do), and is
    // refused with the same status and form of text as an index command.
    config.queryUser = "reader";
    config.queryPassword = "pw";
    for (const char* target :
         {"/qmethod=q&querytext=aardvark", "/qmethod=q&querytext=aardvark&user=reader&pass=p",
          "/qmethod=q&querytext=aardvark&user=ixo-owner&pass=s3cret", "/qmethod=V&pass=pw",
          "/qmethod=c&idnum=1&user=reader"}) {
        r = send(PortKind::Query, target);
        EXPECT_EQ(r.reply.status, 403) << target;
        EXPECT_EQ(r.reply.body, "ERROR: queries need a valid user and password\n") << target;
    }
    EXPECT_EQ(send(PortKind::Index, "/IXOFINISHEDINDEX").reply.body,
              "ERROR: index commands need a valid user and password\n");
    EXPECT_NE(q("/qmethod=q&querytext=aardvark&user=reader&pass=pw").find("Doc_name=a"),
              std::string::npos);
    // QUERYAUTH=OFF answers anyone.
    config.queryAuth = false;
    EXPECT_NE(q("/qmethod=q&querytext=aardvark").find("Doc_name=a"), std::string::npos);

    // Switched off by the owner, index commands are open again.
    config.indexAuth = false;
    EXPECT_NE(idx("/IXOFINISHEDINDEX"), "");
    EXPECT_EQ(send(PortKind::Index, "/IXOFINISHEDINDEX").reply.status, 200);
}

TEST(ServerCredentials, GeneratedAtFirstStartIntoAPrivateIniFile) {
    testing_support::TempDir dir;
    const auto ini = dir.path() / "ixo" / "ixo.ini";
    ServerConfig first;
    std::string error;
    ASSERT_TRUE(loadServerConfig(dir.path().string(), first, error)) << error;
    EXPECT_TRUE(first.credentialsGenerated);
    EXPECT_EQ(first.indexUser.rfind("ixo-", 0), 0u);
    EXPECT_GE(first.indexPassword.size(), 32u);
    EXPECT_EQ(modeOf(ini), 0600);
    EXPECT_EQ(modeOf(dir.path() / "ixo"), 0700);
    const std::string text = testing_support::readWholeFile(ini.string());
    EXPECT_NE(text.find("\r\nINDEXUSER=" + first.indexUser + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nINDEXPASSWORD=" + first.indexPassword + "\r\n"), std::string::npos);
    // A query pair of its own, stored beside it.
    EXPECT_TRUE(first.queryCredentialsGenerated);
    EXPECT_GE(first.queryPassword.size(), 32u);
    EXPECT_NE(first.queryPassword, first.indexPassword);
    EXPECT_NE(text.find("\r\nQUERYUSER=" + first.queryUser + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nQUERYPASSWORD=" + first.queryPassword + "\r\n"), std::string::npos);

    // Started again, the same pair is read, not a new one made.
    ServerConfig again;
    ASSERT_TRUE(loadServerConfig(dir.path().string(), again, error));
    EXPECT_FALSE(again.credentialsGenerated);
    EXPECT_FALSE(again.queryCredentialsGenerated);
    EXPECT_EQ(std::tie(again.indexUser, again.indexPassword, again.queryUser, again.queryPassword),
              std::tie(first.indexUser, first.indexPassword, first.queryUser, first.queryPassword));

    // An ini file written by hand without them (world-readable) gets a pair and is made
    // private; its other lines stay.
    testing_support::writeWholeFile(ini.string(),
                                    "; mine\n[DEFAULT]\nX=1\n[Server]\nQUERYPORT=7001\n");
    ::chmod(ini.c_str(), 0644);
    ::chmod((dir.path() / "ixo").c_str(), 0755);
    ServerConfig hand;
    ASSERT_TRUE(loadServerConfig(dir.path().string(), hand, error));
    EXPECT_TRUE(hand.credentialsGenerated);
    EXPECT_EQ(hand.queryPort, 7001);
    EXPECT_EQ(modeOf(ini), 0600);
    EXPECT_EQ(modeOf(dir.path() / "ixo"), 0700);
    EXPECT_EQ(testing_support::readWholeFile(ini.string()),
              "; mine\n[DEFAULT]\nX=1\n[Server]\nQUERYPORT=7001\nINDEXUSER=" + hand.indexUser +
                  "\nINDEXPASSWORD=" + hand.indexPassword + "\nQUERYUSER=" + hand.queryUser +
                  "\nQUERYPASSWORD=" + hand.queryPassword + "\n");

    // Each switch turns off its own pair: nothing is generated or required for it.
    struct Case {
        const char* ini;
        bool indexPair, queryPair;
    };
    for (const Case& c : {Case{"[SERVER]\nINDEXAUTH=OFF\nQUERYAUTH=OFF\n", false, false},
                          Case{"[SERVER]\nINDEXAUTH=OFF\n", false, true},
                          Case{"[SERVER]\nQUERYAUTH=0\n", true, false}}) {
        testing_support::writeWholeFile(ini.string(), c.ini);
        ServerConfig off;
        ASSERT_TRUE(loadServerConfig(dir.path().string(), off, error));
        EXPECT_EQ(off.indexAuth, c.indexPair) << c.ini;
        EXPECT_EQ(off.queryAuth, c.queryPair) << c.ini;
        EXPECT_EQ(off.indexUser.empty(), !c.indexPair) << c.ini;
        EXPECT_EQ(off.queryUser.empty(), !c.queryPair) << c.ini;
    }
}

TEST_F(GuardTest, LocalFilesMustBePlainAndWithinTheLimit) {
    const auto fifo = dir.path() / "pipe.idx";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO with no writer would block a reader forever.
    auto pending = std::async(std::launch::async, [&] { return idx("/IXOADD?" + fifo.string()); });
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready) << "IXOADD of a FIFO blocked";
    const std::string fifoReply = pending.get();
    EXPECT_EQ(fifoReply, "ERROR: cannot read " + fifo.string() + "\n");

    const auto big = dir.file("big.idx");
    testing_support::writeWholeFile(big, idxDoc("big", std::string(5000, 'x')));
    EXPECT_EQ(idx("/IXOADD?" + big), "ERROR: cannot read " + big + "\n");
    EXPECT_EQ(idx("/IXOADD?" + dir.path().string()),
              "ERROR: cannot read " + dir.path().string() + "\n");
    const auto missing = dir.file("missing.idx");
    EXPECT_EQ(idx("/IXOADD?" + missing), "ERROR: cannot read " + missing + "\n");

    const auto fine = dir.file("fine.idx");
    testing_support::writeWholeFile(fine, idxDoc("fine", "okapi"));
    EXPECT_NE(idx("/IXOADD?" + fine).find("DOCUMENTS=1"), std::string::npos);
    EXPECT_EQ(count("okapi"), 1);
}

TEST_F(GuardTest, FetchesNeverReachTheServersOwnPorts) {
    LoopbackServer http;
    http.setReply(LoopbackServer::httpReply(idxDoc("own", "ocelot")));
    dispatcher->setPorts(http.port(), http.port() + 1);
    for (const std::string host : {"127.0.0.1", "localhost", "127.0.0.2", "0.0.0.0"}) {
        const std::string address = "http://" + host + ":" + std::to_string(http.port()) + "/x";
        EXPECT_EQ(idx("/IXOADD?" + address),
                  "ERROR: cannot read " + address + ": cannot connect\n");
    }
    EXPECT_EQ(http.requestCount(), 0u);
    EXPECT_EQ(count("ocelot"), 0);
    // Another port on the same machine is fetched.
    dispatcher->setPorts(http.port() + 1, http.port() + 2);
    EXPECT_NE(idx("/IXOADD?" + http.url("/x")).find("DOCUMENTS=1"), std::string::npos);
}

TEST(IdxFetch, OneDeadlineAndOneReasonForEveryConnectionFailure) {
    // A peer that sends one byte every 200 ms, forever.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const int port = ntohs(a.sin_port);
    std::atomic<bool> stop{false};
    std::thread dripper([&] {
        int c = ::accept(listener, nullptr, nullptr);
        const char* reply = "HTTP/1.0 200 OK\r\n\r\n#IXOREFERENCE d\n#IXOCONTENT\nslow slow slow";
        for (size_t i = 0; c >= 0 && !stop && reply[i]; ++i) {
            ::send(c, reply + i, 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(200ms);
        }
        if (c >= 0) ::close(c);
    });
    FetchLimits limits;
    limits.deadlineSeconds = 1;
    std::string text, error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(
        fetchIdxText("http://127.0.0.1:" + std::to_string(port) + "/d.idx", limits, text, error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(error, "cannot connect");
    stop = true;
    dripper.join();
    ::close(listener);

    // A body holding a zero byte arrives whole.
    LoopbackServer zero;
    const std::string withZero = std::string("#IXOREFERENCE z\n#IXOCONTENT\nzebu\0tail\n", 38);
    zero.setReply(LoopbackServer::httpReply(withZero));
    ASSERT_TRUE(fetchIdxText(zero.url("/z.idx"), limits, text, error)) << error;
    EXPECT_EQ(text, withZero);

    // Refused, no such host, a peer that closes at once and one that is not HTTP: alike.
    LoopbackServer closing;
    closing.setMode(LoopbackServer::Mode::CloseAfterRequest);
    LoopbackServer notHttp;
    notHttp.setReply("SSH-2.0-something\r\n");
    const std::string addresses[] = {"http://127.0.0.1:" + std::to_string(port) + "/gone",
                                     "http://no-such-host.invalid/x", closing.url("/a"),
                                     notHttp.url("/b")};
    for (const std::string& address : addresses) {
        EXPECT_FALSE(fetchIdxText(address, limits, text, error));
        EXPECT_EQ(error, "cannot connect") << address;
    }
}

TEST_F(GuardTest, TermRequestsAreBoundedAndNumbersDoNotWrap) {
    ASSERT_NE(idx("/IXOADDDATA? ", idxDoc("first", "narwhal")).find("DOCIDS=1\n"),
              std::string::npos);
    std::string ids, terms;
    for (int i = 0; i < 5000; ++i) ids += (i ? "+" : "") + std::to_string(1 + i % 3);
    for (int i = 0; i < 2000; ++i) terms += "word" + std::to_string(i) + "+";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(q("/qmethod=t&idnum=20&querytext=" + ids).rfind("ERROR: ", 0), 0u);
    EXPECT_EQ(q("/qmethod=q&querytext=" + terms).rfind("ERROR: ", 0), 0u);
    EXPECT_EQ(q("/qmethod=E&idnum=0&querytext=" + terms).rfind("ERROR: ", 0), 0u);
    EXPECT_EQ(q("/qmethod=a&querytext=" + terms).rfind("ERROR: ", 0), 0u);
    EXPECT_EQ(q("/qmethod=b&querytext=" + terms).rfind("ERROR: ", 0), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_NE(q("/qmethod=t&idnum=5&querytext=1+1+1").find("NARWHAL"), std::string::npos);

    // 2^32 + 1 is not document 1.
    for (const char* target :
         {"/qmethod=c&idnum=4294967297", "/qmethod=z&idnum=4294967297",
          "/qmethod=e&idnum=4294967297", "/qmethod=s&idnum=4294967297&querytext=x",
          "/qmethod=t&querytext=4294967297"})
        EXPECT_EQ(q(target).find("narwhal"), std::string::npos) << target;
    EXPECT_EQ(q("/qmethod=s&idnum=4294967297&querytext=x").rfind("ERROR: ", 0), 0u);
    EXPECT_EQ(q("/qmethod=p&idnum=4294967297").find("STATUS=finished"), std::string::npos);
    EXPECT_EQ(idx("/IXODELETEDOC?docs=4294967297"), "DELETED=0\n");
    EXPECT_EQ(idx("/IXOREPLACE",
                  "#IXODOCID 4294967297\n#IXOFIELDNAME IXOTITLE\n"
                  "#IXOFIELDVALUE wrapped\n"),
              "REPLACED=0\nNOTFOUND=1\n");
    EXPECT_EQ(idx("/IXOUPDATE", "#IXOTERM wrapped\n+4294967297\n"), "UPDATED=0\nNOTFOUND=1\n");
    EXPECT_EQ(count("narwhal"), 1);
    EXPECT_EQ(count("wrapped"), 0);
    EXPECT_NE(q("/qmethod=c&idnum=1").find("narwhal"), std::string::npos);
    // Digits too many for a number may still name a document by its reference.
    ASSERT_NE(idx("/IXOADDDATA? ", idxDoc("20231207123456", "dated")).find("INDEXID"),
              std::string::npos);
    EXPECT_NE(q("/qmethod=c&querytext=20231207123456").find("dated"), std::string::npos);
}

TEST_F(GuardTest, RepliesComeAfterTheCommitAndJobNumbersGoOnAfterARestart) {
    // The commit timer is a minute away: an acknowledged document is on disk at once.
    const std::string reply = idx("/IXOADDDATA? ", idxDoc("kept", "quokka"));
    ASSERT_NE(reply.find("INDEXID=1\n"), std::string::npos) << reply;
    {
        Xapian::Database onDisk((std::filesystem::path(config.dataPath()) / "xapian").string());
        EXPECT_EQ(onDisk.get_termfreq("quokka"), 1u);
    }
    EXPECT_EQ(idx("/IXODELETEREF?docs=kept"), "DELETED=1\n");
    {
        Xapian::Database onDisk((std::filesystem::path(config.dataPath()) / "xapian").string());
        EXPECT_EQ(onDisk.get_termfreq("quokka"), 0u);
    }
    EXPECT_NE(idx("/IXOADDDATA? ", idxDoc("two", "wallaby")).find("INDEXID=2\n"),
              std::string::npos);

    dispatcher.reset();
    store->close();
    open();
    const std::string after = idx("/IXOADDDATA? ", idxDoc("three", "bilby"));
    EXPECT_NE(after.find("INDEXID=3\n"), std::string::npos) << after;
    EXPECT_NE(q("/qmethod=p&idnum=3").find("STATUS=finished"), std::string::npos);
    // Document numbers are not given again either.
    EXPECT_NE(after.find("DOCIDS=3\n"), std::string::npos) << after;
}

TEST_F(GuardTest, TheDataIsPrivate) {
    ASSERT_NE(idx("/IXOADDDATA? ", idxDoc("p", "pangolin")).find("INDEXID="), std::string::npos);
    // Data left by an earlier version with a looser mask is made private on opening.
    dispatcher.reset();
    store->close();
    for (const auto& e : std::filesystem::recursive_directory_iterator(config.dataPath()))
        ::chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
    ::chmod(config.dataPath().c_str(), 0755);
    open();
    EXPECT_EQ(modeOf(config.dataPath()), 0700);
    int files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(config.dataPath())) {
        if (e.is_directory()) {
            EXPECT_EQ(modeOf(e.path()), 0700) << e.path();
        } else {
            EXPECT_EQ(modeOf(e.path()), 0600) << e.path();
            ++files;
        }
    }
    EXPECT_GT(files, 0);
}

TEST(ServerLog, PasswordsNeverReachTheLog) {
    EXPECT_EQ(loggableTarget("/IXOADDDATA?user=alice&pass=s3cret"),
              "/IXOADDDATA?user=alice&pass=***");
    EXPECT_EQ(loggableTarget("/IXOSHUTDOWN?PASS=s3cret&x=1"), "/IXOSHUTDOWN?PASS=***&x=1");
    EXPECT_EQ(loggableTarget("/qmethod=q&querytext=compass=north&pass=a&pass=b"),
              "/qmethod=q&querytext=compass=north&pass=***&pass=***");
    // A scrambled path is unscrambled first, so the password is found in it.
    const std::string scrambled = scrambleTarget("/qmethod=q&querytext=x&user=u&pass=s3cret");
    const std::string logged = loggableTarget(scrambled);
    EXPECT_EQ(logged.find("s3cret"), std::string::npos) << logged;
    EXPECT_NE(logged.find("pass=***"), std::string::npos) << logged;
}

TEST_F(GuardTest, ResultLinesComeFromTheShortRecordAndOldDocumentsStillList) {
    const std::string body =
        "#IXOREFERENCE m1\n#IXODBNAME mail\n#IXOTITLE Meeting\n"
        "#IXOFIELD From=anna\n#IXOCONTENT\n" +
        std::string("minutes of the meeting ") + std::string(20000, 'x') + "\n#IXOENDDOC\n" +
        idxDoc("d1", "minutes in the default database");
    ASSERT_EQ(idx("/IXOCREATEDBASE?mail"), "DATABASE=1\n");
    ASSERT_NE(idx("/IXOADDDATA? ", body).find("DOCUMENTS=2"), std::string::npos);
    const std::string before = q("/qmethod=q&querytext=minutes&qnum=5");
    EXPECT_NE(before.find("Doc_name=m1\nURL_title=Meeting\n"), std::string::npos) << before;
    EXPECT_NE(before.find("dbase=1\nFrom=anna\n"), std::string::npos) << before;
    EXPECT_NE(before.find("Doc_name=d1\nURL_title=d1\n"), std::string::npos) << before;
    EXPECT_NE(before.find("dbase=0\n"), std::string::npos) << before;
    EXPECT_EQ(before.find("xxxx"), std::string::npos);
    // A changed field shows at once.
    EXPECT_EQ(idx("/IXOREPLACE", "#IXODOCREF m1\n#IXOFIELDNAME From\n#IXOFIELDVALUE bert\n"),
              "REPLACED=1\nNOTFOUND=0\n");
    const std::string changed = q("/qmethod=q&querytext=minutes&qnum=5");
    EXPECT_NE(changed.find("dbase=1\nFrom=bert\n"), std::string::npos) << changed;
    // A summary is still made of the content.
    EXPECT_NE(q("/qmethod=q&querytext=meeting&xoptions=withsummary").find("summary=minutes of"),
              std::string::npos);

    // Documents written before the record existed are listed from their data.
    dispatcher.reset();
    store->close();
    {
        Xapian::WritableDatabase w((std::filesystem::path(config.dataPath()) / "xapian").string());
        for (Xapian::docid id : {1u, 2u}) {
            Xapian::Document d = w.get_document(id);
            d.remove_value(kResultSlot);
            w.replace_document(id, d);
        }
        w.commit();
    }
    open();
    EXPECT_EQ(q("/qmethod=q&querytext=minutes&qnum=5"), changed);
    EXPECT_EQ(idx("/IXODELETEREF?docs=m1&dbname=default"), "DELETED=0\n");
    EXPECT_EQ(idx("/IXODELETEREF?docs=m1&dbname=mail"), "DELETED=1\n");
}
