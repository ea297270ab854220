// The desktop of an X11 session, read through the window manager's EWMH properties
// (_NET_ACTIVE_WINDOW, _NET_CLIENT_LIST, _NET_WM_NAME, _NET_WM_PID) on a connection of
// its own to the display.
#pragma once

#include <memory>

#include "platform/desktop.h"

namespace platform {

// Opens the display named by DISPLAY; null when there is none.
std::unique_ptr<Desktop> openX11Desktop();

}  // namespace platform
