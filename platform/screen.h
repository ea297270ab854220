// The screen figures the agent's window defaults are computed from. Without a window
// system these are fixed figures of a common screen; the window layer replaces them
// with the real screen's.
#pragma once

namespace platform {

struct ScreenMetrics {
    int width;           // screen width in pixels
    int scrollBarWidth;  // width of a vertical scroll bar
    int captionHeight;   // height of a window caption
};

ScreenMetrics screenMetrics();

}  // namespace platform
