// Docking on X11: the window manager's dock window type, the strut properties that
// reserve a strip of the screen, and the sticky state.
#pragma once

#include <memory>

#include "platform/dock.h"

namespace platform {

// Null when there is no display.
std::unique_ptr<Dock> openX11Dock();

}  // namespace platform
