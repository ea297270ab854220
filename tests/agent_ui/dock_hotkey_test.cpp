// Docking, the hot key and the tray icon in the window, with fake seams: where the docked
// window goes and what it saves, what the hot key does, and the tray's states.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <filesystem>

#include "agent/AppParameters.h"
#include "agent/messages.h"
#include "agent/ui/SapioluxDlg.h"
#include "agent/ui/SystemTray.h"
#include "agent/windowtext.h"
#include "platform/capture.h"
#include "platform/desktop.h"
#include "platform/dock.h"
#include "platform/hotkeys.h"
#include "platform/messagebox.h"
#include "platform/registry.h"
#include "tests/agent_core/agent_test_support.h"
#include "tests/common/tempdir.h"

namespace {

using agent::ui::CSapioluxDlg;
using agent::ui::CSystemTray;

class DockHotKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hives_ = std::make_unique<agent_test::ScopedHives>(dir_.path());
        std::filesystem::create_directories(dir_.path() / "work");
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path() / "work");
    }
    void TearDown() override {
        dialog_.reset();
        std::filesystem::current_path(oldCwd_);
    }
    CSapioluxDlg& dialog() {
        settings_.Load();
        CSapioluxDlg::Env env;
        env.settings = &settings_;
        env.desktop = &desktop_;
        env.messages = &boxes_;
        env.capture = &capture_;
        env.hotKeys = &hotKeys_;
        env.dock = &dock_;
        env.dataDir = std::string(SAPIOLUX_SOURCE_DIR) + "/agent/data";
        dialog_ = std::make_unique<CSapioluxDlg>(env);
        return *dialog_;
    }

    testing_support::TempDir dir_;
    std::unique_ptr<agent_test::ScopedHives> hives_;
    std::filesystem::path oldCwd_;
    agent::CAppParameters settings_;
    platform::FakeDesktop desktop_;
    platform::RecordingMessageBox boxes_;
    platform::FakeCapture capture_;
    platform::FakeHotKeys hotKeys_;
    platform::FakeDock dock_;
    std::unique_ptr<CSapioluxDlg> dialog_;
};

TEST_F(DockHotKeyTest, DockedAtTheChosenEdgeAndBackToTheFloatingPlace) {
    platform::regWriteNumber(platform::RegHive::User, agent::settingsKey("Window"), "AppBarSide",
                             1);
    platform::regWriteNumber(platform::RegHive::User, agent::settingsKey("Window"), "XPosition",
                             100);
    platform::regWriteNumber(platform::RegHive::User, agent::settingsKey("Window"), "YPosition",
                             120);
    CSapioluxDlg& dlg = dialog();
    dlg.ShowAtStart();  // IsAppBar is on by default
    ASSERT_TRUE(dlg.isDocked());
    EXPECT_EQ(dock_.docked.size(), 1u);
    EXPECT_EQ(dlg.geometry(), QRect(0, 0, 1280, agent::ui::kDockThickness));
    // A docked window never hides; the floating place is what is saved.
    dlg.HideWindow();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.placementToSave().topLeft(), QPoint(100, 120));

    dlg.Undock();
    EXPECT_FALSE(dlg.isDocked());
    EXPECT_TRUE(dock_.docked.empty());
    EXPECT_EQ(dlg.pos(), QPoint(100, 120));
    settings_.Load();
    EXPECT_EQ(settings_.GetIsAppBar(), 0);
}

TEST_F(DockHotKeyTest, BrandPictureDocksFloatsAndDrags) {
    platform::regWriteNumber(platform::RegHive::User, agent::settingsKey("Window"), "IsAppBar", 0);
    CSapioluxDlg& dlg = dialog();
    dlg.ShowAtStart();
    ASSERT_FALSE(dlg.isDocked());
    QWidget* brand = dlg.findChild<QWidget*>("ctl1085");
    ASSERT_NE(brand, nullptr);
    QTest::mouseDClick(brand, Qt::LeftButton);
    ASSERT_TRUE(dlg.isDocked());
    EXPECT_EQ(dlg.geometry(),
              QRect(0, 800 - agent::ui::kDockThickness, 1280, agent::ui::kDockThickness));
    // Dragged to the upper half of the screen: the strip moves to the top edge.
    QTest::mousePress(brand, Qt::LeftButton);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), QPointF(400, 10),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(brand, &release);
    EXPECT_EQ(dlg.geometry(), QRect(0, 0, 1280, agent::ui::kDockThickness));
    settings_.Load();
    EXPECT_EQ(settings_.GetAppBarSide(), 1);
    QTest::mouseDClick(brand, Qt::LeftButton);
    EXPECT_FALSE(dlg.isDocked());
}

TEST_F(DockHotKeyTest, HotKeyCapturesAndPopsUp) {
    platform::regWriteNumber(platform::RegHive::User, agent::settingsKey("Window"), "IsAppBar", 0);
    CSapioluxDlg& dlg = dialog();
    // Ctrl+Alt+G by default; the debug key only with AllowDebug.
    ASSERT_EQ(hotKeys_.held.count(agent::ui::kHotKeyId), 1u);
    EXPECT_EQ(hotKeys_.held[agent::ui::kHotKeyId], std::make_pair(71, 3));
    EXPECT_EQ(hotKeys_.held.count(agent::ui::kDebugHotKeyId), 0u);

    capture_.windows[21] = {21, "Editor", "Gedit", 4001};
    capture_.texts[21] = "some text";
    dlg.PostMessage(agent::kMsgWindowChanged, 21);
    QCoreApplication::processEvents();
    hotKeys_.press(agent::ui::kHotKeyId);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(capture_.reads, std::vector<uint64_t>({21}));
    // Released with the window.
    dlg.Shutdown(0);
    EXPECT_TRUE(hotKeys_.held.empty());
}

TEST_F(DockHotKeyTest, DebugKeyShowsTheQueryOnlyWhenAllowed) {
    CSapioluxDlg& dlg = dialog();
    dlg.OnHotKey(agent::ui::kDebugHotKeyId);
    EXPECT_TRUE(boxes_.shown.empty());
    settings_.ExtSetFlag("AllowDebug", true);
    dialog_.reset();
    settings_.ExtSave();
    CSapioluxDlg& again = dialog();
    EXPECT_EQ(hotKeys_.held.count(agent::ui::kDebugHotKeyId), 1u);
    again.OnHotKey(agent::ui::kDebugHotKeyId);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_NE(boxes_.shown[0].text.find("hwnd: 0x"), std::string::npos);
    EXPECT_NE(boxes_.shown[0].text.find("Query text:\r\n"), std::string::npos);
}

TEST_F(DockHotKeyTest, TrayFollowsTheWindowsState) {
    platform::regWriteNumber(platform::RegHive::User, agent::settingsKey("Window"), "IsAppBar", 0);
    CSapioluxDlg& dlg = dialog();
    CSystemTray* tray = dlg.tray();
    EXPECT_EQ(tray->icon(), CSystemTray::Icon::NotConnected);
    EXPECT_EQ(tray->tip(), agent::kTextNotConnectedTip);
    dlg.ServerLocated();
    dlg.ShowNoNewSuggestions();
    EXPECT_EQ(tray->icon(), CSystemTray::Icon::Connected);
    EXPECT_EQ(tray->tip(), agent::kTextNoNewSuggestions);
    dlg.ShowNotConnected(std::string(100, 'x'));
    EXPECT_EQ(tray->tip().size(), CSystemTray::kMaxTip);
    // No tray on this platform: hiding minimises, so the window stays reachable.
    ASSERT_FALSE(tray->available());
    dlg.show();
    dlg.HideWindow();
    EXPECT_TRUE(dlg.isMinimized());
}

}  // namespace
