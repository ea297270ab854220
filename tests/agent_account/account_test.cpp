// The agent's side of the account server: requests byte for byte, every reply phrase,
// the "update" reply in the hive and the Extended file, and whole exchanges and
// upgrades against a real account server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "agent/AppParameters.h"
#include "agent/NuvaserverConnection.h"
#include "platform/messagebox.h"
#include "platform/registry.h"
#include "tests/agent_core/agent_test_support.h"
#include "tests/common/loopback_server.h"
#include "tests/common/tempdir.h"
#include "tests/common/tls_peer.h"
#include "tests/nuvaserver/nuva_fixture.h"

namespace {

namespace fs = std::filesystem;
using agent::CAppParameters;
using agent::CNuvaserverConnection;
using agent::CUpgrade;
using platform::RecordingMessageBox;
using testing_support::LoopbackServer;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

class AccountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hives_ = std::make_unique<agent_test::ScopedHives>(dir_.path());
        fs::create_directories(dir_.path() / "data");
        params_ = std::make_unique<CAppParameters>();
        params_->Load();
        ASSERT_TRUE(params_->OpenExtended(extended()));
        params_->SetInternetPath("sapiolux");
        params_->SetInternetExecutableName("account");
        // The logos go into the data folder.
        params_->SetQueryLogoPath(data("QueryLogo.bmp"));
        params_->SetAboutLogoPath(data("AboutLogo.bmp"));
        params_->SetSplashLogoPath(data("SplashLogo.bmp"));
    }
    std::string extended() const { return dir_.file("Extended.cfg"); }
    std::string data(const std::string& name) const {
        return (dir_.path() / "data" / name).string();
    }
    // The Extended file as another run reads it.
    std::string savedExtended(const std::string& key) const {
        CAppParameters again;
        again.OpenExtended(extended());
        return again.ExtGetText(key);
    }
    std::vector<std::string> dataFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_.path() / "data"))
            names.push_back(e.path().filename().string());
        return names;
    }

    testing_support::TempDir dir_;
    std::unique_ptr<agent_test::ScopedHives> hives_;
    std::unique_ptr<CAppParameters> params_;
};

TEST_F(AccountTest, RequestsAreSentByteForByteWithEveryValueEncoded) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("success\n"));
    params_->SetInternetHost("127.0.0.1:" + std::to_string(server.port()));
    const agent::RegistrationResult result =
        agent::registerAccount(*params_, "Ann-Lee", "p&w+x y", "ann+tag&x=1@caf\xE9.org");
    EXPECT_EQ(result.outcome, agent::RegistrationOutcome::Success);
    EXPECT_EQ(server.lastRequest(),
              "GET /sapiolux/account?METHOD=register&username=Ann-Lee&password=p%26w%2Bx%20y"
              "&emailaddress=ann%2Btag%26x%3D1%40caf%E9.org&clientversion=1.1.14 HTTP/1.0\r\n"
              "Pragma: No-Cache\r\n\r\n");
    EXPECT_EQ(params_->GetRegistered(), 1);
    EXPECT_EQ(params_->GetEmailAddress(), "ann+tag&x=1@caf\xE9.org");

    // "update" with the stored values; an empty Path leaves its segment out; the host
    // may be written as an address.
    params_->SetInternetPath("");
    params_->SetInternetHost("http://127.0.0.1:" + std::to_string(server.port()) + "/");
    CNuvaserverConnection update(*params_);
    update.SetMethod("update");
    update.SetUsername(params_->GetUsername());
    update.SetPassword(params_->GetPassword());
    EXPECT_TRUE(update.Send());
    EXPECT_EQ(server.lastRequest(),
              "GET /account?METHOD=update&username=Ann-Lee&password=p%26w%2Bx%20y"
              "&emailaddress=&clientversion=1.1.14 HTTP/1.0\r\nPragma: No-Cache\r\n\r\n");

    // A web server's refusal is no account server reply; a bad host sends nothing.
    server.setReply(LoopbackServer::httpReply("<html>gone</html>", "text/html", 404));
    EXPECT_FALSE(update.Send());
    EXPECT_EQ(update.GetStatus(), 404);
    for (const char* bad : {"", "host:0", "host:99999", "host:x", "bad host", "ftp://h"}) {
        params_->SetInternetHost(bad);
        EXPECT_FALSE(CNuvaserverConnection(*params_).Send()) << bad;
    }
    params_->SetInternetHost("https://127.0.0.1:" + std::to_string(server.port()));
    const size_t before = server.requestCount();
    EXPECT_FALSE(update.Send()) << "a plain server is no https server";
    for (size_t i = before; i < server.requestCount(); ++i)
        EXPECT_EQ(server.requests()[i].find("METHOD="), std::string::npos);
}

TEST_F(AccountTest, HttpsExchangesVerifyTheServer) {
    if (!testing_support::tlsToolsAvailable()) GTEST_SKIP() << "openssl or python3 missing";
    testing_support::TestCertificates certs;
    ASSERT_TRUE(certs.ok());
    nuva_test::NuvaServerInProcess server({{"UPGRADE", "FILE", "next.run"}});
    ASSERT_TRUE(server.ok()) << server.error();
    fs::create_directories(server.home() / "upgrades");
    fs::create_directories(server.home() / "banners");
    writeWholeFile((server.home() / "upgrades" / "next.run").string(), "#!/bin/sh\n");
    const std::string bitmap = "BM" + std::string(40, '\x02');
    writeWholeFile((server.home() / "banners" / "about.bmp").string(), bitmap);
    testing_support::TlsRelay front(server.port(),
                                    certs.issue("good", "DNS:secure.example,IP:127.0.0.1"));
    ASSERT_GT(front.port(), 0);
    ::setenv(agent::kCaFileVariable, certs.caFile().c_str(), 1);
    const std::string base = "https://127.0.0.1:" + std::to_string(front.port());

    params_->SetInternetHost(base);
    EXPECT_EQ(agent::registerAccount(*params_, "erin", "pass-word1", "e@x.org").outcome,
              agent::RegistrationOutcome::Success);
    RecordingMessageBox boxes;
    ASSERT_TRUE(agent::updateAccount(*params_, &boxes));
    EXPECT_EQ(savedExtended("IXO"), "127.0.0.1");
    // Logos and upgrades at https addresses come the same way.
    params_->SetAboutLogoAddress(base + "/banners/about.bmp");
    EXPECT_EQ(agent::fetchLogos(*params_), 1);
    EXPECT_EQ(readWholeFile(data("AboutLogo.bmp")), bitmap);
    params_->ExtSetText("UpgradeURL", base + "/upgrades/next.run");
    CUpgrade upgrade(*params_, (dir_.path() / "data").string());
    EXPECT_EQ(upgrade.Download(), CUpgrade::Result::Done);
    // Through the proxy of the settings the connection is tunnelled to the server's name.
    testing_support::TlsRelay proxy(front.port());  // answers CONNECT
    params_->SetUseProxy(2);  // the named proxy
    params_->SetProxyHost("127.0.0.1");
    params_->SetProxyPort(proxy.port());
    params_->SetInternetHost("https://secure.example");
    EXPECT_TRUE(agent::updateAccount(*params_, &boxes));
    ASSERT_EQ(proxy.connectLines().size(), 1u);
    EXPECT_EQ(proxy.connectLines()[0].rfind("CONNECT secure.example:443 ", 0), 0u);
    params_->SetUseProxy(0);

    // A certificate the agent was not told to trust (the transport's own tests cover the
    // other refusals): the exchange fails, says why, and the update changes nothing.
    CNuvaserverConnection update(*params_);
    update.SetMethod("update");
    ::unsetenv(agent::kCaFileVariable);
    params_->SetInternetHost(base);
    EXPECT_FALSE(update.Send());
    EXPECT_NE(update.GetError().find("certificate"), std::string::npos) << update.GetError();
    EXPECT_FALSE(agent::updateAccount(*params_, &boxes));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(AccountTest, ReplyPhrasesGiveTheirMessages) {
    LoopbackServer server;
    params_->SetInternetHost("127.0.0.1:" + std::to_string(server.port()));
    params_->SetBrandName("Acme");
    params_->SetIxoDatabases("Old");
    const std::pair<const char*, const char*> updates[] = {
        {"Nuvaserver Error: user incorrect", "The username you have supplied is incorrect."},
        {"Nuvaserver Error: password incorrect", "The password you have supplied is incorrect."},
        {"Nuvaserver Error: group read failure", "Unable to read group. Please contact Acme."},
        {"Nuvaserver Error: illegal cgi vars", "You have supplied incorrect details."},
        {"Nuvaserver Error: busy",
         "Due to excessive demand, we cannot allow connections at this time. Please try again "
         "at another time"},
        {"just words", "Could not retrieve configuration settings"},
    };
    for (const auto& [reply, message] : updates) {
        server.setReply(LoopbackServer::httpReply(std::string(reply) + "\nDB0=X\n"));
        RecordingMessageBox boxes;
        EXPECT_FALSE(agent::updateAccount(*params_, &boxes));
        ASSERT_EQ(boxes.shown.size(), 1u) << reply;
        EXPECT_EQ(boxes.shown[0].text, message);
        EXPECT_EQ(boxes.shown[0].caption, "Acme Vantri");
        EXPECT_EQ(params_->GetIxoDatabases(), "Old") << "no setting changes on an error";
    }

    using agent::RegistrationOutcome;
    const struct {
        bool sent;
        const char* reply;
        RegistrationOutcome outcome;
        const char* start;
    } registrations[] = {
        {true, "SUCCESS", RegistrationOutcome::Success, ""},
        {true, "Nuvaserver Error: User Already Exists", RegistrationOutcome::UserExists,
         "the username ann is already in use."},
        {true, "illegal cgi vars", RegistrationOutcome::EndAgent,
         "A user registration error (code 0)"},
        {true, "user add failure", RegistrationOutcome::EndAgent,
         "A user registration error (code 4)"},
        {true, "???", RegistrationOutcome::EndAgent,
         "The registration server returned an unrecognised"},
        {false, "", RegistrationOutcome::EndAgent, "Cannot communicate with registration server."},
    };
    for (const auto& r : registrations) {
        auto got = agent::classifyRegistration(r.sent, r.reply, "ann", "Acme");
        EXPECT_EQ(got.outcome, r.outcome) << r.reply;
        EXPECT_EQ(got.message.rfind(r.start, 0), 0u) << got.message;
        if (std::string(r.start).find("code") != std::string::npos) {
            EXPECT_NE(got.message.find("Please contact Acme."), std::string::npos);
        }
    }
    // On a refusal the values are kept anyway, but no account counts as registered.
    server.setReply(LoopbackServer::httpReply("Nuvaserver Error: user creation failure"));
    EXPECT_EQ(agent::registerAccount(*params_, "ann", "secret1", "a@b").outcome,
              RegistrationOutcome::EndAgent);
    EXPECT_EQ(params_->GetUsername(), "ann");
    EXPECT_EQ(params_->GetRegistered(), 0);
}

TEST_F(AccountTest, RegistrationRules) {
    using F = agent::RegistrationField;
    const struct {
        const char *user, *pw, *pw2, *email;
        F field;
    } cases[] = {{"ann-lee", "secret", "secret", "a@b", F::None},
                 {"", "secret", "secret", "a@b", F::Username},
                 {"ann_lee", "secret", "secret", "a@b", F::Username},
                 {"ann", "sec ret", "sec ret", "a@b", F::Password},
                 {"ann", "four", "four", "a@b", F::Password},
                 {"ann", "secret", "Secret", "a@b", F::Password2},
                 {"ann", "secret", "secret", "ab", F::Email}};
    for (const auto& c : cases)
        EXPECT_EQ(agent::checkRegistration(c.user, c.pw, c.pw2, c.email).field, c.field) << c.user;
}

TEST_F(AccountTest, ServerSelectionTakesOnlyServerNames) {
    params_->SetInternetHost("old.example");
    params_->SetRegistered(1);
    for (const char* refused : {"", "intranet", "old.example"})
        EXPECT_FALSE(agent::applyServerSelection(*params_, refused)) << refused;
    EXPECT_EQ(params_->GetRegistered(), 1);
    EXPECT_TRUE(agent::applyServerSelection(*params_, "my-localserver"));
    EXPECT_EQ(params_->GetInternetHost(), "my-localserver");
    EXPECT_EQ(params_->GetRegistered(), 0);
}

TEST_F(AccountTest, UpdateReplyLandsInTheHiveAndTheExtendedFile) {
    LoopbackServer server;
    params_->SetInternetHost("127.0.0.1:" + std::to_string(server.port()));
    const std::string bitmap = "BM" + std::string(60, '\x01');
    server.setHandler([&](const std::string& request) {
        if (request.find("GET /logo/about.bmp ") == 0)
            return LoopbackServer::httpReply(bitmap, "image/bmp");
        if (request.find("GET /logo/query.bmp ") == 0)
            return LoopbackServer::httpReply("<html>not found</html>", "text/html", 404);
        return LoopbackServer::httpReply(
            "[Settings]\r\nAlive=1\r\nIXO=ixo.example\r\nPort=6300\r\nDB0=Web\r\nDB1=News\r\n"
            "DB3=Skipped\r\nDBName0=The Web\r\nDBName1=The News\r\nShowAdvancedSettingsPage=1\r\n"
            "ShowIxoSettingsPage=0\r\nUpgradeURL=http://u.example/up.run\r\n"
            "AboutLogo=" +
            server.url("/logo/about.bmp") + "\r\nQueryLogo=" + server.url("/logo/query.bmp") +
            "\r\n[Community]\r\nCommunityIXO=c.example\r\n");
    });
    params_->SetIxoDatabasesSelected("Web,");
    RecordingMessageBox boxes;
    ASSERT_TRUE(agent::updateAccount(*params_, &boxes));
    EXPECT_TRUE(boxes.shown.empty());

    CAppParameters reread;  // the registry as the next start sees it
    reread.Load();
    EXPECT_EQ(reread.GetAlive(), 1);
    EXPECT_EQ(reread.GetIxoDatabases(), "Web,News");
    EXPECT_EQ(reread.GetIxoDatabaseNames(), "The Web,The News");
    EXPECT_EQ(reread.GetIxoDatabasesSelected(), "News,");
    EXPECT_EQ(reread.GetShowAdvancedSettingsPage(), 1);
    EXPECT_EQ(reread.GetShowIxoSettingsPage(), 0);
    EXPECT_EQ(reread.GetShowProxySettingsPage(), 1) << "absent keys keep their value";
    EXPECT_EQ(reread.GetAboutLogoAddress(), server.url("/logo/about.bmp"));

    EXPECT_EQ(savedExtended("IXO"), "ixo.example");
    EXPECT_EQ(savedExtended("PORT"), "6300");
    EXPECT_EQ(savedExtended("UpgradeURL"), "http://u.example/up.run");
    EXPECT_EQ(readWholeFile(extended()).find("ixo.example"), std::string::npos)
        << "the Extended file is saved enciphered";

    // The bitmap logo is stored; the 404 page is not taken for the query logo.
    EXPECT_EQ(readWholeFile(data("AboutLogo.bmp")), bitmap);
    EXPECT_FALSE(fs::exists(data("QueryLogo.bmp")));
    EXPECT_EQ(dataFiles().size(), 1u);

    // The same database list again leaves the user's choice alone.
    params_->SetIxoDatabasesSelected("Web,");
    ASSERT_TRUE(agent::updateAccount(*params_, &boxes));
    EXPECT_EQ(params_->GetIxoDatabasesSelected(), "Web,");
}

TEST_F(AccountTest, ExchangesWithARealAccountServer) {
    nuva_test::NuvaServerInProcess server(
        {{"UPGRADE", "FILE", "sapiolux-upgrade.run"}, {"UPGRADE", "VERSION", "9.0"}});
    ASSERT_TRUE(server.ok()) << server.error();
    params_->SetInternetHost(server.hostSetting());

    EXPECT_EQ(agent::registerAccount(*params_, "dave", "pass-word1", "dave+1@x.org").outcome,
              agent::RegistrationOutcome::Success);
    RecordingMessageBox boxes;
    EXPECT_TRUE(agent::updateAccount(*params_, &boxes));
    EXPECT_EQ(params_->GetIxoDatabases(), "Default");
    EXPECT_EQ(savedExtended("IXO"), "127.0.0.1");

    EXPECT_EQ(agent::registerAccount(*params_, "DAVE", "another1", "d@x.org").outcome,
              agent::RegistrationOutcome::UserExists);
    params_->SetPassword("wrong-one");
    EXPECT_FALSE(agent::updateAccount(*params_, &boxes));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "The password you have supplied is incorrect.");

    // The offer names the server's program; while it is away the download is a 404,
    // which leaves nothing behind.
    const std::string program = (server.home() / "upgrades" / "sapiolux-upgrade.run").string();
    const std::string marker = dir_.file("ran");
    writeWholeFile(program, "#!/bin/sh\npwd > '" + marker + "'\n");
    params_->SetPassword("pass-word1");
    ASSERT_TRUE(agent::updateAccount(*params_, &boxes));
    CUpgrade upgrade(*params_, (dir_.path() / "data").string());
    ASSERT_EQ(upgrade.Address(), server.url("/upgrades/sapiolux-upgrade.run"));
    fs::rename(program, program + ".away");
    EXPECT_EQ(upgrade.Download(), CUpgrade::Result::Failed);
    EXPECT_FALSE(upgrade.Downloaded());
    EXPECT_TRUE(dataFiles().empty());
    EXPECT_FALSE(upgrade.RunAtExit());

    // Once it is back, it is stored under its name, for its owner only, and runs.
    fs::rename(program + ".away", program);
    EXPECT_EQ(upgrade.Download(), CUpgrade::Result::Done);
    const std::string stored = data("sapiolux-upgrade.run");
    EXPECT_EQ(upgrade.File(), stored);
    struct stat st {};
    ASSERT_EQ(::stat(stored.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(dataFiles().size(), 1u);
    EXPECT_EQ(savedExtended("UpgradeURL"), "") << "the offer is cleared after the download";
    ASSERT_TRUE(upgrade.RunAtExit());
    for (int i = 0; i < 200 && readWholeFile(marker).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(readWholeFile(marker), (dir_.path() / "data").string() + "\n");
}

TEST_F(AccountTest, UpgradeNamesThatWouldLeaveTheFolderAreRefused) {
    for (const char* bad : {"http://h/up/", "http://h/..", "http://h/a/%2E%2E%2Fx",
                            "http://h/x%2Fy", "http://h/.profile", "http://h/a%0Ab",
                            "http://h/a%5Cb", "file:///etc/passwd", "http://h"})
        EXPECT_EQ(agent::upgradeFileName(bad), "") << bad;
    EXPECT_EQ(agent::upgradeFileName("http://h:8/dir/new%20agent.run?x=1"), "new agent.run");

    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("#!/bin/sh\n"));
    params_->ExtSetText("UpgradeURL", server.url("/..%2F..%2Fescape"));
    CUpgrade upgrade(*params_, (dir_.path() / "data").string());
    EXPECT_EQ(upgrade.Download(), CUpgrade::Result::Refused);
    EXPECT_EQ(server.requestCount(), 0u);
    // An empty body is no program either.
    server.setReply(LoopbackServer::httpReply(""));
    params_->ExtSetText("UpgradeURL", server.url("/empty.run"));
    EXPECT_EQ(upgrade.Download(), CUpgrade::Result::Failed);
    EXPECT_TRUE(dataFiles().empty());
    EXPECT_FALSE(fs::exists(dir_.path() / "escape"));
}

}  // namespace
