// The suggestion request and its worker against a running ixoserver, the request fill
// per source, personal-server control and sapiolux-suggest end to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "agent/service.h"
#include "agent_test_support.h"
#include "tests/common/tempdir.h"
#include "tools/ixocredentials.h"

using namespace agent;
using namespace std::chrono_literals;

namespace {

const char* kCorpus =
    "#IXOREFERENCE file:///docs/orchard.txt\n#IXOTITLE Growing apples in an orchard\n"
    "#IXOCONTENT\nApple trees in the orchard need pruning in winter. Grafting apple "
    "rootstock decides the size of the tree, and orchard owners thin the blossom so the "
    "apples grow large.\n#IXOENDDOC\n"
    "#IXOREFERENCE file:///docs/volcano.txt\n#IXOTITLE Volcanoes and lava\n#IXOCONTENT\n"
    "A volcano erupts when magma rises through the crust. Lava flows, volcanic ash and "
    "pyroclastic clouds follow the eruption of a stratovolcano.\n#IXOENDDOC\n"
    "#IXOREFERENCE file:///docs/sailing.txt\n#IXOTITLE Sailing a dinghy\n#IXOCONTENT\n"
    "Sailing a dinghy means trimming the mainsail and the jib, watching the wind shifts, "
    "and tacking the boat through the wind with the tiller.\n#IXOENDDOC\n";

RequestParams localParams(int port, const std::string& query) {
    RequestParams p;
    p.host = "127.0.0.1";
    p.port = port;
    p.encrypt = 1;
    p.queryText = query;
    p.nSuggests = 6;
    p.threshold = 1;
    return p;
}

class WorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef IXOSERVER_BIN
        GTEST_SKIP() << "ixoserver is not built";
#endif
        server = std::make_unique<agent_test::ServerProcess>(dir.path() / "server");
        ASSERT_TRUE(server->running());
        ASSERT_TRUE(server->index(kCorpus));
    }
    // Registers the running server as the personal one in the machine hive (its folder's
    // ini file names the server's ports) and makes an agent folder without data files
    // (the shipped ones are used).
    void registerPersonalServer() {
        const std::filesystem::path personal = dir.path() / "personal";
        std::filesystem::create_directories(personal / "ixo");
        testing_support::writeWholeFile((personal / "ixo" / "ixo.ini").string(),
                                        "[SERVER]\nQUERYPORT=" + std::to_string(server->queryPort) +
                                            "\nINDEXPORT=" + std::to_string(server->indexPort) +
                                            "\n");
        CAppParameters s;
        s.SetPersonalIxoPath(personal.string());
        s.SetPersonalIxoExeFilePath("/nonexistent/ixoserver");
        std::filesystem::create_directories(dir.path() / "agent");
    }
    testing_support::TempDir dir;
    std::unique_ptr<agent_test::ServerProcess> server;
};

}  // namespace

TEST(QueryPath, JoinsDatabasesAndAppendsOptions) {
    RequestParams p;
    p.queryText = "APPLE~+PEAR~+";
    p.nSuggests = 6;
    p.threshold = 37;
    EXPECT_EQ(buildQueryPath(p), "/qmethod=E&querytext=APPLE~+PEAR~+&qnum=6&idnum=37");
    p.databases = "Books,Web+Adult";
    p.extraOptions = "&xoptions=compress&refuseref=ann";
    EXPECT_EQ(buildQueryPath(p),
              "/qmethod=E&querytext=APPLE~+PEAR~+&qnum=6&idnum=37&attachtoname=Books+Web+Adult"
              "&xoptions=compress&refuseref=ann");
}

TEST(QueryPath, EveryValueIsEscapedAndTheQueryBounded) {
    RequestParams p;
    p.nSuggests = 6;
    p.threshold = 37;
    // Terms and database names cannot end the request line or add a parameter.
    p.queryText = "A B~+C&x=1+\xE9T\xC9~+";
    p.databases = "My Books,Web&Adult";
    p.extraOptions = "&refuseref=bob smith\r\n#x";
    EXPECT_EQ(buildQueryPath(p),
              "/qmethod=E&querytext=A%20B~+C%26x%3D1+%E9T%C9~+&qnum=6&idnum=37"
              "&attachtoname=My%20Books+Web%26Adult&refuseref=bob%20smith%0D%0A%23x");

    // A huge query text keeps its first 40 terms.
    std::string huge;
    for (int i = 0; i < 172532; ++i) huge += "TERM" + std::to_string(i) + "~+";
    p.queryText = huge;
    p.databases.clear();
    p.extraOptions.clear();
    std::string path = buildQueryPath(p);
    EXPECT_LE(path.size(), kMaxQueryPathBytes);
    std::string expected = "/qmethod=E&querytext=";
    for (int i = 0; i < 40; ++i) expected += "TERM" + std::to_string(i) + "~+";
    EXPECT_EQ(path, expected + "&qnum=6&idnum=37");
    // Long terms: whole terms up to the byte bound.
    p.queryText.clear();
    for (int i = 0; i < 40; ++i) p.queryText += std::string(300, 'Q') + "~+";
    path = buildQueryPath(p);
    EXPECT_LE(path.size() - std::string("/qmethod=E&querytext=&qnum=6&idnum=37").size(),
              kMaxQueryTextBytes);
    EXPECT_EQ(path.find("~+&qnum"), path.size() - std::string("~+&qnum=6&idnum=37").size());
}

TEST(RequestFill, PerSourceRules) {
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    CAppParameters s;
    s.SetConfigFile(dir.file("ext.cfg"));
    s.SetUsername("ann");
    s.SetUseProxy(2);
    s.SetProxyHost("proxy.lan");
    s.Load();
    s.ExtSetText("IXO", "remote.example");
    s.ExtSetNumber("PORT", 6300);
    s.ExtSetText("WEBDATABASES", "THEWEB,BOOKS");
    s.ExtSetText("ADULTDATABASE", "ADULT");
    s.ExtSetText("COMMUNITYIXO", "community.example");
    s.ExtSetNumber("COMMUNITYQUERYPORT", 6400);
    s.ExtSetText("COMMUNITYDATABASE", "People");

    RequestParams local = requestParamsForSource(s, kSourceLocal, "Q+");
    EXPECT_EQ(local.host, "127.0.0.1");
    EXPECT_EQ(local.port, 6223);
    EXPECT_EQ(local.extraOptions, "");
    EXPECT_EQ(local.useProxy, 0);
    EXPECT_EQ(local.useCache, 0);
    EXPECT_EQ(local.encrypt, 1);
    EXPECT_EQ(local.databases, "");

    RequestParams community = requestParamsForSource(s, kSourceCommunity, "Q+");
    EXPECT_EQ(community.extraOptions, "&xoptions=compress&refuseref=ann");
    EXPECT_EQ(community.host, "community.example");
    EXPECT_EQ(community.port, 6400);
    EXPECT_EQ(community.databases, "People");
    EXPECT_EQ(community.useCache, 0);
    EXPECT_EQ(community.useProxy, 2);
    EXPECT_EQ(community.proxyHost, "proxy.lan");

    // The first web query copies WEBDATABASES into WEBSELECTION and saves the file.
    RequestParams web = requestParamsForSource(s, kSourceWeb, "Q+");
    EXPECT_EQ(web.databases, "THEWEB,BOOKS+ADULT");
    EXPECT_EQ(web.host, "remote.example");
    EXPECT_EQ(web.port, 6300);
    EXPECT_EQ(web.useCache, 1);
    EXPECT_EQ(web.cacheSize, 12);
    EXPECT_EQ(web.cacheTime, 7200);
    EXPECT_EQ(web.extraOptions, "&xoptions=compress");
    {
        CAppParameters again;
        again.Load();
        EXPECT_EQ(again.ExtGetText("WEBSELECTION"), "THEWEB,BOOKS");
    }
    s.ExtSetFlag("BLOCKPORN", true);
    s.ExtSetFlag("NOCOMPRESS", true);
    s.ExtSetFlag("NOENCRYPTQUERY", true);
    RequestParams news = requestParamsForSource(s, kSourceNews, "Q+");
    EXPECT_EQ(news.databases, "News");
    EXPECT_EQ(news.extraOptions, "");
    EXPECT_EQ(news.encrypt, 0);
    EXPECT_EQ(requestParamsForSource(s, kSourceCommunity, "Q+").extraOptions, "&refuseref=ann");
    // The user name is one value of the path, whatever it holds.
    s.SetUsername("bob smith&user=x");
    RequestParams bob = requestParamsForSource(s, kSourceCommunity, "Q+");
    EXPECT_EQ(bob.extraOptions, "&refuseref=bob%20smith%26user%3Dx");
    EXPECT_EQ(buildQueryPath(bob),
              "/qmethod=E&querytext=Q+&qnum=6&idnum=37&attachtoname=People"
              "&refuseref=bob%20smith%26user%3Dx");
}

TEST_F(WorkerTest, StatusesHitsNoHitsNoClientAndDeadPort) {
    CSuggestionRequest request;
    request.Fill(localParams(server->queryPort, "ORCHARD~+APPL~+"));
    ASSERT_TRUE(request.HasClient());
    EXPECT_EQ(request.RunAndWait(), kStatusHits);
    EXPECT_TRUE(request.HasResult());
    EXPECT_FALSE(request.NoHits());
    IxoQueryResult copy{};
    ASSERT_TRUE(request.CopyResult(&copy));
    ASSERT_GE(copy.hitCount, 1);
    EXPECT_STREQ(copy.records[0].name, "file:///docs/orchard.txt");
    EXPECT_NE(suggestionLine(copy.records[0], "", true).find("%   Growing apples in an orchard"),
              std::string::npos);
    ixoDestroyQueryResult(&copy);

    request.Fill(localParams(server->queryPort, "QWXYZZY~+"));
    EXPECT_EQ(request.RunAndWait(), kStatusNoHits);
    EXPECT_TRUE(request.NoHits());

    CSuggestionRequest noHost;
    noHost.Fill(localParams(0, "ORCHARD~+"));
    noHost.Fill(RequestParams{});
    EXPECT_FALSE(noHost.HasClient());
    EXPECT_EQ(noHost.RunAndWait(), kStatusNoClient);

    CSuggestionRequest dead;
    dead.Fill(localParams(agent_test::freePort(), "ORCHARD~+"));
    EXPECT_EQ(dead.RunAndWait(), kStatusQueryFailed);
    EXPECT_FALSE(dead.HasResult());
}

TEST_F(WorkerTest, QueryLogGetsOneLinePerQuery) {
    CSuggestionRequest request;
    RequestParams p = localParams(server->queryPort, "VOLCANO~+LAVA~+");
    p.logQueries = 1;
    p.logPrefix = "Finder";
    p.logFolder = dir.path().string();
    request.Fill(p);
    EXPECT_EQ(request.RunAndWait(), kStatusHits);
    EXPECT_EQ(request.RunAndWait(), kStatusHits);
    EXPECT_EQ(testing_support::readWholeFile(dir.file("FinderQueryLog.txt")),
              "/qmethod=E&querytext=VOLCANO~+LAVA~+&qnum=6&idnum=1\n"
              "/qmethod=E&querytext=VOLCANO~+LAVA~+&qnum=6&idnum=1\n");

    // A product name that names another folder is not used for the log's name.
    std::filesystem::create_directories(dir.path() / "work");
    p.logFolder = (dir.path() / "work").string();
    p.logPrefix = "../../escape/x";
    request.Fill(p);
    EXPECT_EQ(request.RunAndWait(), kStatusHits);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "work" / "VantriQueryLog.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "escape"));
}

TEST(QueryLog, NamesThatLeaveTheFolderAreNotUsed) {
    EXPECT_EQ(queryLogPath("", "Finder"), "FinderQueryLog.txt");
    EXPECT_EQ(queryLogPath("/w", "Finder"), "/w/FinderQueryLog.txt");
    for (const char* hostile : {"../../escape/x", "..", "a/b", "a\\b", "..x", "x\nq"})
        EXPECT_EQ(queryLogPath("/w/", hostile), "/w/VantriQueryLog.txt") << hostile;
}

TEST_F(WorkerTest, AnOverlongPathIsNotSent) {
    CSuggestionRequest request;
    RequestParams p = localParams(server->queryPort, "VOLCANO~+LAVA~+");
    p.databases = std::string(kMaxQueryPathBytes, 'D');
    p.logQueries = 1;
    p.logPrefix = "Long";
    p.logFolder = dir.path().string();
    request.Fill(p);
    EXPECT_EQ(request.RunAndWait(), kStatusQueryFailed);
    EXPECT_FALSE(request.HasResult());
    EXPECT_FALSE(std::filesystem::exists(dir.file("LongQueryLog.txt")));
}

TEST_F(WorkerTest, TwoWorkersOnOneRequestKeepTheirOwnParameters) {
    CSuggestionRequest request;
    std::mutex lock;
    std::vector<QueryDone> done;
    request.onDone = [&](const QueryDone& d) {
        std::lock_guard<std::mutex> guard(lock);
        done.push_back(d);
    };
    RequestParams first = localParams(server->queryPort, "DINGHY~+SAIL~+");
    first.logQueries = 1;
    first.logPrefix = "A";
    first.logFolder = dir.path().string();
    request.Fill(first);
    uint32_t a = request.Start();
    // The refill for the second query happens while the first worker may still run,
    // with another port setting (a new client) and another query.
    RequestParams second = localParams(server->queryPort, "VOLCANO~+MAGMA~+");
    second.nSuggests = 1;
    second.logQueries = 1;
    second.logPrefix = "A";
    second.logFolder = dir.path().string();
    request.Fill(second);
    uint32_t b = request.Start();
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, a);
    request.WaitIdle();
    ASSERT_EQ(done.size(), 2u);
    for (const auto& d : done) EXPECT_EQ(d.status, kStatusHits);
    EXPECT_EQ(request.NewestWorker(), b);
    // Only the newest worker's result is kept.
    IxoQueryResult copy{};
    ASSERT_TRUE(request.CopyResult(&copy));
    ASSERT_EQ(copy.hitCount, 1);
    EXPECT_STREQ(copy.records[0].name, "file:///docs/volcano.txt");
    ixoDestroyQueryResult(&copy);
    std::string log = testing_support::readWholeFile(dir.file("AQueryLog.txt"));
    EXPECT_NE(log.find("querytext=DINGHY~+SAIL~+&qnum=6&"), std::string::npos) << log;
    EXPECT_NE(log.find("querytext=VOLCANO~+MAGMA~+&qnum=1&"), std::string::npos) << log;
}

TEST(PersonalServer, DetectStartAndStopThroughTheMachineHive) {
#ifndef IXOSERVER_BIN
    GTEST_SKIP() << "ixoserver is not built";
#else
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    CAppParameters s;
    s.Load();
    std::vector<std::string> messages;
    {
        CPersonalServer none(s);
        none.onMessage = [&](const std::string& title, const std::string&) {
            messages.push_back(title);
        };
        EXPECT_FALSE(none.Detect());
        EXPECT_FALSE(none.Start(false));
        EXPECT_EQ(messages, std::vector<std::string>{"Not installed"});
    }
    std::filesystem::path home = dir.path() / "personal";
    std::filesystem::create_directories(home / "ixo");
    s.SetPersonalIxoPath(home.string());
    s.SetPersonalIxoExeFilePath(IXOSERVER_BIN);
    CPersonalServer server(s);
    // A query port of 0 in the ini file means no server.
    testing_support::writeWholeFile((home / "ixo" / "ixo.ini").string(), "[SERVER]\nQUERYPORT=0\n");
    EXPECT_FALSE(server.Detect());

    int queryPort = agent_test::freePort(), indexPort = agent_test::freePort();
    testing_support::writeWholeFile((home / "ixo" / "ixo.ini").string(),
                                    "[SERVER]\nQUERYPORT=" + std::to_string(queryPort) +
                                        "\nINDEXPORT=" + std::to_string(indexPort) + "\n");
    ASSERT_TRUE(server.Detect());
    EXPECT_EQ(s.GetPersonalIxoQueryPort(), queryPort);
    CAppParameters reread;
    reread.Load();
    EXPECT_EQ(reread.GetPersonalIxoQueryPort(), queryPort);
    int documents = -1;
    ASSERT_TRUE(server.WaitReady(20000, &documents));
    EXPECT_EQ(documents, 0);

    EXPECT_TRUE(server.Stop());
    // The server goes away (its stop file is removed on exit).
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = !server.WaitReady(0);
        if (!gone) std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(gone);
#endif
}

TEST_F(WorkerTest, SapioluxSuggestEndToEnd) {
#ifdef SUGGEST_BIN
    agent_test::ScopedHives hives(dir.path());
    registerPersonalServer();
    testing_support::writeWholeFile(
        dir.file("text.txt"),
        "Sailing a dinghy means trimming the mainsail and the jib, watching the wind shifts.");
    auto run = agent_test::runProgram(
        SUGGEST_BIN, {"--explain", "--dir", (dir.path() / "agent").string(), dir.file("text.txt")});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    size_t first = run.out.find("%   ");
    ASSERT_NE(first, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(first + 4, run.out.find('\n', first) - first - 4), "Sailing a dinghy")
        << run.out;
    EXPECT_NE(run.out.find("\n    file:///docs/sailing.txt\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.rfind("query: ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("    terms: "), std::string::npos) << run.out;
    // The profile was saved in the agent's folder.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "agent" / "profile.dat"));

    // Text without terms, and a server that cannot be reached.
    testing_support::writeWholeFile(dir.file("empty.txt"), "1 2 3");
    run = agent_test::runProgram(SUGGEST_BIN,
                                 {"--dir", (dir.path() / "agent").string(), dir.file("empty.txt")});
    EXPECT_EQ(run.out, "Click on a window with text for suggestions\n");
    server.reset();
    run = agent_test::runProgram(SUGGEST_BIN,
                                 {"--dir", (dir.path() / "agent").string(), dir.file("text.txt")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Cannot communicate with server, please check your Internet connection\n");
#else
    GTEST_SKIP() << "sapiolux-suggest is not built";
#endif
}

// Windows-1252 titles reach a UTF-8 terminal as UTF-8 (UTF-8 input text is converted
// too, but the query builder splits words at every accented letter either way).
TEST_F(WorkerTest, SapioluxSuggestPrintsTitlesInTheLocalesSet) {
#ifdef SUGGEST_BIN
    ASSERT_TRUE(server->index(
        "#IXOREFERENCE file:///docs/coffee.txt\n#IXOTITLE Caf\xE9 cr\xE8me for \x80 2\n"
        "#IXOCONTENT\nThe barista pulls an espresso shot, steams the milk foam and grinds "
        "the coffee beans in the grinder before the espresso.\n#IXOENDDOC\n"));
    agent_test::ScopedHives hives(dir.path());
    registerPersonalServer();
    testing_support::writeWholeFile(
        dir.file("text.txt"),
        "The barista \xE2\x80\x94 caf\xC3\xA9 owner \xE2\x80\x94 pulls an espresso, steams the "
        "milk foam and grinds the coffee beans in the grinder.");
    setenv("LC_ALL", "C.UTF-8", 1);
    auto run = agent_test::runProgram(
        SUGGEST_BIN, {"--dir", (dir.path() / "agent").string(), dir.file("text.txt")});
    unsetenv("LC_ALL");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("%   Caf\xC3\xA9 cr\xC3\xA8me for \xE2\x82\xAC 2\n"), std::string::npos)
        << run.out;
#else
    GTEST_SKIP() << "sapiolux-suggest is not built";
#endif
}

// A personal server with the query and index pairs it generated: the agent's road for
// "My Computer" (start-up check, request fill, worker; sapiolux-suggest takes the same
// one) reads the query pair from the registered folder and is answered (the server refuses
// queries without it); other sources get no pair.
TEST(PersonalServerCredentials, MyComputerSendsTheGeneratedQueryPair) {
#ifdef IXOSERVER_BIN
    testing_support::TempDir dir;
    agent_test::ScopedHives hives(dir.path());
    const std::filesystem::path personal = dir.path() / "personal";
    const int queryPort = agent_test::freePort(), indexPort = agent_test::freePort();
    testing_support::ServerChild server(IXOSERVER_BIN, personal,
                                        "QUERYPORT=" + std::to_string(queryPort) +
                                            "\nINDEXPORT=" + std::to_string(indexPort) +
                                            "\nINDEXAUTH=ON\nQUERYAUTH=ON\n");
    ASSERT_EQ(server.queryPort, queryPort) << "ixoserver did not start";
    ixocredentials::ServerCredentials pairs;
    ASSERT_TRUE(ixocredentials::readServerCredentials(personal.string(), pairs));
    ASSERT_FALSE(pairs.queryPassword.empty());
    {
        IXO ixo{};
        ASSERT_EQ(ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", queryPort, indexPort), IXO_OK);
        ixoSetUserParameters(&ixo, pairs.indexUser.c_str(), pairs.indexPassword.c_str(), nullptr,
                             nullptr);
        char reply[512] = {0};
        EXPECT_EQ(ixoIndexLocalBuffer(&ixo, kCorpus, nullptr, reply, sizeof reply), IXO_OK)
            << reply;
        ixoDestroyIxo(&ixo);
    }

    CAppParameters s;
    s.SetPersonalIxoPath(personal.string());
    s.SetPersonalIxoExeFilePath("/nonexistent/ixoserver");
    CPersonalServer control(s);
    ASSERT_TRUE(control.Detect(false));
    int documents = -1;
    EXPECT_TRUE(control.WaitReady(5000, &documents));
    EXPECT_EQ(documents, 3);

    const std::string query = "VOLCANO+LAVA+ERUPTION+MAGMA+";
    RequestParams local = requestParamsForSource(s, kSourceLocal, query);
    EXPECT_EQ(local.userName, pairs.queryUser);
    EXPECT_EQ(local.password, pairs.queryPassword);
    CSuggestionRequest request;
    request.Fill(local);
    EXPECT_EQ(request.RunAndWait(), kStatusHits);
    IxoQueryResult result{};
    ASSERT_TRUE(request.CopyResult(&result));
    ASSERT_GT(result.hitCount, 0);
    EXPECT_STREQ(result.records[0].name, "file:///docs/volcano.txt");
    ixoDestroyQueryResult(&result);
    for (int32_t source : {kSourceCommunity, kSourceNews, kSourceWeb})
        EXPECT_EQ(requestParamsForSource(s, source, query).password, "") << source;
#else
    GTEST_SKIP() << "ixoserver is not built";
#endif
}
