// The desktop of an X11 session, read through the window manager's EWMH properties
// (_NET_ACTIVE_WINDOW, _NET_CLIENT_LIST, _NET_WM_NAME, _NET_WM_PID) on a connection of
// its own to the display.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "platform/desktop.h"

namespace platform {

// Opens the display named by DISPLAY; null when there is none.
std::unique_ptr<Desktop> openX11Desktop();

// Calls changed() on a thread of its own each time the window manager names another active
// window, until the watcher goes. Its own connection to the display.
class ActiveWindowWatcher {
  public:
    ActiveWindowWatcher() = default;
    ~ActiveWindowWatcher();
    ActiveWindowWatcher(const ActiveWindowWatcher&) = delete;
    ActiveWindowWatcher& operator=(const ActiveWindowWatcher&) = delete;
    // False when there is no display.
    bool start(std::function<void()> changed);
    void stop();

  private:
    void run();
    std::function<void()> changed_;
    std::thread thread_;
    int wake_[2] = {-1, -1};
    void* display_ = nullptr;
};

}  // namespace platform
