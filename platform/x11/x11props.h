// Small pieces the X11 seams share: reading a window property of 32-bit items, and the
// error handler that keeps a window that went away between two requests from ending the
// program (Xlib's default handler exits).
#pragma once

#include <X11/Xlib.h>

#include <vector>

namespace platform::x11 {

// The items of a 32-bit property of the given type (windows, atoms, cardinals); empty
// when the window or property is missing or of another kind.
std::vector<unsigned long> cardinalProperty(Display* display, Window window, Atom property,
                                            Atom type);

// Installs the handler that ignores errors, and one that ends the process at once when the
// display goes away (once per process is enough).
void ignoreXErrors();

}  // namespace platform::x11
