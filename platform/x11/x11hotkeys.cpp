#include "platform/x11/x11hotkeys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace platform {
namespace {

// BadAccess answers to the grabs being checked; set by the error handler.
std::mutex g_errorLock;
bool g_badAccess = false;

int recordGrabError(Display*, XErrorEvent* error) {
    if (error->error_code == BadAccess) g_badAccess = true;
    return 0;
}

KeySym keySymFor(int virtualKey) {
    if (virtualKey >= 'A' && virtualKey <= 'Z') return XK_a + (virtualKey - 'A');
    if (virtualKey >= '0' && virtualKey <= '9') return XK_0 + (virtualKey - '0');
    if (virtualKey >= 0x70 && virtualKey <= 0x7B) return XK_F1 + (virtualKey - 0x70);
    return NoSymbol;
}

unsigned int modifierMask(int modifiers) {
    unsigned int mask = 0;
    if (modifiers & kHotKeyAlt) mask |= Mod1Mask;
    if (modifiers & kHotKeyControl) mask |= ControlMask;
    if (modifiers & kHotKeyShift) mask |= ShiftMask;
    return mask;
}

// All Xlib work happens on the thread that reads the key events: an Xlib connection is
// not shared between threads. Callers hand it tasks and wait for their answers.
class X11HotKeys : public HotKeys {
  public:
    explicit X11HotKeys(Display* display) : display_(display) {
        root_ = DefaultRootWindow(display_);
        numLockMask_ = findNumLockMask();
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK);
        thread_ = std::thread(&X11HotKeys::run, this);
    }
    ~X11HotKeys() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        wake();
        thread_.join();
        for (int fd : wake_)
            if (fd >= 0) ::close(fd);
        XCloseDisplay(display_);
    }

    Result registerKey(int id, int virtualKey, int modifiers) override {
        return onThread([=, this] {
            release(id);
            Grab grab{};
            Result r = grabKey(virtualKey, modifiers, &grab);
            if (r == Result::Registered) grabs_[id] = grab;
            return r;
        });
    }

    void unregisterKey(int id) override {
        onThread([=, this] {
            release(id);
            return Result::Registered;
        });
    }

    Result check(int virtualKey, int modifiers) override {
        return onThread([=, this] {
            Grab grab{};
            KeySym sym = keySymFor(virtualKey);
            KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display_, sym);
            for (const auto& entry : grabs_)
                if (entry.second.code == code && entry.second.mask == modifierMask(modifiers))
                    return Result::InUse;
            Result r = grabKey(virtualKey, modifiers, &grab);
            if (r == Result::Registered) ungrab(grab);
            return r;
        });
    }

  private:
    struct Grab {
        KeyCode code;
        unsigned int mask;
    };

    unsigned int findNumLockMask() {
        unsigned int mask = 0;
        KeyCode numLock = XKeysymToKeycode(display_, XK_Num_Lock);
        XModifierKeymap* map = XGetModifierMapping(display_);
        if (!map) return 0;
        for (int modifier = 0; modifier < 8 && numLock; ++modifier)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (map->modifiermap[modifier * map->max_keypermod + k] == numLock)
                    mask = 1u << modifier;
        XFreeModifiermap(map);
        return mask;
    }

    // The lock-key states a grab must cover.
    std::array<unsigned int, 4> lockVariants() const {
        return {0u, static_cast<unsigned int>(LockMask), numLockMask_,
                static_cast<unsigned int>(LockMask) | numLockMask_};
    }

    Result grabKey(int virtualKey, int modifiers, Grab* grab) {
        KeySym sym = keySymFor(virtualKey);
        if (sym == NoSymbol) return Result::Failed;
        KeyCode code = XKeysymToKeycode(display_, sym);
        if (code == 0) return Result::Failed;
        grab->code = code;
        grab->mask = modifierMask(modifiers);
        bool refused;
        {
            std::lock_guard<std::mutex> guard(g_errorLock);
            g_badAccess = false;
            XSync(display_, False);
            auto previous = XSetErrorHandler(recordGrabError);
            for (unsigned int locks : lockVariants())
                XGrabKey(display_, code, grab->mask | locks, root_, True, GrabModeAsync,
                         GrabModeAsync);
            XSync(display_, False);  // the answer to every grab is in before we look
            XSetErrorHandler(previous);
            refused = g_badAccess;
        }
        if (refused) {
            ungrab(*grab);
            return Result::InUse;
        }
        return Result::Registered;
    }

    void ungrab(const Grab& grab) {
        for (unsigned int locks : lockVariants())
            XUngrabKey(display_, grab.code, grab.mask | locks, root_);
        XSync(display_, False);
    }

    void release(int id) {
        auto it = grabs_.find(id);
        if (it == grabs_.end()) return;
        ungrab(it->second);
        grabs_.erase(it);
    }

    Result onThread(std::function<Result()> task) {
        std::packaged_task<Result()> packaged(std::move(task));
        std::future<Result> answer = packaged.get_future();
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_) return Result::Failed;
            tasks_.push_back(std::move(packaged));
        }
        wake();
        return answer.get();
    }

    void wake() {
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
    }

    void run() {
        XSelectInput(display_, root_, KeyPressMask);
        pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
        for (;;) {
            std::deque<std::packaged_task<Result()>> tasks;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (stopping_) break;
                tasks.swap(tasks_);
            }
            for (auto& task : tasks) task();
            while (XPending(display_)) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type != KeyPress) continue;
                unsigned int state = event.xkey.state & (Mod1Mask | ControlMask | ShiftMask);
                for (const auto& entry : grabs_)
                    if (entry.second.code == event.xkey.keycode && entry.second.mask == state &&
                        pressed)
                        pressed(entry.first);
            }
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
            if (fds[1].revents & POLLIN) {
                char buffer[64];
                while (::read(wake_[0], buffer, sizeof buffer) > 0) {
                }
            }
        }
        for (auto& entry : grabs_) ungrab(entry.second);
        grabs_.clear();
        // Tasks that came too late are answered, so no caller waits for ever.
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& task : tasks_) task();
        tasks_.clear();
    }

    Display* display_;
    Window root_;
    unsigned int numLockMask_ = 0;
    int wake_[2] = {-1, -1};
    std::mutex lock_;
    std::deque<std::packaged_task<Result()>> tasks_;
    bool stopping_ = false;
    std::map<int, Grab> grabs_;  // used on the thread only
    std::thread thread_;
};

}  // namespace

std::unique_ptr<HotKeys> openX11HotKeys() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    return std::make_unique<X11HotKeys>(display);
}

}  // namespace platform
