// The messages the agent's main window receives. A message is posted: it runs later on
// the window's thread with its two parameters, whatever thread posted it. Numbers are
// those of the window messages other parts of the agent know them by.
#pragma once

#include <cstdint>

namespace agent {

enum AgentMessage : uint32_t {
    kMsgTrayCallback = 1025,   // the tray icon was clicked (lParam: the mouse event)
    kMsgShowWindow = 1027,     // pop the window up (wParam non-zero: even for a desk band)
    kMsgQueryDone = 1028,      // a worker finished (wParam: its request, lParam: its id)
    kMsgMailslotText = 1029,   // captured window text waits in the mailslot
    kMsgAdvertsReady = 1036,   // a new advert set is filled
    kMsgWindowChanged = 1037,  // another window became active (wParam: the window)
    kMsgProbeDone = 1038,      // the connectivity probe ended (wParam non-zero: reachable)
    kMsgAppBarCallback = 2034,  // the docked strip's position or the work area changed
    kMsgHotKey = 786            // a global hot key was pressed (wParam: its id)
};

// Posts a message to the main window from any thread.
using PostFunction = void (*)(void* window, AgentMessage message, uintptr_t wParam,
                              intptr_t lParam);

}  // namespace agent
