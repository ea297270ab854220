// The suggestions window offscreen: the road from text to a filled list against loopback
// servers and a real ixoserver, which result wins, what a failure shows, typed queries,
// placement, and a shutdown that a hung server cannot hold up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <thread>

#include "agent/service.h"
#include "agent/ui/SapioluxApp.h"
#include "agent/windowtext.h"
#include "tests/agent_ui/window_fixture.h"

namespace {

using namespace agent_ui_test;
using testing_support::TempDir;
using namespace std::chrono_literals;

TEST_F(WindowTest, ResultsFillTheList) {
    LoopbackServer server;
    std::string body = "numhits=12\n" + recordBlock(std::string(300, 'L'), 91, "DocType=PDF\n");
    for (int i = 1; i < 12; ++i) body += recordBlock("Title " + std::to_string(i), 90 - i);
    server.setReply(LoopbackServer::httpReply(body));
    CSapioluxDlg& dlg = connectedDialog(server.port());
    QSignalSpy filled(&dlg, &CSapioluxDlg::listFilled);

    EXPECT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange), 1);
    // The logo period over before the result arrives: the result marks new suggestions.
    dlg.endLogoPeriod();
    ASSERT_TRUE(filled.wait(10000));
    QStringList shown = lines(dlg);
    ASSERT_EQ(shown.size(), 6);  // NSuggests of 12 results
    EXPECT_EQ(shown[0], "91%   " + QString(256, 'L'));
    EXPECT_EQ(shown[1], "89%   Title 1");
    EXPECT_FALSE(dlg.resultsList()->item(0)->icon().isNull());
    EXPECT_TRUE(dlg.windowTitle().endsWith(" *")) << dlg.windowTitle().toStdString();
    // The E request as the worker builds it, for the web database.
    std::string request = server.lastRequest();
    EXPECT_EQ(request.rfind("GET /qmethod=E&querytext=", 0), 0u) << request;
    EXPECT_NE(request.find("GRANIT"), std::string::npos) << request;
    EXPECT_NE(request.find("&qnum=6&idnum=37&attachtoname=web HTTP/1.0"), std::string::npos)
        << request;
}

TEST_F(WindowTest, OnlyTheNewestWorkersResultShows) {
    LoopbackServer server;
    server.setHandler([](const std::string& request) {
        if (request.find("QUARTZ") != std::string::npos) {
            std::this_thread::sleep_for(800ms);
            return resultsReply("Slow", 3);
        }
        return resultsReply("Fast", 3);
    });
    CSapioluxDlg& dlg = connectedDialog(server.port());
    QSignalSpy handled(&dlg, &CSapioluxDlg::queryHandled);
    ASSERT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange), 1);
    ASSERT_EQ(dlg.OnNewText(kOtherPassage, agent::ui::kOriginWindowChange), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return handled.count() == 2; }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(lines(dlg), QStringList({"90%   Fast 0", "89%   Fast 1", "88%   Fast 2"}));
    EXPECT_FALSE(dlg.isQueryOutstanding());
    EXPECT_FALSE(dlg.isNotConnected());
}

TEST_F(WindowTest, TitleTipShowsLinesTooLongForTheList) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply(
        "numhits=2\n" + recordBlock("Short", 80) +
        recordBlock("A title far too long to fit into a narrow list of suggestions at all", 70)));
    CSapioluxDlg& dlg = connectedDialog(server.port());
    dlg.resize(200, 120);
    dlg.show();
    QSignalSpy filled(&dlg, &CSapioluxDlg::listFilled);
    dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange);
    dlg.endLogoPeriod();
    ASSERT_TRUE(filled.wait(10000));
    QListWidget* list = dlg.resultsList();
    auto* tip = dlg.findChild<QLabel*>("ZTitleTip");
    ASSERT_NE(tip, nullptr);
    QTest::mouseMove(list->viewport(), list->visualItemRect(list->item(1)).center());
    EXPECT_TRUE(tip->isVisible());
    EXPECT_EQ(tip->text(),
              "70%   A title far too long to fit into a narrow list of suggestions at all");
    QTest::mouseMove(list->viewport(), list->visualItemRect(list->item(0)).center());
    EXPECT_FALSE(tip->isVisible());
}

TEST_F(WindowTest, PendingWindowChangeDropsTheResult) {
    LoopbackServer server;
    server.setHandler([](const std::string&) {
        std::this_thread::sleep_for(200ms);
        return resultsReply("Old window", 2);
    });
    CSapioluxDlg& dlg = connectedDialog(server.port());
    QSignalSpy handled(&dlg, &CSapioluxDlg::queryHandled);
    ASSERT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange), 1);
    dlg.setWindowChangePending(true);
    ASSERT_TRUE(handled.wait(10000));
    QTest::qWait(50);
    EXPECT_EQ(dlg.resultsList()->count(), 0);
    EXPECT_TRUE(dlg.isQueryOutstanding());
}

TEST_F(WindowTest, UnreachableServerShowsNotConnected) {
    LoopbackServer server;
    server.setMode(LoopbackServer::Mode::CloseAfterRequest);
    CSapioluxDlg& dlg = connectedDialog(server.port());
    QSignalSpy handled(&dlg, &CSapioluxDlg::queryHandled);
    ASSERT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange), 1);
    ASSERT_TRUE(handled.wait(10000));
    dlg.endLogoPeriod();
    EXPECT_TRUE(dlg.isNotConnected());
    EXPECT_FALSE(dlg.isConnected());  // the off-line fallback ran
    EXPECT_TRUE(dlg.windowTitle().endsWith(" [not connected]")) << dlg.windowTitle().toStdString();
    EXPECT_EQ(dlg.statusText(), agent::kTextNotConnected);
    EXPECT_EQ(dlg.resultsList()->count(), 0);
}

TEST_F(WindowTest, NoHitsAndRepeatedText) {
    LoopbackServer server;
    server.setReply(LoopbackServer::httpReply("numhits=0\n"));
    CSapioluxDlg& dlg = connectedDialog(server.port());
    QSignalSpy handled(&dlg, &CSapioluxDlg::queryHandled);
    ASSERT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginHotKey), 1);
    ASSERT_TRUE(handled.wait(10000));
    QTest::qWait(20);
    EXPECT_FALSE(dlg.isNotConnected());
    EXPECT_EQ(dlg.statusText(), agent::kTextNoSuggestions);
    // The same text again from the hot key sends nothing; after a window change it does.
    EXPECT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginHotKey), 0);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange), 1);
    // Text without enough terms asks the user for a window with text.
    EXPECT_EQ(dlg.OnNewText("a", agent::ui::kOriginWindowChange), 0);
    EXPECT_EQ(dlg.statusText(), agent::kTextNoWindowText);
}

TEST_F(WindowTest, TypedQueryWithEnterIsSent) {
    LoopbackServer server;
    server.setReply(resultsReply("Typed", 2));
    CSapioluxDlg& dlg = connectedDialog(server.port());
    dlg.show();
    QSignalSpy filled(&dlg, &CSapioluxDlg::listFilled);
    QTest::keyClick(&dlg, Qt::Key_Q, Qt::NoModifier);
    ASSERT_TRUE(dlg.isTypedQueryMode());
    auto* box = dlg.findChild<QPlainTextEdit*>("ctl1112");
    ASSERT_NE(box, nullptr);
    QTest::keyClicks(box, "uartz crystals in granite");
    EXPECT_EQ(box->toPlainText(), "quartz crystals in granite");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_FALSE(dlg.isTypedQueryMode());
    ASSERT_TRUE(filled.wait(10000));
    std::string request = server.lastRequest();
    EXPECT_EQ(request.rfind("GET /qmethod=E&querytext=", 0), 0u) << request;
    EXPECT_NE(request.find("QUARTZ"), std::string::npos) << request;
    // Escape drops a typed text.
    QTest::keyClick(&dlg, Qt::Key_M, Qt::NoModifier);
    QTest::keyClicks(box, "arble");
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isTypedQueryMode());
    QTest::qWait(50);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(WindowTest, PlacementIsClampedAndDoesNotShrink) {
    loadSettings(1);
    settings_.SetXPosition(5000);
    settings_.SetYPosition(-4000);
    settings_.SetWidth(300);
    settings_.SetHeight(90);
    settings_.SetShowSourceCheckboxesOnMainDialog(1);
    for (int run = 0; run < 10; ++run) {
        settings_.Load();
        CSapioluxDlg& dlg = makeDialog();
        QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_TRUE(screen.contains(QRect(dlg.pos(), dlg.size())))
            << "run " << run << ": " << dlg.x() << "," << dlg.y() << " " << dlg.width() << "x"
            << dlg.height() << " on " << screen.width() << "x" << screen.height();
        dlg.SavePlacement();
        dialog_.reset();
    }
    settings_.Load();
    EXPECT_EQ(settings_.GetHeight(), 90);
    EXPECT_EQ(settings_.GetWidth(), 300);
}

// A stand-in personal server: answers the shutdown request at once and holds
// suggestion queries until released.
class HangingPersonalServer {
  public:
    HangingPersonalServer() {
        server.setConnectionLimit(20s);
        server.setHandler([this](const std::string& request) {
            if (request.find("IXOSHUTDOWN") != std::string::npos) {
                shutdownSeen = true;
                return LoopbackServer::httpReply("OK\n");
            }
            // Anything else is the (scrambled) suggestion query.
            std::unique_lock<std::mutex> guard(lock);
            released.wait_for(guard, 15s, [this] { return release; });
            return resultsReply("Late", 1);
        });
    }
    ~HangingPersonalServer() { let(); }
    void let() {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
        released.notify_all();
    }
    LoopbackServer server;
    std::atomic<bool> shutdownSeen{false};
    std::mutex lock;
    std::condition_variable released;
    bool release = false;
};

TEST_F(WindowTest, ShutdownOnSigtermIsBoundedAndStopsThePersonalServer) {
    HangingPersonalServer personal;
    std::filesystem::path home = dir_.path() / "personal";
    std::filesystem::create_directories(home / "ixo");
    testing_support::writeWholeFile(
        (home / "ixo/ixo.ini").string(),
        "[SERVER]\nQUERYPORT=" + std::to_string(personal.server.port()) +
            "\nINDEXPORT=" + std::to_string(personal.server.port()) + "\n");
    platform::regWriteText(platform::RegHive::Machine, agent::kPersonalIxoKey, "Path",
                           home.string());
    platform::regWriteText(platform::RegHive::Machine, agent::kPersonalIxoKey, "ExeFilePath",
                           "/bin/true");
    loadSettings(1);
    agent::CPersonalServer server(settings_);
    ASSERT_TRUE(server.Detect(false));
    desktop_.windows.push_back({7, "Halvoran Personal Vantri", "vantri", 0});
    desktop_.windows.push_back({8, "Another window", "other", 0});
    CSapioluxDlg& dlg = makeDialog(&server);
    dlg.SelectSource(agent::kSourceLocal, false);
    dlg.move(40, 50);
    ASSERT_EQ(dlg.OnNewText(kPassage, agent::ui::kOriginWindowChange), 1);

    agent::ui::installQuitSignals(qApp);
    QTimer::singleShot(200, [] { ::raise(SIGTERM); });
    qApp->exec();  // left by the signal

    auto start = std::chrono::steady_clock::now();
    bool idle = dlg.Shutdown(2000);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(idle);  // the worker still waits on its server
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(personal.shutdownSeen);
    EXPECT_TRUE(std::filesystem::exists(home / "ixo/ixo.stop"));
    EXPECT_EQ(desktop_.closeAsked, std::vector<std::string>({"Halvoran Personal Vantri"}));
    settings_.Load();
    EXPECT_EQ(settings_.GetXPosition(), dlg.x());
    EXPECT_EQ(settings_.GetWidth(), dlg.width());

    // Let the worker end before the window goes.
    personal.let();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.workersIdle(); }, 10000));
}

TEST_F(WindowTest, SuggestsTheIndexedDocumentFromARealServer) {
    std::filesystem::path home = dir_.path() / "personal";
    agent_test::ServerProcess ixoserver(home, agent_test::freePort(), agent_test::freePort());
    ASSERT_TRUE(ixoserver.running());
    std::string idx;
    const char* docs[][2] = {
        {"Rocks of the volcanic ridge", kPassage},
        {"Quarried stones", kOtherPassage},
        {"Baking bread",
         "Flour water yeast and salt are kneaded into dough that rises overnight "
         "before baking in a hot oven until the crust is brown."}};
    for (auto& doc : docs)
        idx += std::string("#IXOREFERENCE file:///doc/") + doc[0] + "\n#IXOTITLE " + doc[0] +
               "\n#IXOCONTENT\n" + doc[1] + "\n#IXOENDDOC\n";
    ASSERT_TRUE(ixoserver.index(idx));
    platform::regWriteText(platform::RegHive::Machine, agent::kPersonalIxoKey, "Path",
                           home.string());
    platform::regWriteText(platform::RegHive::Machine, agent::kPersonalIxoKey, "ExeFilePath",
                           "/bin/true");
    loadSettings(1);
    agent::CPersonalServer server(settings_);
    ASSERT_TRUE(server.Detect(false));
    CSapioluxDlg& dlg = makeDialog(&server);
    dlg.SelectSource(agent::kSourceLocal, false);
    QSignalSpy filled(&dlg, &CSapioluxDlg::listFilled);
    ASSERT_EQ(dlg.OnNewText(kOtherPassage, agent::ui::kOriginWindowChange), 1);
    ASSERT_TRUE(filled.wait(15000));
    ASSERT_GE(dlg.resultsList()->count(), 1);
    EXPECT_TRUE(dlg.resultsList()->item(0)->text().endsWith("   Quarried stones"))
        << dlg.resultsList()->item(0)->text().toStdString();
}

}  // namespace
