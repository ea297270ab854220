// Docking, the hot key and the tray icon in the window, with fake seams: where the docked
// window goes and what it saves, what the hot key does, and the tray's states.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QScreen>
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

TEST_F(DockHotKeyTest, DragsDockAndFloat) {
    setNumber(RegHive::User, "Window", "IsAppBar", 0);
    setNumber(RegHive::User, "Window", "XPosition", 100);
    setNumber(RegHive::User, "Window", "YPosition", 120);
    CSapioluxDlg& dlg = dialog();
    dlg.ShowAtStart();
    QWidget* brand = dlg.findChild<QWidget*>("ctl1085");
    ASSERT_NE(brand, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    auto drag = [&](QPoint from, QPoint to) {
        auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
            QMouseEvent e(type, QPointF(5, 5), QPointF(5, 5), QPointF(global), Qt::LeftButton,
                          buttons, Qt::NoModifier);
            QCoreApplication::sendEvent(brand, &e);
        };
        send(QEvent::MouseButtonPress, from, Qt::LeftButton);
        send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    };
    // A floating window dragged part of the way moves with the pointer and stays floating;
    // dragged on to the bottom edge of the screen it docks there.
    drag(QPoint(110, 130), QPoint(210, 180));
    EXPECT_FALSE(dlg.isDocked());
    EXPECT_EQ(dlg.pos(), QPoint(200, 170));
    drag(QPoint(210, 180), QPoint(210, screen.bottom()));
    ASSERT_TRUE(dlg.isDocked());
    EXPECT_EQ(dock_.docked.size(), 1u);
    EXPECT_EQ(dlg.geometry().bottom(), 799);
    // Floating again, it goes back to where the drag began; a drag of the strip to the
    // middle of the screen floats it there.
    drag(QPoint(20, 780), screen.center());
    EXPECT_FALSE(dlg.isDocked());
    EXPECT_TRUE(dock_.docked.empty());
    EXPECT_TRUE(dlg.frameGeometry().contains(screen.center()));
}

TEST_F(DockHotKeyTest, AutoHideSlidesOutAndBack) {
    CSapioluxDlg& dlg = dialog();
    EXPECT_FALSE(dlg.SetAutoHide(true));  // only a docked strip hides against its edge
    dlg.ShowAtStart();
    ASSERT_TRUE(dlg.isDocked());
    const QRect shown(0, 800 - agent::ui::kDockThickness, 1280, agent::ui::kDockThickness);
    auto settled = [&] { return QTest::qWaitFor([&] { return !dlg.isSliding(); }, 2000); };
    QCursor::setPos(400, 300);
    // The reservation is given back; with another window active and the pointer elsewhere
    // the strip slides out.
    ASSERT_TRUE(dlg.SetAutoHide(true));
    EXPECT_TRUE(dock_.docked.empty());
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.isHiddenAtEdge(); }, 2000));
    ASSERT_TRUE(settled());
    EXPECT_EQ(dlg.geometry(), QRect(0, 798, 1280, 2));
    // The pointer enters: back; leaves: out again.
    QEnterEvent enter(QPointF(5, 1), QPointF(5, 1), QPointF(5, 799));
    QCoreApplication::sendEvent(&dlg, &enter);
    ASSERT_TRUE(settled());
    EXPECT_EQ(dlg.geometry(), shown);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&dlg, &leave);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.isHiddenAtEdge(); }, 2000));
    ASSERT_TRUE(settled());
    EXPECT_EQ(dlg.geometry(), QRect(0, 798, 1280, 2));
    // Moved to the top edge it keeps hiding, there.
    dlg.MoveDockTo(1);
    EXPECT_TRUE(dock_.docked.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.isHiddenAtEdge(); }, 2000));
    ASSERT_TRUE(settled());
    EXPECT_EQ(dlg.geometry(), QRect(0, 0, 1280, 2));
    // "Open/Close" brings a hidden strip back.
    QMetaObject::invokeMethod(dlg.tray(), "activated");
    ASSERT_TRUE(settled());
    EXPECT_EQ(dlg.geometry(), QRect(0, 0, 1280, agent::ui::kDockThickness));
    // Off: the strip is reserved again; floating ends it.
    ASSERT_TRUE(dlg.SetAutoHide(false));
    EXPECT_EQ(dock_.docked.size(), 1u);
    ASSERT_TRUE(dlg.SetAutoHide(true));
    dlg.Undock();
    EXPECT_FALSE(dlg.isAutoHiding());
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
