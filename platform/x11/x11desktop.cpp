#include "platform/x11/x11desktop.h"

#include "platform/x11/x11props.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {
namespace {

class X11Desktop : public Desktop {
  public:
    explicit X11Desktop(Display* display) : display_(display) {
        x11::ignoreXErrors();
        root_ = DefaultRootWindow(display_);
        netActive_ = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
        netClientList_ = XInternAtom(display_, "_NET_CLIENT_LIST", False);
        netWmName_ = XInternAtom(display_, "_NET_WM_NAME", False);
        netWmPid_ = XInternAtom(display_, "_NET_WM_PID", False);
        netCloseWindow_ = XInternAtom(display_, "_NET_CLOSE_WINDOW", False);
        utf8_ = XInternAtom(display_, "UTF8_STRING", False);
        wmState_ = XInternAtom(display_, "WM_STATE", False);
    }
    ~X11Desktop() override { XCloseDisplay(display_); }

    WindowInfo activeWindow() override {
        std::vector<unsigned long> ids = windowList(root_, netActive_, XA_WINDOW);
        if (ids.empty() || ids[0] == 0) return {};
        return describe(ids[0]);
    }

    WindowInfo describe(uint64_t id) override {
        WindowInfo info;
        XWindowAttributes attributes{};
        if (id == 0 || !XGetWindowAttributes(display_, id, &attributes)) return info;
        info.id = id;
        info.title = title(id);
        info.windowClass = windowClass(id);
        std::vector<unsigned long> pid = windowList(id, netWmPid_, XA_CARDINAL);
        if (!pid.empty()) info.pid = static_cast<int>(pid[0]);
        Window child = None;
        int x = 0, y = 0;
        if (XTranslateCoordinates(display_, id, root_, 0, 0, &x, &y, &child)) {
            info.x = x;
            info.y = y;
        }
        info.width = attributes.width;
        info.height = attributes.height;
        return info;
    }

    uint64_t windowAt(int x, int y) override {
        Window child = None;
        int cx = 0, cy = 0;
        if (!XTranslateCoordinates(display_, root_, root_, x, y, &cx, &cy, &child) || child == None)
            return 0;
        // The window manager's frame holds the program's window: the one with WM_STATE.
        return clientWindow(child, 0);
    }

    bool raiseWindow(uint64_t id) override {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = static_cast<Window>(id);
        ev.xclient.message_type = netActive_;
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = 2;  // the request comes from a pager-like program
        ev.xclient.data.l[1] = CurrentTime;
        Status sent = XSendEvent(display_, root_, False,
                                 SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XFlush(display_);
        return sent != 0;
    }

    int closeWindowsTitled(const std::string& wanted) override {
        int asked = 0;
        for (unsigned long id : windowList(root_, netClientList_, XA_WINDOW)) {
            if (title(id) != wanted) continue;
            XEvent ev{};
            ev.xclient.type = ClientMessage;
            ev.xclient.window = id;
            ev.xclient.message_type = netCloseWindow_;
            ev.xclient.format = 32;
            ev.xclient.data.l[0] = CurrentTime;
            ev.xclient.data.l[1] = 2;
            if (XSendEvent(display_, root_, False,
                           SubstructureRedirectMask | SubstructureNotifyMask, &ev))
                ++asked;
        }
        XFlush(display_);
        return asked;
    }

    const char* name() const override { return "x11"; }

  private:
    // A property holding 32-bit items (windows, cardinals).
    std::vector<unsigned long> windowList(Window w, Atom property, Atom type) {
        return x11::cardinalProperty(display_, w, property, type);
    }

    Window clientWindow(Window w, int depth) {
        if (depth > 8) return 0;
        if (hasProperty(w, wmState_)) return w;
        Window rootReturn = None, parent = None, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display_, w, &rootReturn, &parent, &children, &count)) return 0;
        Window found = 0;
        for (unsigned int i = count; i-- > 0 && !found;)
            found = clientWindow(children[i], depth + 1);
        if (children) XFree(children);
        return found;
    }

    bool hasProperty(Window w, Atom property) {
        Atom actualType = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool has = XGetWindowProperty(display_, w, property, 0, 0, False, AnyPropertyType,
                                      &actualType, &format, &count, &after, &data) == Success &&
                   actualType != None;
        if (data) XFree(data);
        return has;
    }

    std::string title(Window w) {
        Atom actualType = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(display_, w, netWmName_, 0, 65536, False, utf8_, &actualType,
                               &format, &count, &after, &data) == Success &&
            data && format == 8 && actualType == utf8_) {
            out.assign(reinterpret_cast<char*>(data), count);
        }
        if (data) XFree(data);
        if (!out.empty()) return out;
        // WM_NAME in the locale's encoding, converted by Xlib.
        XTextProperty prop{};
        if (XGetWMName(display_, w, &prop) && prop.value) {
            char** list = nullptr;
            int n = 0;
            if (Xutf8TextPropertyToTextList(display_, &prop, &list, &n) >= Success && n > 0 &&
                list) {
                out = list[0];
            }
            if (list) XFreeStringList(list);
            XFree(prop.value);
        }
        return out;
    }

    std::string windowClass(Window w) {
        XClassHint hint{};
        std::string out;
        if (XGetClassHint(display_, w, &hint)) {
            if (hint.res_class) out = hint.res_class;
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
        }
        return out;
    }

    Display* display_;
    Window root_;
    Atom netActive_, netClientList_, netWmName_, netWmPid_, netCloseWindow_, utf8_, wmState_;
};

}  // namespace

std::unique_ptr<Desktop> openX11Desktop() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    return std::make_unique<X11Desktop>(display);
}

ActiveWindowWatcher::~ActiveWindowWatcher() {
    stop();
}

bool ActiveWindowWatcher::start(std::function<void()> changed) {
    stop();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        XCloseDisplay(display);
        return false;
    }
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
    XFlush(display);
    display_ = display;
    changed_ = std::move(changed);
    thread_ = std::thread(&ActiveWindowWatcher::run, this);
    return true;
}

void ActiveWindowWatcher::stop() {
    if (thread_.joinable()) {
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
        thread_.join();
    }
    for (int& fd : wake_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (display_) XCloseDisplay(static_cast<Display*>(display_));
    display_ = nullptr;
}

void ActiveWindowWatcher::run() {
    auto* display = static_cast<Display*>(display_);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == active) changed_();
        }
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLERR | POLLHUP)) return;
    }
}

}  // namespace platform
