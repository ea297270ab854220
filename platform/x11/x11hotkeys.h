// Global hot keys on X11: the key is grabbed on the root window with every combination of
// Caps Lock and Num Lock, so it works whatever the lock keys' state; another program's
// grab of the same key is reported as in use.
#pragma once

#include <memory>

#include "platform/hotkeys.h"

namespace platform {

// Null when there is no display.
std::unique_ptr<HotKeys> openX11HotKeys();

}  // namespace platform
