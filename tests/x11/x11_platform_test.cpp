// The X11 implementations of the platform seams, against a real X server and window
// manager (run inside tests/x11/session.sh): global hot keys with and without Num Lock,
// a key another client holds, and a docked window's reserved strip.
#include <gtest/gtest.h>
// Xlib's macros (None, Status, ...) after the test framework's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/x11desktop.h"
#include "platform/x11/x11dock.h"
#include "platform/x11/x11hotkeys.h"

#include <functional>

namespace {

using namespace std::chrono_literals;
using platform::HotKeys;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

TEST(X11HotKeys, PressedWithLocksAndHeldElsewhere) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
    auto agent = platform::openX11HotKeys();
    auto other = platform::openX11HotKeys();
    ASSERT_TRUE(agent && other);
    std::atomic<int> presses{0};
    agent->pressed = [&](int id) {
        if (id == 7) ++presses;
    };
    const int ctrlAlt = platform::kHotKeyControl | platform::kHotKeyAlt;
    ASSERT_EQ(agent->registerKey(7, 'G', ctrlAlt), HotKeys::Result::Registered);
    ASSERT_EQ(run("xdotool key ctrl+alt+g"), 0);
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }, 3s));
    // Num Lock on: the key still arrives.
    ASSERT_EQ(run("xdotool key Num_Lock"), 0);
    ASSERT_EQ(run("xdotool key ctrl+alt+g"), 0);
    EXPECT_TRUE(waitUntil([&] { return presses == 2; }, 3s));
    run("xdotool key Num_Lock");
    // Without Control the grab does not fire.
    run("xdotool key alt+g");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(presses, 2);

    // Another client holding Ctrl+Alt+H: the check and the registration say in use.
    ASSERT_EQ(other->registerKey(1, 'H', ctrlAlt), HotKeys::Result::Registered);
    EXPECT_EQ(agent->check('H', ctrlAlt), HotKeys::Result::InUse);
    EXPECT_EQ(agent->registerKey(8, 'H', ctrlAlt), HotKeys::Result::InUse);
    // The agent's own key counts as in use; a free one is free and stays free.
    EXPECT_EQ(agent->check('G', ctrlAlt), HotKeys::Result::InUse);
    EXPECT_EQ(agent->check('J', ctrlAlt), HotKeys::Result::Registered);
    EXPECT_EQ(other->check('J', ctrlAlt), HotKeys::Result::Registered);
    EXPECT_EQ(agent->check(0x70, platform::kHotKeyShift), HotKeys::Result::Registered);  // F1
    EXPECT_EQ(agent->check('#', ctrlAlt), HotKeys::Result::Failed);
    other.reset();
    EXPECT_EQ(agent->registerKey(8, 'H', ctrlAlt), HotKeys::Result::Registered);
}

// The work area the window manager publishes (first desktop).
std::vector<long> workArea(Display* display) {
    Atom atom = XInternAtom(display, "_NET_WORKAREA", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::vector<long> out;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom, 0, 4, False, XA_CARDINAL,
                           &type, &format, &count, &after, &data) == Success &&
        data && count >= 4)
        out.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + 4);
    if (data) XFree(data);
    return out;
}

class X11Dock : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        dock = platform::openX11Dock();
        full = workArea(display);
        ASSERT_EQ(full.size(), 4u);
    }
    void TearDown() override {
        if (display) XCloseDisplay(display);
    }

    // A 53-pixel strip docked at edge where the dock places it (in *place).
    Window dockedStrip(int edge, platform::ScreenRect* place) {
        Window w = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 53, 0, 0, 0);
        XSync(display, False);
        *place = dock->placeFor(w, edge, 53);
        EXPECT_TRUE(dock->dock(w, edge, *place));
        XMoveResizeWindow(display, w, place->x, place->y, place->width, place->height);
        XMapWindow(display, w);
        XSync(display, False);
        return w;
    }

    Display* display = nullptr;
    std::unique_ptr<platform::Dock> dock;
    std::vector<long> full;
};

TEST_F(X11Dock, ReservesTheStripAtEachEdge) {
    for (int edge : {3, 1, 0}) {
        platform::ScreenRect place;
        Window w = dockedStrip(edge, &place);
        std::vector<long> expected = full;
        if (edge == 3) expected[3] -= 53;
        if (edge == 1) expected[1] += 53, expected[3] -= 53;
        if (edge == 0) expected[0] += 53, expected[2] -= 53;
        EXPECT_TRUE(waitUntil([&] { return workArea(display) == expected; }, 3s))
            << "edge " << edge;
        // The window's own reservation is still its to take.
        EXPECT_EQ(dock->placeFor(w, edge, 53), place);
        // Floating again: the whole work area comes back.
        ASSERT_TRUE(dock->undock(w));
        EXPECT_TRUE(waitUntil([&] { return workArea(display) == full; }, 3s)) << "edge " << edge;
        XDestroyWindow(display, w);
        XSync(display, False);
    }
}

// Another program's panel at the same edge: the strip sits beside it, before and after
// the strip's own reservation enters the work area.
TEST_F(X11Dock, StripSitsBesideAnotherPanel) {
    ASSERT_EQ(full[0], 0);
    // A left panel 30 pixels wide over the upper 200 rows only.
    Window panel = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 30, 200, 0, 0, 0);
    long strut[12] = {30, 0, 0, 0, 0, 199, 0, 0, 0, 0, 0, 0};
    XChangeProperty(display, panel, XInternAtom(display, "_NET_WM_STRUT_PARTIAL", False),
                    XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(strut), 12);
    XMapWindow(display, panel);
    XSync(display, False);
    ASSERT_TRUE(waitUntil([&] { return workArea(display)[0] == 30; }, 3s));

    platform::ScreenRect place;
    Window w = dockedStrip(0, &place);
    EXPECT_EQ(place.x, 30);
    EXPECT_TRUE(waitUntil([&] { return workArea(display)[0] == 83; }, 3s));
    EXPECT_EQ(dock->placeFor(w, 0, 53), place);
    // A strip at the top starts right of the panel.
    EXPECT_EQ(dock->placeFor(w, 1, 53).x, 30);

    ASSERT_TRUE(dock->undock(w));
    XDestroyWindow(display, w);
    XDestroyWindow(display, panel);
    XSync(display, False);
    EXPECT_TRUE(waitUntil([&] { return workArea(display) == full; }, 3s));
}

}  // namespace
