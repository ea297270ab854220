#include "platform/x11/x11props.h"

namespace platform::x11 {
namespace {

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
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
}

}  // namespace platform::x11
