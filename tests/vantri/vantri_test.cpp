// The control window against a real ixoserver and ixoindex: it starts the server, runs
// the analysis over its folder list with progress up to the file count and a failure
// listed, stops it, closes when the window system asks (as the agent does at its
// shutdown) and stops the server. The program started hidden resumes the analysis,
// lets no second copy run for the same home and ends once the server is stopped.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QWindow>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "server/vantri/VantriWindow.h"
#include "server/vantri/serverstate.h"
#include "tests/common/tempdir.h"
#include "tools/ixowatch/watchstate.h"

namespace {

using testing_support::TempDir;
using testing_support::writeWholeFile;
namespace fs = std::filesystem;

class ControlWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = dir_.path() / "home";
        docs_ = dir_.path() / "docs";
        fs::create_directories(home_ / "ixo");
        fs::create_directories(docs_ / "sub");
        // Ports of the server's choosing; it generates its index user and password.
        writeWholeFile((home_ / "ixo" / "ixo.ini").string(),
                       "[SERVER]\nQUERYPORT=0\nINDEXPORT=0\nCOMMITINTERVALMS=50\n");
        for (int i = 0; i < kFiles; ++i)
            writeWholeFile(
                (docs_ / (i % 2 ? "sub" : ".") / ("n" + std::to_string(i) + ".txt")).string(),
                "Note " + std::to_string(i) + " about herons and kingfishers.\n");
        writeWholeFile((docs_ / "broken.pdf").string(), "%PDF-1.4 not really");
    }
    void TearDown() override {
        vantri::stopServer(home_.string());  // a server left by a failed test stops too
        for (int i = 0; i < 100 && fs::exists(home_ / "ixo" / "ports"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    bool waitRunning(CVantriWindow& w, bool running) {
        return QTest::qWaitFor(
            [&] {
                w.refreshServer();
                return w.serverState().running == running;
            },
            20000);
    }

    static constexpr int kFiles = 24;
    TempDir dir_;
    fs::path home_, docs_;
};

}  // namespace

TEST_F(ControlWindow, AnalysesTheFolderListWithProgressAndFailuresAndClosesWhenAsked) {
    CVantriWindow window(QString::fromStdString(home_.string()), {IXOSERVER_BIN, IXOINDEX_BIN});
    window.show();
    ASSERT_TRUE(window.startServer());
    ASSERT_TRUE(waitRunning(window, true));

    EXPECT_FALSE(window.startAnalysis());  // nothing to analyse yet
    ASSERT_TRUE(window.addFolder(QString::fromStdString(docs_.string())));
    EXPECT_FALSE(window.addFolder(QString::fromStdString(docs_.string())));  // listed once
    ASSERT_TRUE(
        window.addMail("maildir=" + QString::fromStdString((dir_.path() / "none").string())));
    EXPECT_FALSE(window.addMail("pigeon"));
    window.removeEntry(1);
    EXPECT_EQ(window.entries(), QStringList{QString::fromStdString(docs_.string())});

    ASSERT_TRUE(window.startAnalysis());
    QProgressBar* bar = window.progressBar();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bar->maximum() == kFiles + 1 && bar->value() == kFiles + 1; }, 20000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window.log()->toPlainText().contains("broken.pdf"); }, 5000));
    EXPECT_TRUE(
        window.progressLabel()->text().contains(QStringLiteral("sent: %1, failed: 1").arg(kFiles)));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            window.refreshServer();
            return window.serverState().documents == kFiles;
        },
        5000));
    ixowatch::ContentList list;
    ASSERT_TRUE(ixowatch::loadContentList(home_.string(), list));
    EXPECT_EQ(list.folders, std::vector<std::string>{docs_.string()});
    EXPECT_TRUE(list.analysis);

    window.stopAnalysis();
    EXPECT_FALSE(window.analysing());
    ASSERT_TRUE(ixowatch::loadContentList(home_.string(), list));
    EXPECT_FALSE(list.analysis);

    // The window system's close request (what the agent's request at its shutdown
    // becomes): the analysis ends, the window goes, analysis stays wanted for next time.
    ASSERT_TRUE(window.startAnalysis());
    ASSERT_TRUE(window.windowHandle());
    window.windowHandle()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    EXPECT_FALSE(window.analysing());
    ASSERT_TRUE(ixowatch::loadContentList(home_.string(), list));
    EXPECT_TRUE(list.analysis);

    window.stopServer();
    EXPECT_TRUE(waitRunning(window, false));
}

TEST_F(ControlWindow, HiddenItResumesTheAnalysisRefusesASecondCopyAndEndsWithTheServer) {
    ixowatch::ContentList list;
    list.folders = {docs_.string()};
    list.analysis = true;
    ASSERT_TRUE(ixowatch::saveContentList(home_.string(), list));
    auto start = [&]() {
        pid_t pid = ::fork();
        if (pid == 0) {
            const std::string home = home_.string();
            ::execl(VANTRI_BIN, VANTRI_BIN, "-runhidden", "--home", home.c_str(), nullptr);
            ::_exit(127);
        }
        return pid;
    };
    auto waitExit = [](pid_t pid, int seconds) {
        for (int i = 0; i < seconds * 50; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    };
    const pid_t hidden = start();
    ASSERT_GT(hidden, 0);
    const bool indexed = QTest::qWaitFor(
        [&] { return vantri::probeServer(home_.string()).documents == kFiles; }, 20000);
    EXPECT_TRUE(indexed);
    // A second copy for the same home ends at once: one analysis per home.
    EXPECT_EQ(waitExit(start(), 10), 0);
    // The agent's shutdown: the server stops, and the hidden copy with it.
    vantri::stopServer(home_.string());
    EXPECT_EQ(waitExit(hidden, 20), 0);
    ASSERT_TRUE(ixowatch::loadContentList(home_.string(), list));
    EXPECT_TRUE(list.analysis);
}
