// The account server seen from the window: the registration dialog, and the locate flow
// against a real account server (registration, upgrade, refused login, going on-line).
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <deque>
#include <thread>

#include "agent/NuvaserverConnection.h"
#include "agent/ui/AboutDlg.h"
#include "agent/ui/AccountFlow.h"
#include "tests/agent_ui/window_fixture.h"
#include "tests/nuvaserver/nuva_fixture.h"

namespace agent_ui_test {
namespace {

using agent::ui::CAccountFlow;
using agent::ui::ConnectChoice;
using agent::ui::CRegistrationDlg;
using platform::MsgAnswer;

// Message boxes answered from a script, recording every text.
class ScriptedBoxes : public platform::RecordingMessageBox {
  public:
    std::deque<MsgAnswer> answers;
    MsgAnswer show(const std::string& caption, const std::string& text, platform::MsgIcon icon,
                   platform::MsgButtons buttons) override {
        RecordingMessageBox::show(caption, text, icon, buttons);
        if (answers.empty()) return MsgAnswer::Cancel;
        MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::string last() const { return shown.empty() ? std::string() : shown.back().text; }
};

class ScriptedChoices : public agent::ui::ConnectChoices {
  public:
    std::deque<ConnectChoice> answers;
    std::vector<std::string> asked;
    ConnectChoice ask(const std::string&, const std::string& text) override {
        asked.push_back(text);
        ConnectChoice c = answers.empty() ? ConnectChoice::WorkOffline : answers.front();
        if (!answers.empty()) answers.pop_front();
        return c;
    }
};

void fill(CRegistrationDlg& dlg, const char* user, const char* pw, const char* pw2,
          const char* email) {
    dlg.usernameEdit()->setText(user);
    dlg.passwordEdit()->setText(pw);
    dlg.password2Edit()->setText(pw2);
    dlg.emailEdit()->setText(email);
}

class AccountWindowTest : public WindowTest {
  protected:
    CSapioluxDlg& makeAccountDialog(CAccountFlow& flow) {
        CSapioluxDlg::Env env;
        env.settings = &settings_;
        env.desktop = &desktop_;
        env.messages = &scripted_;
        env.capture = &capture_;
        env.opener = &opener_;
        env.dataDir = std::string(SAPIOLUX_SOURCE_DIR) + "/agent/data";
        env.probeTimeoutSeconds = 1;
        env.account = &flow;
        dialog_ = std::make_unique<CSapioluxDlg>(env);
        return *dialog_;
    }
    static void runCommand(CSapioluxDlg& dlg, int id) {
        for (QMenu* menu : dlg.findChildren<QMenu*>())
            for (QAction* action : menu->actions())
                if (action->data().toInt() == id) {
                    action->trigger();
                    return;
                }
        ADD_FAILURE() << "no command " << id;
    }
    ScriptedBoxes scripted_;
    ScriptedChoices choices_;
};

TEST_F(AccountWindowTest, RegistrationDialogChecksAndRegisters) {
    LoopbackServer server;
    settings_.Load();
    settings_.SetInternetHost("127.0.0.1:" + std::to_string(server.port()));
    settings_.SetInternetExecutableName("account");
    CRegistrationDlg dlg(settings_, &scripted_);
    dlg.show();

    // A rule that fails: its message, the field cleared and focused, the dialog open.
    fill(dlg, "ann_lee", "secret", "secret", "a@b");
    dlg.accept();
    EXPECT_EQ(scripted_.last(), "Your user name can only contain the characters a-Z, 0-9.");
    EXPECT_TRUE(dlg.usernameEdit()->text().isEmpty());
    EXPECT_EQ(dlg.focusWidget(), dlg.usernameEdit());
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(dlg.isVisible());

    // The name is taken: the dialog stays; then the server agrees.
    server.queueReply(LoopbackServer::httpReply("Nuvaserver Error: user already exists"));
    server.queueReply(LoopbackServer::httpReply("success"));
    fill(dlg, "ann", "secret", "secret", "\xC3\xA9l\xC3\xA9na@b.org");
    dlg.accept();
    EXPECT_EQ(scripted_.last(), "the username ann is already in use. Please choose another.");
    EXPECT_TRUE(dlg.isVisible());
    fill(dlg, "ann2", "secret", "secret", "\xC3\xA9l\xC3\xA9na@b.org");
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_NE(server.lastRequest().find("&emailaddress=%E9l%E9na%40b.org&"), std::string::npos)
        << "the address goes out in the libraries' single-byte form";
    EXPECT_EQ(settings_.GetRegistered(), 1);
    EXPECT_FALSE(dlg.endAgent());

    // No server: the message, and the agent must end.
    CRegistrationDlg lost(settings_, &scripted_);
    settings_.SetInternetHost("127.0.0.1:" + std::to_string(agent_test::freePort()));
    fill(lost, "bob", "secret", "secret", "b@c");
    lost.accept();
    EXPECT_TRUE(lost.endAgent());
    EXPECT_EQ(scripted_.last().rfind("Cannot communicate with registration server.", 0), 0u);
}

TEST_F(AccountWindowTest, LocateFlowWithARealAccountServer) {
    LoopbackServer retrieval;  // the retrieval server the account server names
    retrieval.setReply(LoopbackServer::httpReply("numhits=0\n"));
    nuva_test::NuvaServerInProcess nuva({{"Settings", "Port", std::to_string(retrieval.port())},
                                         {"UPGRADE", "FILE", "agent-next.run"},
                                         {"UPGRADE", "VERSION", "2.0"}});
    ASSERT_TRUE(nuva.ok()) << nuva.error();
    testing_support::writeWholeFile((nuva.home() / "upgrades" / "agent-next.run").string(),
                                    "#!/bin/sh\nexit 0\n");
    settings_.Load();
    settings_.SetInternetHost(nuva.hostSetting());
    settings_.SetInternetPath("sapiolux");
    settings_.SetInternetExecutableName("account");
    CAccountFlow flow(settings_, &scripted_, &choices_, ".");
    int registrations = 0;
    flow.runRegistration = [&](QWidget*) {
        ++registrations;
        CRegistrationDlg dlg(settings_, &scripted_);
        fill(dlg, "erin", "secret-1", "secret-1", "erin+news@x.org");
        dlg.accept();
        return dlg.result() == QDialog::Accepted ? CAccountFlow::CheckResult::Ok
                                                 : CAccountFlow::CheckResult::Failed;
    };
    CSapioluxDlg& dlg = makeAccountDialog(flow);
    // The offer: yes, download; then "quit now?": cancel.
    scripted_.answers = {MsgAnswer::Yes, MsgAnswer::Cancel};
    dlg.Start();
    EXPECT_EQ(registrations, 1);
    EXPECT_EQ(settings_.GetRegistered(), 1);
    EXPECT_EQ(settings_.ExtGetNumber("PORT"), retrieval.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return flow.upgradeDownloaded(); }, 5000))
        << scripted_.last();
    EXPECT_TRUE(dlg.isConnected());
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / "work" / "agent-next.run"));

    // Off-line without local content asks first; Cancel keeps the agent on-line.
    bool quit = false;
    QObject::connect(&dlg, &CSapioluxDlg::quitRequested, [&] { quit = true; });
    runCommand(dlg, agent::ui::kCmdGoOnlineOffline);
    EXPECT_EQ(scripted_.last(), "PersonalVantri is not installed - this action will exit Vantri");
    EXPECT_FALSE(quit);

    // A wrong password on the way back: the message, the choice, Retry, then Work
    // Offline, which without local content ends the agent.
    dlg.OfflineFallback(true);
    settings_.SetPassword("wrong-1");
    choices_.answers = {ConnectChoice::Retry, ConnectChoice::WorkOffline};
    runCommand(dlg, agent::ui::kCmdGoOnlineOffline);
    EXPECT_EQ(choices_.asked.size(), 2u);
    EXPECT_NE(choices_.asked[0].find("Vantri could not establish a connection with the server."),
              std::string::npos);
    EXPECT_TRUE(quit);
    EXPECT_EQ(registrations, 1);

    // With the right password the same command goes on-line at once.
    quit = false;
    settings_.SetPassword("secret-1");
    choices_.asked.clear();
    runCommand(dlg, agent::ui::kCmdGoOnlineOffline);
    EXPECT_TRUE(choices_.asked.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.isConnected(); }, 5000));
    EXPECT_FALSE(quit);
}

TEST_F(AccountWindowTest, ExchangesLeaveTheWindowThreadFree) {
    LoopbackServer slow;  // holds each exchange for a while before it answers
    slow.setHandler([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return LoopbackServer::httpReply("Nuvaserver Error: password incorrect");
    });
    settings_.Load();
    settings_.SetInternetHost("127.0.0.1:" + std::to_string(slow.port()));
    settings_.SetRegistered(1);
    CAccountFlow flow(settings_, &scripted_, &choices_, ".");
    int ticks = 0, busyTicks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (flow.Busy()) ++busyTicks;
    });
    timer.start(20);
    EXPECT_EQ(flow.Check(nullptr), CAccountFlow::CheckResult::Failed);
    EXPECT_GE(busyTicks, 20) << "the window thread went on while the server took its time";
    EXPECT_EQ(scripted_.last(), "The password you have supplied is incorrect.");
    EXPECT_FALSE(flow.Busy());
}

TEST_F(AccountWindowTest, AboutBoxShowsTheAccountServersLogo) {
    settings_.Load();
    const std::string logo = dir_.file("AboutLogo.bmp");
    QImage image(24, 12, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(logo), "BMP"));
    settings_.SetAboutLogoPath(logo);
    CAccountFlow flow(settings_, &scripted_, &choices_, ".");
    CSapioluxDlg& dlg = makeAccountDialog(flow);
    QSize shown;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<agent::ui::CAboutDlg*>(QApplication::activeModalWidget());
        if (!about) return;
        if (about->logo()) shown = about->logo()->pixmap().size();
        about->accept();
    });
    runCommand(dlg, agent::ui::kCmdAbout);
    EXPECT_EQ(shown, QSize(24, 12));
    // No logo fetched (or none that loads): the box goes without one.
    testing_support::writeWholeFile(logo, "<html>not a bitmap</html>");
    EXPECT_EQ(agent::ui::CAboutDlg(settings_).logo(), nullptr);
}

}  // namespace
}  // namespace agent_ui_test
