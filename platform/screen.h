// The screen figures the agent's window defaults are computed from. Without a window
// system these are fixed figures of a common screen; the window layer sets the real
// screen's figures before the settings are read.
#pragma once

namespace platform {

struct ScreenMetrics {
    int width;           // screen width in pixels
    int height;          // screen height in pixels
    int scrollBarWidth;  // width of a vertical scroll bar
    int captionHeight;   // height of a window caption
};

ScreenMetrics screenMetrics();
// Replaces the figures screenMetrics() gives from now on.
void setScreenMetrics(const ScreenMetrics& metrics);

}  // namespace platform
