// The account server against what agents and strangers send: bad input of every kind,
// racing registrations, the stored file, served files, the upgrade offer, start and stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>
#include <vector>

#include "server/nuvaserver/nuvaservice.h"
#include "support/httprequest.h"
#include "tests/common/tempdir.h"
#include "tests/nuvaserver/nuva_fixture.h"

namespace {

using nuva_test::NuvaServerInProcess;
using nuvaserver::percentEncode;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

struct Reply {
    int status = 0;
    std::string body;
};

Reply get(int port, const std::string& path, const char* method = "GET") {
    Reply out;
    HttpRequest* r = nullptr;
    httpRequestCreate(&r);
    httpRequestSetHost(r, "127.0.0.1", port);
    httpRequestSetUrl(r, path.c_str());
    httpRequestSetMethod(r, method);
    httpRequestSetTimeouts(r, 10, 10);
    char* body = nullptr;
    int32_t length = 0;
    if (httpRequestSend(r, &out.status, nullptr, &body, &length) == 0 && body) {
        out.body.assign(body, static_cast<size_t>(length));
        memFree(body);
    }
    httpRequestDestroy(&r);
    return out;
}

std::string accountPath(const std::string& method, const std::string& user,
                        const std::string& password, const std::string& email = "a@b.org",
                        const std::string& version = "1.1.14") {
    return "/sapiolux/account?METHOD=" + percentEncode(method) +
           "&username=" + percentEncode(user) + "&password=" + percentEncode(password) +
           "&emailaddress=" + percentEncode(email) + "&clientversion=" + percentEncode(version);
}

// Rows of the accounts table as "name|hash|email".
std::vector<std::string> rows(const std::string& file) {
    std::vector<std::string> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return out;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT name||'|'||hash||'|'||email FROM accounts ORDER BY rowid", -1,
                       &s, nullptr);
    while (s && sqlite3_step(s) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(s, 0);  // NULL if a field is NULL
        out.emplace_back(t ? reinterpret_cast<const char*>(t) : "NULL");
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
}

TEST(NuvaServer, RegisterUpdateAndTheirErrorPhrases) {
    NuvaServerInProcess server;
    ASSERT_TRUE(server.ok()) << server.error();
    const int port = server.port();
    EXPECT_EQ(get(port, accountPath("register", "Ann-Lee", "secret1", "ann+x&y@b.org")).body,
              "success\n");
    EXPECT_EQ(get(port, accountPath("register", "ann-lee", "other12")).body,
              "Nuvaserver Error: user already exists\n");
    Reply update = get(port, accountPath("update", "ANN-LEE", "secret1"));
    EXPECT_EQ(update.status, 200);
    EXPECT_EQ(update.body.rfind("[Settings]\r\n", 0), 0u) << update.body;
    EXPECT_NE(update.body.find("IXO=127.0.0.1\r\n"), std::string::npos);
    EXPECT_EQ(update.body.find("PORT=0"), std::string::npos) << "SERVER stays private";
    EXPECT_EQ(get(port, accountPath("update", "Ann-Lee", "Secret1")).body,
              "Nuvaserver Error: password incorrect\n");
    EXPECT_EQ(get(port, accountPath("update", "nobody", "secret1")).body,
              "Nuvaserver Error: user incorrect\n");

    // Bad registrations: user name characters, short password, e-mail forms, SQL text.
    for (const auto& [user, password, email] : std::vector<std::array<std::string, 3>>{
             {"a_b", "secret1", "a@b.org"},
             {"x'); DROP TABLE accounts; --", "secret1", "a@b.org"},
             {"", "secret1", "a@b.org"},
             {"abc", "four", "a@b.org"},
             {"abc", "secret1", "nobody"},
             {"abc", "secret1", "a@b@c"},
             {"abc", "secret1", "a b@c.org"},
             {std::string(65, 'a'), "secret1", "a@b.org"},
             {"abc", std::string(129, 'p'), "a@b.org"},
             {"abc", "secret1", std::string(250, 'm') + "@b.org"},
             {"abc", "secret1", "a@b.org\r\nX: y"}})
        EXPECT_EQ(get(port, accountPath("register", user, password, email)).body,
                  "Nuvaserver Error: illegal cgi vars\n")
            << user << " " << password << " " << email;
    // A parameter given twice, no method, an unknown method, a method other than GET.
    EXPECT_EQ(get(port, accountPath("update", "Ann-Lee", "secret1") + "&username=x").body,
              "Nuvaserver Error: illegal cgi vars\n");
    for (const auto& [path, method, status] :
         std::vector<std::tuple<std::string, const char*, int>>{
             {"/sapiolux/account?username=x", "GET", 400},
             {accountPath("delete", "Ann-Lee", "secret1"), "GET", 400},
             {accountPath("update", "Ann-Lee", "secret1"), "DELETE", 405},
             {"/other/account?METHOD=update", "GET", 404}})
        EXPECT_EQ(get(port, path, method).status, status) << method << " " << path;

    // SQL metacharacters in every field reach the database as plain text or not at all.
    EXPECT_EQ(get(port, accountPath("register", "bob", "secret1", "o'hara\";--@x.org")).body,
              "success\n");
    EXPECT_EQ(get(port, accountPath("update", "bob' OR '1'='1", "x' OR '1'='1")).body,
              "Nuvaserver Error: user incorrect\n");
    EXPECT_EQ(get(port, accountPath("update", "bob", "' OR ''='")).body,
              "Nuvaserver Error: password incorrect\n");

    // The file itself: two accounts, yescrypt hashes, no password in clear anywhere.
    const std::vector<std::string> stored = rows(server.accountsFile());
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].rfind("Ann-Lee|$y$", 0), 0u) << stored[0];
    EXPECT_NE(stored[0].find("|ann+x&y@b.org"), std::string::npos);
    EXPECT_NE(stored[1].find("|o'hara\";--@x.org"), std::string::npos);
    for (const char* suffix : {"", "-wal"}) {
        const std::string file = server.accountsFile() + suffix;
        if (!std::filesystem::exists(file)) continue;
        EXPECT_EQ(readWholeFile(file).find("secret1"), std::string::npos) << file;
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
}

TEST(NuvaServer, ManyRegistrationsOfOneNameAtOnceMakeOneAccount) {
    NuvaServerInProcess server;
    ASSERT_TRUE(server.ok()) << server.error();
    std::atomic<int> won{0}, lost{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 12; ++i)
        threads.emplace_back([&, i] {
            std::string body =
                get(server.port(), accountPath("register", "same", "secret" + std::to_string(i)))
                    .body;
            if (body == "success\n") ++won;
            if (body == "Nuvaserver Error: user already exists\n") ++lost;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(won.load(), 1);
    EXPECT_EQ(lost.load(), 11);
    EXPECT_EQ(rows(server.accountsFile()).size(), 1u);
}

TEST(NuvaServer, ServesBannerAndUpgradeFilesByPlainNamesOnly) {
    NuvaServerInProcess server({{"UPGRADE", "FILE", "agent-2.0.run"},
                                {"UPGRADE", "VERSION", "1.2"},
                                {"Community", "CommunityIXO", "c.example"}});
    ASSERT_TRUE(server.ok()) << server.error();
    writeWholeFile((server.home() / "banners" / "ad one.bmp").string(), "BM banner");
    writeWholeFile((server.home() / "upgrades" / "agent-2.0.run").string(), "#!/bin/sh\n");
    writeWholeFile((server.home() / "nuvaserver.ini.secret").string(), "not for you");
    std::filesystem::create_symlink(server.home() / "nuvaserver.ini",
                                    server.home() / "banners" / "link.bmp");
    Reply banner = get(server.port(), "/banners/ad%20one.bmp");
    EXPECT_EQ(banner.status, 200);
    EXPECT_EQ(banner.body, "BM banner");
    EXPECT_EQ(get(server.port(), "/upgrades/agent-2.0.run").body, "#!/bin/sh\n");
    for (const char* bad : {"/banners/..%2Fnuvaserver.ini", "/banners/../nuvaserver.ini",
                            "/banners/.hidden", "/banners/a%0Ab", "/banners/", "/banners/link.bmp",
                            "/upgrades/..%2F..%2Fetc%2Fpasswd", "/banners/missing.bmp"})
        EXPECT_EQ(get(server.port(), bad).status, 404) << bad;

    // The upgrade is offered to older agents only, at an address this server serves.
    ASSERT_EQ(get(server.port(), accountPath("register", "old", "secret1")).body, "success\n");
    const std::string offered = get(server.port(), accountPath("update", "old", "secret1")).body;
    const std::string address = server.url("/upgrades/agent-2.0.run");
    EXPECT_NE(offered.find("[Settings]\r\nUpgradeURL=" + address + "\r\n"), std::string::npos)
        << offered;
    EXPECT_NE(offered.find("[Community]\r\nCommunityIXO=c.example\r\n"), std::string::npos);
    EXPECT_EQ(offered.find("[UPGRADE]"), std::string::npos);
    const std::string current =
        get(server.port(), accountPath("update", "old", "secret1", "a@b.org", "1.2.0")).body;
    EXPECT_EQ(current.find("UpgradeURL"), std::string::npos);
}

TEST(NuvaServer, HelpersThatGuardNamesAndLogs) {
    EXPECT_EQ(nuvaserver::maskSecrets("/p/e?METHOD=update&username=u&password=s3&PASS=x"),
              "/p/e?METHOD=update&username=u&password=***&PASS=***");
    EXPECT_GT(nuvaserver::compareVersions("1.10", "1.9"), 0);  // by number, not by text
    EXPECT_FALSE(nuvaserver::acceptableFileName("a\\b"));
}

TEST(NuvaServer, ProgramMakesItsHomeAndStopsOnSignal) {
    testing_support::TempDir home;
    std::string ini = nuvaserver::defaultNuvaIni();
    ini.replace(ini.find("PORT=6225"), 9, "PORT=0");
    writeWholeFile(home.file("nuvaserver.ini"), ini);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::freopen("/dev/null", "w", stdout);
        ::execl(NUVASERVER_BIN, NUVASERVER_BIN, "--home", home.path().c_str(), nullptr);
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    int port = 0;
    for (int i = 0; i < 300 && port == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string text = readWholeFile(home.file("nuvaserver.port"));
        if (text.rfind("PORT=", 0) == 0) port = std::atoi(text.c_str() + 5);
    }
    ASSERT_GT(port, 0);
    EXPECT_EQ(get(port, accountPath("register", "carol", "secret1")).body, "success\n");
    struct stat st {};
    ASSERT_EQ(::stat(home.file("nuvaserver.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(home.file("nuvaserver.port")));
}

}  // namespace
