// Capture in the window, with a fake capture source that writes real mailslot messages:
// when a window is read, which windows are not, the class filters, the clipboard, the
// browser delay and the hit tool.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "agent/messages.h"
#include "agent/windowtext.h"
#include "tests/agent_ui/window_fixture.h"

namespace {

using namespace agent_ui_test;

const char* const kEditorText = kPassage;
const char kBrowserText[] =
    "Marble and limestone are sedimentary or metamorphic stones quarried for sculpture.";

class CaptureTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        server_.setReply(LoopbackServer::httpReply("numhits=0\n"));
        capture_.windows[11] = {11, "Notes - Editor", "Gedit", 4001};
        capture_.windows[12] = {12, "Files", "Nautilus", 4002};
        capture_.windows[13] = {13, "Page - Browser", "firefox", 4003};
        capture_.texts[11] = kEditorText;
        capture_.texts[12] = "Documents Downloads Music Pictures Videos";
        capture_.texts[13] = kBrowserText;
        capture_.classes[12] = "SysTreeView32";
    }

    CSapioluxDlg& dialog() { return connectedDialog(server_.port()); }

    // Makes window the active one and lets the window's poll see it.
    void activate(uint64_t window) {
        capture_.active = capture_.windows[window];
        capture_.pollActiveWindow();
        QCoreApplication::processEvents();
    }

    // Waits for the requests the server has seen to reach count.
    bool requestsReach(size_t count, int ms = 4000) {
        return QTest::qWaitFor([&] { return server_.requestCount() >= count; }, ms);
    }

    LoopbackServer server_;
};

TEST_F(CaptureTest, AWindowIsReadOnceAfterItSettles) {
    CSapioluxDlg& dlg = dialog();
    activate(11);
    EXPECT_EQ(dlg.currentWindow(), 11u);
    EXPECT_TRUE(dlg.isWindowChangePending());
    EXPECT_EQ(dlg.captureTimerInterval(), 1500);
    EXPECT_TRUE(capture_.reads.empty());
    ASSERT_TRUE(requestsReach(1));
    EXPECT_EQ(capture_.reads, std::vector<uint64_t>({11}));
    EXPECT_FALSE(dlg.isWindowChangePending());
    EXPECT_NE(server_.lastRequest().find("GRANIT"), std::string::npos) << server_.lastRequest();

    // Staying in the window reads nothing more; the agent's own windows never count.
    capture_.pollActiveWindow();
    dlg.PostMessage(agent::kMsgWindowChanged, 11);
    dlg.PostMessage(agent::kMsgWindowChanged, 0);
    dlg.PostMessage(agent::kMsgWindowChanged, static_cast<uintptr_t>(dlg.winId()));
    QTest::qWait(1700);
    EXPECT_EQ(capture_.reads.size(), 1u);
}

TEST_F(CaptureTest, TheWindowManagersActiveWindowOutranksQts) {
    CSapioluxDlg& dlg = dialog();
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));

    // The agent itself active: the window that was left is not read.
    desktop_.active = {static_cast<uint64_t>(dlg.winId()), "Halvoran Vantri", "sapiolux", 1};
    activate(11);
    QTest::qWait(1700);
    EXPECT_TRUE(capture_.reads.empty());

    // Qt still counts the agent active, but the window manager has moved on to another
    // program's window: that window is read.
    ASSERT_TRUE(dlg.isActiveWindow());
    capture_.windows[14] = {14, "Notes 2 - Editor", "Gedit", 4004};
    capture_.texts[14] = kEditorText;
    desktop_.active = capture_.windows[14];
    activate(14);
    ASSERT_TRUE(requestsReach(1));
    EXPECT_EQ(capture_.reads, std::vector<uint64_t>({14}));

    // So does the hot key: it reads that window rather than taking the agent for active.
    dlg.OnHotKey(agent::ui::kHotKeyId);
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture_.reads == std::vector<uint64_t>({14, 14}); },
                                2000));
}

TEST_F(CaptureTest, ListsAndTreesGiveNoQuery) {
    CSapioluxDlg& dlg = dialog();
    activate(12);
    QTest::qWait(1700);
    EXPECT_TRUE(capture_.reads.empty());
    EXPECT_EQ(dlg.statusText(), agent::kTextNoStrongTheme);
    EXPECT_EQ(server_.requestCount(), 0u);
    // A class that is part of a listed name is filtered too; an empty one never.
    capture_.classes[12] = "Box";
    EXPECT_EQ(dlg.CaptureText(false, 12), 0);
    capture_.classes[12] = "";
    capture_.windows[12].windowClass = "";
    EXPECT_EQ(dlg.CaptureText(false, 12), 1);
    // With the filter off a tree is read like any window.
    settings_.SetFilterOutCommonControls(0);
    capture_.classes[12] = "SysTreeView32";
    EXPECT_EQ(dlg.CaptureText(false, 12), 1);
}

TEST_F(CaptureTest, BrowsersAreReadLater) {
    CSapioluxDlg& dlg = dialog();
    activate(13);
    EXPECT_EQ(dlg.captureTimerInterval(), 3000);
    activate(11);
    EXPECT_EQ(dlg.captureTimerInterval(), 1500);
    // A web document found by the reader makes any window a browser.
    capture_.classes[11] = "browser";
    capture_.windows[14] = {14, "Viewer", "Viewer", 4004};
    capture_.classes[14] = "browser";
    activate(14);
    EXPECT_EQ(dlg.captureTimerInterval(), 3000);
}

TEST_F(CaptureTest, ClipboardTextOnceAndOnlyWhenAsked) {
    CSapioluxDlg& dlg = dialog();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(kBrowserText);
    QTest::qWait(100);
    EXPECT_EQ(server_.requestCount(), 0u);  // off by default

    settings_.SetSuggestFromClipboard(1);
    clipboard->setText(QString(kEditorText) + "  \n");
    ASSERT_TRUE(requestsReach(1));
    EXPECT_NE(server_.lastRequest().find("GRANIT"), std::string::npos);
    // The same text again is not new; at the next capture the window is the source.
    clipboard->setText(kEditorText);
    QTest::qWait(100);
    EXPECT_EQ(server_.requestCount(), 1u);
    EXPECT_EQ(dlg.CaptureText(true, 13), 1);
    EXPECT_EQ(capture_.reads, std::vector<uint64_t>({13}));
}

TEST_F(CaptureTest, HitToolPicksAWindowUntilReleased) {
    CSapioluxDlg& dlg = dialog();
    capture_.underPoint = 13;
    dlg.OnHitToolDropped(QPoint(300, 300));
    EXPECT_EQ(dlg.pickedWindow(), 13u);
    EXPECT_EQ(capture_.activated, std::vector<uint64_t>({13}));
    ASSERT_TRUE(requestsReach(1));
    EXPECT_NE(server_.lastRequest().find("MARBL"), std::string::npos) << server_.lastRequest();

    // Other windows becoming active do not change the source while a window is picked.
    activate(11);
    QTest::qWait(1700);
    EXPECT_EQ(capture_.reads, std::vector<uint64_t>({13, 13}));
    dlg.OnHitToolReleased();
    EXPECT_EQ(dlg.pickedWindow(), 0u);
    // Let go over the agent itself: nothing is read.
    capture_.underPoint = static_cast<uint64_t>(dlg.winId());
    dlg.OnHitToolDropped(QPoint(1, 1));
    EXPECT_EQ(dlg.pickedWindow(), 0u);
    EXPECT_EQ(capture_.reads.size(), 2u);
}

}  // namespace
