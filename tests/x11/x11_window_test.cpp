// The suggestions window on a real X11 desktop (run inside tests/x11/session.sh, where
// openbox manages a 1280x800 screen): the docked strip hiding against its edge and coming
// back when xdotool moves the pointer onto it, the strip following a change of the work
// area, docking and floating by dragging the brand picture, and the tray icon in a real
// tray host (trayer) or, without one, minimising instead of hiding.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "agent/ui/SystemTray.h"
#include "platform/x11/x11dock.h"
#include "tests/agent_ui/window_fixture.h"
// Xlib's macros (None, Status, ...) after Qt's and the test framework's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

using namespace agent_ui_test;
using platform::RegHive;

constexpr int kThick = agent::ui::kDockThickness;

// Runs the window's events until done() or the limit.
bool waitFor(const std::function<bool()>& done, int limitMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done()) return true;
        QThread::msleep(10);
    }
    return done();
}

// Runs xdotool while the window goes on handling its events (as it does while a user
// drags it).
void xdotool(const std::string& args) {
    QProcess xdo;
    xdo.start("xdotool", QString::fromStdString(args).split(' ', Qt::SkipEmptyParts));
    ASSERT_TRUE(xdo.waitForStarted(5000)) << args;
    ASSERT_TRUE(waitFor([&] { return xdo.state() == QProcess::NotRunning; }, 10000)) << args;
    ASSERT_EQ(xdo.exitCode(), 0) << args;
}

std::string at(QPoint p) {
    return std::to_string(p.x()) + " " + std::to_string(p.y());
}

class X11WindowTest : public WindowTest {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
        WindowTest::SetUp();
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
        x11Dock_ = platform::openX11Dock();
        dockSeam_ = x11Dock_.get();
        full_ = workArea();
        ASSERT_EQ(full_, QRect(0, 0, 1280, 800));
        xdotool("mousemove 640 300");
    }
    void TearDown() override {
        if (!display_) return;
        dialog_.reset();
        // The next test starts from the whole screen.
        EXPECT_TRUE(waitFor([&] { return workArea() == full_; }));
        x11Dock_.reset();
        XCloseDisplay(display_);
        WindowTest::TearDown();
    }

    CSapioluxDlg& shownDialog(bool docked) {
        setNumber(RegHive::User, "Window", "IsAppBar", docked ? 1 : 0);
        setNumber(RegHive::User, "Window", "XPosition", 300);
        setNumber(RegHive::User, "Window", "YPosition", 200);
        settings_.Load();
        CSapioluxDlg& dlg = makeDialog();
        dlg.ShowAtStart();
        return dlg;
    }

    // The work area the window manager publishes.
    QRect workArea() {
        Atom atom = XInternAtom(display_, "_NET_WORKAREA", False);
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        QRect out;
        if (XGetWindowProperty(display_, DefaultRootWindow(display_), atom, 0, 4, False,
                               XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
            data && count >= 4) {
            auto* v = reinterpret_cast<long*>(data);
            out = QRect(v[0], v[1], v[2], v[3]);
        }
        if (data) XFree(data);
        return out;
    }

    // Where the X server has the window (not what Qt believes).
    QRect placeOf(const QWidget& w) {
        Window window = static_cast<Window>(w.winId()), root, child;
        int x, y;
        unsigned int width, height, border, depth;
        if (!XGetGeometry(display_, window, &root, &x, &y, &width, &height, &border, &depth))
            return {};
        XTranslateCoordinates(display_, window, root, 0, 0, &x, &y, &child);
        return QRect(x, y, static_cast<int>(width), static_cast<int>(height));
    }

    // Whether the window manager has put the window into a frame of its own (asked of the
    // X server: Qt's frame geometry is worked out once and can miss a late reparenting).
    bool framed(const QWidget& w) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display_, static_cast<Window>(w.winId()), &root, &parent, &children,
                        &count))
            return false;
        if (children) XFree(children);
        return parent != 0 && parent != root;
    }

    // Whether the X server shows the window (a window the window manager iconified is
    // unmapped).
    bool viewable(const QWidget& w) {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display_, static_cast<Window>(w.winId()), &attributes) &&
               attributes.map_state == IsViewable;
    }

    // A panel of another program reserving a strip at the left edge.
    Window leftPanel(int width) {
        Window w =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, width, 800, 0, 0, 0);
        long strut[12] = {width, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0};
        XChangeProperty(display_, w, XInternAtom(display_, "_NET_WM_STRUT_PARTIAL", False),
                        XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(strut),
                        12);
        long type = static_cast<long>(XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False));
        XChangeProperty(display_, w, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM,
                        32, PropModeReplace, reinterpret_cast<unsigned char*>(&type), 1);
        XMapWindow(display_, w);
        XSync(display_, False);
        return w;
    }

    Display* display_ = nullptr;
    std::unique_ptr<platform::Dock> x11Dock_;
    QRect full_;
};

TEST_F(X11WindowTest, AutoHideLeavesATwoPixelStripAndSlidesBackUnderThePointer) {
    CSapioluxDlg& dlg = shownDialog(true);
    const QRect strip(0, 800 - kThick, 1280, kThick);
    ASSERT_TRUE(waitFor([&] { return workArea() == QRect(0, 0, 1280, 800 - kThick); }));
    ASSERT_TRUE(waitFor([&] { return placeOf(dlg) == strip; })) << "at " << placeOf(dlg).y();

    // Auto-hide: the reservation goes back to other windows; with the pointer elsewhere
    // the strip slides out, 2 pixels of it stay.
    ASSERT_TRUE(dlg.SetAutoHide(true));
    EXPECT_TRUE(waitFor([&] { return workArea() == full_; }));
    EXPECT_TRUE(waitFor([&] { return placeOf(dlg) == QRect(0, 798, 1280, 2); }))
        << "at " << placeOf(dlg).y() << " height " << placeOf(dlg).height();
    EXPECT_TRUE(dlg.isHiddenAtEdge());

    // The pointer on the last row of the screen: the strip slides back.
    xdotool("mousemove 640 799");
    EXPECT_TRUE(waitFor([&] { return placeOf(dlg) == strip && !dlg.isSliding(); }))
        << "at " << placeOf(dlg).y();
    EXPECT_FALSE(dlg.isHiddenAtEdge());
    EXPECT_EQ(workArea(), full_);
    // And out again when it leaves.
    xdotool("mousemove 640 300");
    EXPECT_TRUE(waitFor([&] { return placeOf(dlg) == QRect(0, 798, 1280, 2); }));

    // Off: shown and reserving its strip again.
    ASSERT_TRUE(dlg.SetAutoHide(false));
    EXPECT_TRUE(waitFor([&] { return workArea() == QRect(0, 0, 1280, 800 - kThick); }));
    EXPECT_TRUE(waitFor([&] { return placeOf(dlg) == strip; }));
}

TEST_F(X11WindowTest, WorkAreaChangesMoveTheStripAndKeepTheFloatingWindowOnScreen) {
    CSapioluxDlg& dlg = shownDialog(true);
    ASSERT_TRUE(waitFor([&] { return placeOf(dlg) == QRect(0, 800 - kThick, 1280, kThick); }));
    // A panel reserving 40 pixels at the left: the strip starts beside it.
    Window panel = leftPanel(40);
    EXPECT_TRUE(waitFor([&] { return workArea() == QRect(40, 0, 1240, 800 - kThick); }))
        << "work area x " << workArea().x();
    EXPECT_TRUE(waitFor([&] { return placeOf(dlg) == QRect(40, 800 - kThick, 1240, kThick); }))
        << "at " << placeOf(dlg).x();
    // Gone again: the whole width.
    XDestroyWindow(display_, panel);
    XSync(display_, False);
    EXPECT_TRUE(waitFor([&] { return placeOf(dlg) == QRect(0, 800 - kThick, 1280, kThick); }));

    // Floating at the left edge, under where the panel comes: pushed out from under it.
    dlg.Undock();
    ASSERT_TRUE(waitFor([&] { return workArea() == full_; }));
    dlg.move(0, 200);
    ASSERT_TRUE(waitFor([&] { return dlg.frameGeometry().x() == 0; }));
    panel = leftPanel(60);
    EXPECT_TRUE(waitFor([&] { return dlg.frameGeometry().x() >= 60; }))
        << "at " << dlg.frameGeometry().x();
    XDestroyWindow(display_, panel);
    XSync(display_, False);
}

TEST_F(X11WindowTest, DraggingDocksAndFloats) {
    CSapioluxDlg& dlg = shownDialog(false);
    QLabel* brand = dlg.findChild<QLabel*>("ctl1085");
    ASSERT_NE(brand, nullptr);
    ASSERT_TRUE(waitFor([&] { return placeOf(dlg).isValid() && brand->isVisible(); }));
    // Framed by the window manager.
    ASSERT_TRUE(waitFor([&] { return framed(dlg); }));

    // Dragged down to the bottom edge of the screen: docked there.
    QPoint grip = brand->mapToGlobal(brand->rect().center());
    xdotool("mousemove " + at(grip) + " mousedown 1 mousemove " + at(grip + QPoint(0, 40)) +
            " sleep 0.1 mousemove " + at(QPoint(grip.x(), 500)) + " sleep 0.1 mousemove " +
            at(QPoint(grip.x(), 799)) + " sleep 0.1 mouseup 1");
    EXPECT_TRUE(waitFor([&] { return dlg.isDocked(); }));
    const QRect strip(0, 800 - kThick, 1280, kThick);
    EXPECT_TRUE(waitFor([&] { return placeOf(dlg) == strip && dlg.geometry() == strip; }));
    EXPECT_TRUE(waitFor([&] { return workArea() == QRect(0, 0, 1280, 800 - kThick); }));

    // Dragged from the strip to the middle of the screen: floating again, under the pointer.
    ASSERT_TRUE(waitFor([&] { return brand->isVisible(); }));
    grip = brand->mapToGlobal(brand->rect().center());
    xdotool("mousemove " + at(grip) + " mousedown 1 mousemove " + at(grip - QPoint(0, 40)) +
            " sleep 0.1 mousemove 640 400 sleep 0.1 mouseup 1");
    EXPECT_TRUE(waitFor([&] { return !dlg.isDocked(); }));
    EXPECT_TRUE(waitFor([&] { return workArea() == full_; }));
    EXPECT_TRUE(waitFor([&] { return dlg.frameGeometry().contains(QPoint(640, 400)); }))
        << "at " << placeOf(dlg).x() << "," << placeOf(dlg).y();
}

TEST_F(X11WindowTest, TrayHostShowsTheWindowOnAClickAndWithoutOneHidingMinimises) {
    CSapioluxDlg& dlg = shownDialog(false);
    ASSERT_TRUE(waitFor([&] { return dlg.isVisible() && placeOf(dlg).isValid(); }));
    // No tray yet: hiding would leave no way back, so the window is minimised.
    ASSERT_FALSE(dlg.tray()->available());
    dlg.HideWindow();
    EXPECT_TRUE(waitFor([&] { return dlg.isMinimized(); }));
    // Qt counts the window minimised at once; the window manager iconifies it a moment
    // later, and would undo a pop-up that came before that.
    EXPECT_TRUE(waitFor([&] { return !viewable(dlg); }));
    dlg.PopUp(true);
    ASSERT_TRUE(waitFor([&] { return dlg.isVisible() && !dlg.isMinimized() && viewable(dlg); }))
        << "visible " << dlg.isVisible() << ", minimised " << dlg.isMinimized() << ", viewable "
        << viewable(dlg);

    // A tray host starts after the agent: the icon goes into it.
    QProcess trayer;
    trayer.start("trayer",
                 {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                  "--SetDockType", "true", "--SetPartialStrut", "false"});
    ASSERT_TRUE(trayer.waitForStarted(5000));
    // The icon is a small window of its own, embedded in the tray's window.
    QWidget* iconWindow = nullptr;
    EXPECT_TRUE(waitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->inherits("QSystemTrayIconSys") && w->isVisible()) iconWindow = w;
            // In the panel at the top right, once the panel has its size.
            return dlg.tray()->shown() && iconWindow && placeOf(*iconWindow).x() > 640 &&
                   full_.contains(placeOf(*iconWindow));
        },
        10000));
    ASSERT_NE(iconWindow, nullptr);
    const QRect icon = placeOf(*iconWindow);
    // Hidden now (the tray brings it back), and a click on the icon shows it.
    dlg.HideWindow();
    EXPECT_TRUE(waitFor([&] { return !dlg.isVisible(); }));
    EXPECT_FALSE(dlg.isMinimized());
    xdotool("mousemove " + at(icon.center()) + " click 1");
    EXPECT_TRUE(waitFor([&] { return dlg.isVisible(); })) << "icon at " << at(icon.center());
    trayer.terminate();
    if (!trayer.waitForFinished(3000)) trayer.kill();
    trayer.waitForFinished(3000);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
