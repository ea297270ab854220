// Docking a window to a screen edge as a strip that other windows make room for, shown on
// every desktop. Edges: 0 left, 1 top, 2 right, 3 bottom. The X11 implementation lives in
// platform/x11; FakeDock serves tests.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const ScreenRect&) const = default;
};

class Dock {
  public:
    virtual ~Dock() = default;
    // The rectangle the window takes when docked at edge with the given thickness: along
    // the edge of the work area as it is without this window's own reservation.
    virtual ScreenRect placeFor(uint64_t window, int edge, int thickness) = 0;
    // Marks window as docked there (it must not be shown yet, or be shown again after):
    // the strip is reserved, the window is a dock window on every desktop.
    virtual bool dock(uint64_t window, int edge, const ScreenRect& place) = 0;
    // Gives the strip back and makes window an ordinary window again.
    virtual bool undock(uint64_t window) = 0;
    // Gives the strip back while window stays a dock window on every desktop (a window
    // that hides against its edge lies over other windows instead of pushing them
    // aside). dock() reserves it again.
    virtual bool release(uint64_t window) = 0;
};

class FakeDock : public Dock {
  public:
    ScreenRect screen{0, 0, 1280, 800};
    std::vector<uint64_t> docked;
    ScreenRect placeFor(uint64_t, int edge, int thickness) override {
        switch (edge) {
            case 0:
                return {screen.x, screen.y, thickness, screen.height};
            case 1:
                return {screen.x, screen.y, screen.width, thickness};
            case 2:
                return {screen.x + screen.width - thickness, screen.y, thickness, screen.height};
            default:
                return {screen.x, screen.y + screen.height - thickness, screen.width, thickness};
        }
    }
    bool dock(uint64_t window, int, const ScreenRect&) override {
        docked.push_back(window);
        return true;
    }
    bool undock(uint64_t window) override {
        std::erase(docked, window);
        return true;
    }
    bool release(uint64_t window) override {
        std::erase(docked, window);
        return true;
    }
};

}  // namespace platform
