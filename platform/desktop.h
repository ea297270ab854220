// The desktop as the agent sees it: which window is active, what it is called, and the
// few things the agent asks of other windows (raise one, ask one to close). The X11
// implementation lives in platform/x11; FakeDesktop serves tests and sessions without
// a window system. Texts are as the window system gives them (UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct WindowInfo {
    uint64_t id = 0;                          // 0: no window
    std::string title;                        // UTF-8
    std::string windowClass;                  // the class part of WM_CLASS
    int pid = 0;                              // _NET_WM_PID, 0 when unknown
    int x = 0, y = 0, width = 0, height = 0;  // on the screen
};

class Desktop {
  public:
    virtual ~Desktop() = default;
    // The active window (id 0 when there is none or it cannot be told).
    virtual WindowInfo activeWindow() = 0;
    // Title, class and process of a window (id 0 when it is gone).
    virtual WindowInfo describe(uint64_t id) = 0;
    // The top-level window (as its program made it) under a screen point; 0 for none.
    virtual uint64_t windowAt(int x, int y) = 0;
    // Brings a window to the front and gives it the focus.
    virtual bool raiseWindow(uint64_t id) = 0;
    // Asks every top-level window with exactly this title to close (the window manager's
    // close request, which the program may answer as it likes). The number asked.
    virtual int closeWindowsTitled(const std::string& title) = 0;
    // A short name for the diagnostic log ("x11", "fake").
    virtual const char* name() const = 0;
};

// A desktop that is told what to report and records what it is asked.
class FakeDesktop : public Desktop {
  public:
    WindowInfo active;
    std::vector<WindowInfo> windows;      // the top-level windows, for closing by title
    std::vector<uint64_t> raised;         // every raiseWindow call
    std::vector<std::string> closeAsked;  // the title of every window asked to close

    WindowInfo activeWindow() override { return active; }
    WindowInfo describe(uint64_t id) override {
        for (const WindowInfo& w : windows)
            if (w.id == id) return w;
        return active.id == id ? active : WindowInfo{};
    }
    uint64_t windowAt(int, int) override { return underPoint; }
    uint64_t underPoint = 0;
    bool raiseWindow(uint64_t id) override {
        raised.push_back(id);
        return true;
    }
    int closeWindowsTitled(const std::string& title) override {
        int asked = 0;
        for (const WindowInfo& w : windows) {
            if (w.title != title) continue;
            closeAsked.push_back(w.title);
            ++asked;
        }
        return asked;
    }
    const char* name() const override { return "fake"; }
};

}  // namespace platform
