#include "platform/x11/x11dock.h"

#include "platform/x11/x11props.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

class X11Dock : public Dock {
  public:
    explicit X11Dock(Display* display) : display_(display), root_(DefaultRootWindow(display)) {
        x11::ignoreXErrors();
        workArea_ = XInternAtom(display_, "_NET_WORKAREA", False);
        clientList_ = XInternAtom(display_, "_NET_CLIENT_LIST", False);
        strut_ = XInternAtom(display_, "_NET_WM_STRUT", False);
        strutPartial_ = XInternAtom(display_, "_NET_WM_STRUT_PARTIAL", False);
        type_ = XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False);
        typeDock_ = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False);
        typeNormal_ = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_NORMAL", False);
        desktop_ = XInternAtom(display_, "_NET_WM_DESKTOP", False);
        state_ = XInternAtom(display_, "_NET_WM_STATE", False);
        sticky_ = XInternAtom(display_, "_NET_WM_STATE_STICKY", False);
        above_ = XInternAtom(display_, "_NET_WM_STATE_ABOVE", False);
    }
    ~X11Dock() override { XCloseDisplay(display_); }

    ScreenRect placeFor(uint64_t window, int edge, int thickness) override {
        ScreenRect area = areaBesideOthers(window);
        switch (edge) {
            case 0:
                return {area.x, area.y, thickness, area.height};
            case 1:
                return {area.x, area.y, area.width, thickness};
            case 2:
                return {area.x + area.width - thickness, area.y, thickness, area.height};
            default:
                return {area.x, area.y + area.height - thickness, area.width, thickness};
        }
    }

    bool dock(uint64_t window, int edge, const ScreenRect& place) override {
        const int screenWidth = DisplayWidth(display_, DefaultScreen(display_));
        const int screenHeight = DisplayHeight(display_, DefaultScreen(display_));
        // left, right, top, bottom, then the start and end of each on its edge.
        long partial[12] = {0};
        switch (edge) {
            case 0:
                partial[0] = place.x + place.width;
                partial[4] = place.y, partial[5] = place.y + place.height - 1;
                break;
            case 1:
                partial[2] = place.y + place.height;
                partial[8] = place.x, partial[9] = place.x + place.width - 1;
                break;
            case 2:
                partial[1] = screenWidth - place.x;
                partial[6] = place.y, partial[7] = place.y + place.height - 1;
                break;
            default:
                partial[3] = screenHeight - place.y;
                partial[10] = place.x, partial[11] = place.x + place.width - 1;
                break;
        }
        Window w = static_cast<Window>(window);
        XChangeProperty(display_, w, strutPartial_, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(partial), 12);
        XChangeProperty(display_, w, strut_, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(partial), 4);
        long type = static_cast<long>(typeDock_);
        XChangeProperty(display_, w, type_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&type), 1);
        long all = 0xFFFFFFFF;
        XChangeProperty(display_, w, desktop_, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&all), 1);
        long states[2] = {static_cast<long>(sticky_), static_cast<long>(above_)};
        XChangeProperty(display_, w, state_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(states), 2);
        XSync(display_, False);
        return true;
    }

    bool undock(uint64_t window) override {
        Window w = static_cast<Window>(window);
        XDeleteProperty(display_, w, strutPartial_);
        XDeleteProperty(display_, w, strut_);
        XDeleteProperty(display_, w, desktop_);
        long type = static_cast<long>(typeNormal_);
        XChangeProperty(display_, w, type_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&type), 1);
        XSync(display_, False);
        return true;
    }

    bool release(uint64_t window) override {
        Window w = static_cast<Window>(window);
        XDeleteProperty(display_, w, strutPartial_);
        XDeleteProperty(display_, w, strut_);
        XSync(display_, False);
        return true;
    }

  private:
    // The screen less what other programs reserve at its edges. Reservations are
    // measured from the screen's edge, so a panel and this window's strip at the same
    // edge overlap unless the strip starts where the widest other reservation ends;
    // the work area (which counts this window's strip as well) cannot tell where that
    // is. Without a client list from the window manager, the work area with this
    // window's own reservation given back is the best guess.
    ScreenRect areaBesideOthers(uint64_t window) {
        const std::vector<unsigned long> clients =
            x11::cardinalProperty(display_, root_, clientList_, XA_WINDOW);
        if (clients.empty()) {
            ScreenRect area = workArea();
            std::vector<long> own = cardinals(window, strut_);
            if (own.size() >= 4) {
                area.x -= own[0];
                area.width += own[0] + own[1];
                area.y -= own[2];
                area.height += own[2] + own[3];
            }
            return area;
        }
        const long screenWidth = DisplayWidth(display_, DefaultScreen(display_));
        const long screenHeight = DisplayHeight(display_, DefaultScreen(display_));
        long reserved[4] = {0, 0, 0, 0};  // left, right, top, bottom
        for (unsigned long client : clients) {
            if (client == window) continue;
            std::vector<long> strut = cardinals(client, strutPartial_);
            if (strut.size() < 4) strut = cardinals(client, strut_);
            if (strut.size() < 4) continue;
            for (int side = 0; side < 4; ++side) {
                // A bogus reservation cannot take more than the screen.
                const long limit = side < 2 ? screenWidth : screenHeight;
                reserved[side] = std::max(reserved[side], std::clamp(strut[side], 0L, limit));
            }
        }
        const long width = std::max(0L, screenWidth - reserved[0] - reserved[1]);
        const long height = std::max(0L, screenHeight - reserved[2] - reserved[3]);
        return {static_cast<int>(reserved[0]), static_cast<int>(reserved[2]),
                static_cast<int>(width), static_cast<int>(height)};
    }

    ScreenRect workArea() {
        std::vector<long> area = cardinals(root_, workArea_);
        if (area.size() >= 4)
            return {static_cast<int>(area[0]), static_cast<int>(area[1]), static_cast<int>(area[2]),
                    static_cast<int>(area[3])};
        return {0, 0, DisplayWidth(display_, DefaultScreen(display_)),
                DisplayHeight(display_, DefaultScreen(display_))};
    }

    std::vector<long> cardinals(uint64_t window, Atom property) {
        std::vector<unsigned long> items =
            x11::cardinalProperty(display_, static_cast<Window>(window), property, XA_CARDINAL);
        return std::vector<long>(items.begin(), items.end());
    }

    Display* display_;
    Window root_;
    Atom workArea_, clientList_, strut_, strutPartial_, type_, typeDock_, typeNormal_, desktop_,
        state_, sticky_, above_;
};

}  // namespace

std::unique_ptr<Dock> openX11Dock() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    return std::make_unique<X11Dock>(display);
}

}  // namespace platform
