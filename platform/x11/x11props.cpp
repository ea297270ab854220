#include "platform/x11/x11props.h"

#include <unistd.h>

namespace platform::x11 {
namespace {

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// Xlib calls this when a connection to the display breaks, and ends the process if it
// returns. Its default handler calls exit(), which runs the program's destructors while
// other threads go on using connections of their own, and several threads seeing the
// broken display at once then crash the process. The display is gone, so the process
// ends at once, with status 1 as Xlib's own handler gives.
int connectionLost(Display*) {
    static const char text[] = "the connection to the X display was lost\n";
    [[maybe_unused]] ssize_t written = ::write(2, text, sizeof text - 1);
    ::_exit(1);
}

}  // namespace

std::vector<unsigned long> cardinalProperty(Display* display, Window window, Atom property,
                                            Atom type) {
    std::vector<unsigned long> out;
    if (window == 0) return out;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 65536, False, type, &actualType, &format,
                           &count, &after, &data) == Success &&
        data && format == 32 && actualType == type) {
        // Xlib hands 32-bit items over as longs.
        auto* items = reinterpret_cast<unsigned long*>(data);
        out.assign(items, items + count);
    }
    if (data) XFree(data);
    return out;
}

void ignoreXErrors() {
    XSetErrorHandler(ignoreErrors);
    XSetIOErrorHandler(connectionLost);
}

}  // namespace platform::x11
