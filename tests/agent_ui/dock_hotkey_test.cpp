// Docking, the hot key and the tray icon in the window, with fake seams: where the docked
// window goes and what it saves, what the hot key does, and the tray's states.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <filesystem>

#include "agent/messages.h"
#include "agent/ui/SystemTray.h"
#include "agent/windowtext.h"
#include "tests/agent_ui/window_fixture.h"

namespace {

using namespace agent_ui_test;
using agent::ui::CSystemTray;
using platform::RegHive;

class DockHotKeyTest : public WindowTest {
  protected:
    CSapioluxDlg& dialog() {
        settings_.Load();
        return makeDialog();
    }
};

TEST_F(DockHotKeyTest, DocksFloatsAndMovesTheStrip) {
    // Docked at start (IsAppBar is on by default) at the saved edge, the top.
    setNumber(RegHive::User, "Window", "AppBarSide", 1);
    setNumber(RegHive::User, "Window", "XPosition", 100);
    setNumber(RegHive::User, "Window", "YPosition", 120);
    CSapioluxDlg& dlg = dialog();
    dlg.ShowAtStart();
    ASSERT_TRUE(dlg.isDocked());
    EXPECT_EQ(dlg.geometry(), QRect(0, 0, 1280, agent::ui::kDockThickness));
    // A docked window never hides; the floating place is what is saved.
    dlg.HideWindow();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.placementToSave().topLeft(), QPoint(100, 120));

    // The brand picture stands in for the title bar: a double click floats the window at
    // its floating place, another docks it again.
    QWidget* brand = dlg.findChild<QWidget*>("ctl1085");
    ASSERT_NE(brand, nullptr);
    QTest::mouseDClick(brand, Qt::LeftButton);
    EXPECT_FALSE(dlg.isDocked());
    EXPECT_TRUE(dock_.docked.empty());
    EXPECT_EQ(dlg.pos(), QPoint(100, 120));
    settings_.Load();
    EXPECT_EQ(settings_.GetIsAppBar(), 0);
    setNumber(RegHive::User, "Window", "AppBarSide", 3);
    settings_.Load();
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
}

TEST_F(DockHotKeyTest, HotKeyCapturesAndPopsUp) {
    setNumber(RegHive::User, "Window", "IsAppBar", 0);
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
    setNumber(RegHive::User, "Window", "IsAppBar", 0);
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
