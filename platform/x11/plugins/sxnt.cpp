// sxNT.so: the agent's text reader. For a window it finds the program on the
// accessibility bus (by the window's process and title), reads what the window shows
// (the focused text object's visible part first, else the text of every text object and
// the names of labels), converts it to Windows-1252 once, writes it into the agent's
// mailslot and tells the agent (message 1029). Every accessibility call has a time-out,
// and all of them run on the reader's own thread, so a program that stops answering
// delays only the reading of its own window.
#include <atspi/atspi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/capture_plugin.h"
#include "platform/mailslot.h"
#include "platform/x11/x11desktop.h"

namespace {

constexpr uint32_t kMailslotText = 1029;
constexpr int kMaxNodes = 4000;  // objects looked at per window
constexpr int kMaxDepth = 48;
constexpr size_t kMaxCollected = 512 * 1024;  // UTF-8 bytes gathered per window
constexpr int kVisibleOnlyAbove = 4096;       // characters: longer texts are read where visible

// ---- the accessibility tree -----------------------------------------------------------

// An object reference that is released when it goes.
class Ref {
  public:
    explicit Ref(AtspiAccessible* object = nullptr) : object_(object) {}
    ~Ref() {
        if (object_) g_object_unref(object_);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    Ref& operator=(Ref&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    AtspiAccessible* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    AtspiAccessible* object_;
};

std::string takeString(gchar* text) {
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

std::string nameOf(AtspiAccessible* object) {
    GError* error = nullptr;
    std::string name = takeString(atspi_accessible_get_name(object, &error));
    g_clear_error(&error);
    return name;
}

int childCount(AtspiAccessible* object) {
    GError* error = nullptr;
    int count = atspi_accessible_get_child_count(object, &error);
    if (error) {
        g_clear_error(&error);
        return 0;
    }
    return count;
}

Ref childAt(AtspiAccessible* object, int index) {
    GError* error = nullptr;
    Ref child(atspi_accessible_get_child_at_index(object, index, &error));
    g_clear_error(&error);
    return child;
}

AtspiRole roleOf(AtspiAccessible* object) {
    GError* error = nullptr;
    AtspiRole role = atspi_accessible_get_role(object, &error);
    g_clear_error(&error);
    return role;
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    AtspiStateSet* set = atspi_accessible_get_state_set(object);
    if (!set) return false;
    bool has = atspi_state_set_contains(set, state);
    g_object_unref(set);
    return has;
}

// The class name the agent's window filters know an object of this role by.
const char* filterClass(AtspiRole role) {
    switch (role) {
        case ATSPI_ROLE_TREE:
        case ATSPI_ROLE_TREE_TABLE:
        case ATSPI_ROLE_TREE_ITEM:
            return "SysTreeView32";
        case ATSPI_ROLE_LIST:
        case ATSPI_ROLE_LIST_BOX:
        case ATSPI_ROLE_LIST_ITEM:
            return "ListBox";
        case ATSPI_ROLE_TOOL_BAR:
            return "ToolbarWindow32";
        case ATSPI_ROLE_TOOL_TIP:
            return "tooltips_class32";
        case ATSPI_ROLE_PAGE_TAB_LIST:
        case ATSPI_ROLE_PAGE_TAB:
            return "SysTabControl32";
        case ATSPI_ROLE_COMBO_BOX:
            return "ComboBox";
        case ATSPI_ROLE_SPIN_BUTTON:
            return "msctls_updown32";
        case ATSPI_ROLE_DATE_EDITOR:
            return "SysDatTimePick32";
        case ATSPI_ROLE_COLUMN_HEADER:
        case ATSPI_ROLE_TABLE_COLUMN_HEADER:
            return "SysHeader32";
        case ATSPI_ROLE_DOCUMENT_WEB:
            return "browser";
        default:
            return "";
    }
}

// The text of a text object: all of it, or for a long one the part on the screen.
std::string textOf(AtspiAccessible* object, bool visibleOnly) {
    AtspiText* text = atspi_accessible_get_text_iface(object);
    if (!text) return {};
    GError* error = nullptr;
    int count = atspi_text_get_character_count(text, &error);
    std::string out;
    if (!error && count > 0) {
        int start = 0, end = count;
        if (visibleOnly && count > kVisibleOnlyAbove) {
            if (AtspiComponent* component = atspi_accessible_get_component_iface(object)) {
                AtspiRect* rect =
                    atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
                g_clear_error(&error);
                if (rect && rect->width > 2 && rect->height > 2) {
                    int first = atspi_text_get_offset_at_point(text, rect->x + 1, rect->y + 1,
                                                               ATSPI_COORD_TYPE_SCREEN, &error);
                    g_clear_error(&error);
                    int last = atspi_text_get_offset_at_point(text, rect->x + rect->width - 2,
                                                              rect->y + rect->height - 2,
                                                              ATSPI_COORD_TYPE_SCREEN, &error);
                    g_clear_error(&error);
                    if (first >= 0 && last > first && last <= count) start = first, end = last + 1;
                }
                if (rect) g_free(rect);
                g_object_unref(component);
            }
        }
        out = takeString(atspi_text_get_text(text, start, std::min(end, count), &error));
    }
    g_clear_error(&error);
    g_object_unref(text);
    return out;
}

struct Reading {
    std::string collected;
    Ref focused;
    int nodes = 0;
    // A read ends early past its deadline (a program that stopped answering costs each
    // call the whole time-out) or when a newer request waits.
    std::chrono::steady_clock::time_point deadline;
    const std::atomic<bool>* newer = nullptr;
    bool over() const {
        return (newer && newer->load()) || std::chrono::steady_clock::now() > deadline;
    }
};

void walk(AtspiAccessible* object, int depth, Reading& reading) {
    if (depth > kMaxDepth || reading.nodes >= kMaxNodes ||
        reading.collected.size() >= kMaxCollected)
        return;
    ++reading.nodes;
    AtspiRole role = roleOf(object);
    if (role == ATSPI_ROLE_PASSWORD_TEXT) return;  // never read
    if (!reading.focused && hasState(object, ATSPI_STATE_FOCUSED))
        reading.focused = Ref(static_cast<AtspiAccessible*>(g_object_ref(object)));
    std::string piece;
    if (role == ATSPI_ROLE_LABEL || role == ATSPI_ROLE_HEADING || role == ATSPI_ROLE_STATIC)
        piece = nameOf(object);
    if (piece.empty() &&
        (role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_PARAGRAPH || role == ATSPI_ROLE_ENTRY ||
         role == ATSPI_ROLE_TERMINAL || role == ATSPI_ROLE_DOCUMENT_TEXT ||
         role == ATSPI_ROLE_HEADING || role == ATSPI_ROLE_LABEL || role == ATSPI_ROLE_STATIC))
        piece = textOf(object, false);
    if (!piece.empty()) {
        if (!reading.collected.empty()) reading.collected += '\n';
        reading.collected += piece;
    }
    // A terminal's or a document's text is its own; its children repeat it.
    if (role == ATSPI_ROLE_TERMINAL) return;
    int count = childCount(object);
    for (int i = 0; i < count && reading.nodes < kMaxNodes && !reading.over(); ++i) {
        Ref child = childAt(object, i);
        if (child) walk(child.get(), depth + 1, reading);
    }
}

// The program's object for the window: by process, then its top-level object by title.
Ref findWindow(int pid, const std::string& title, const Reading& reading) {
    Ref desktop(atspi_get_desktop(0));
    if (!desktop) return Ref();
    int apps = childCount(desktop.get());
    for (int i = 0; i < apps && !reading.over(); ++i) {
        Ref app = childAt(desktop.get(), i);
        if (!app) continue;
        GError* error = nullptr;
        int appPid = static_cast<int>(atspi_accessible_get_process_id(app.get(), &error));
        g_clear_error(&error);
        if (appPid != pid) continue;
        int frames = childCount(app.get());
        Ref fallback;
        for (int k = 0; k < frames && !reading.over(); ++k) {
            Ref frame = childAt(app.get(), k);
            if (!frame) continue;
            if (nameOf(frame.get()) == title) return frame;
            if (!fallback && (frames == 1 || hasState(frame.get(), ATSPI_STATE_ACTIVE)))
                fallback = std::move(frame);
        }
        if (fallback) return fallback;
    }
    return Ref();
}

// ---- the reader thread ----------------------------------------------------------------

struct Request {
    uint64_t window = 0;
    void* context = nullptr;
    SxPostFunction post = nullptr;
    int ownPid = 0;
    std::string mailslot;
    int timeoutMs = 1000;
};

class Reader {
  public:
    ~Reader() { stop(); }

    void ask(Request request) {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopped_) return;
        pending_ = std::move(request);
        newer_ = true;
        if (!thread_.joinable()) thread_ = std::thread(&Reader::run, this);
        wake_.notify_all();
    }

    std::string lastClass(uint64_t window) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = classes_.find(window);
        return it == classes_.end() ? std::string() : it->second;
    }
    bool knows(uint64_t window) {
        std::lock_guard<std::mutex> guard(lock_);
        return classes_.count(window) != 0;
    }

    void stop() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopped_ = true;
            wake_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }

  private:
    void run() {
        for (;;) {
            Request request;
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait_for(guard, std::chrono::seconds(1),
                               [&] { return stopped_ || pending_.has_value(); });
                if (stopped_) break;
                if (pending_) {
                    request = std::move(*pending_);
                    pending_.reset();
                    newer_ = false;
                }
            }
            if (!context_ && request.window != 0) {
                // The bus connection is served on this thread only, through a context of
                // its own that this thread iterates.
                if (!atspi_is_initialized()) atspi_init();
                context_ = g_main_context_new();
                atspi_set_main_context(context_);
                atspi_set_timeout(request.timeoutMs, request.timeoutMs * 2);
            }
            pump();
            if (request.window != 0) read(request);
        }
        if (context_) g_main_context_unref(context_);
    }

    // Handles what the bus has delivered (new programs, closed ones, changed trees).
    void pump() {
        if (context_)
            while (g_main_context_iteration(context_, FALSE)) {
            }
    }

    void read(const Request& request) {
        if (!desktop_) desktop_ = platform::openX11Desktop();
        platform::WindowInfo window =
            desktop_ ? desktop_->describe(request.window) : platform::WindowInfo{};
        if (window.id == 0) return;  // gone before it could be read
        if (request.ownPid != 0 && window.pid == request.ownPid) return;
        Reading reading;
        reading.deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(3 * request.timeoutMs);
        reading.newer = &newer_;
        std::string text;
        std::string windowClass;
        if (window.pid > 0) {
            Ref frame = findWindow(window.pid, window.title, reading);
            // A program that has just opened its window may not be on the accessibility
            // bus yet: it is given up to one time-out to appear before its title stands
            // in for its text.
            const auto appearBy =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(request.timeoutMs);
            while (!frame && !reading.over() && std::chrono::steady_clock::now() < appearBy) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                pump();
                frame = findWindow(window.pid, window.title, reading);
            }
            if (frame) {
                walk(frame.get(), 0, reading);
                if (reading.focused && !reading.over()) {
                    windowClass = filterClass(roleOf(reading.focused.get()));
                    text = textOf(reading.focused.get(), true);
                }
                if (text.empty()) text = reading.collected;
                if (windowClass.empty() && roleOf(frame.get()) == ATSPI_ROLE_DOCUMENT_WEB)
                    windowClass = "browser";
            }
        }
        // A newer request replaces this one: its answer is the one wanted.
        if (newer_) return;
        // Nothing readable: the window's title stands for its text.
        if (text.empty()) text = window.title;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (classes_.size() > 4096) classes_.clear();
            classes_[request.window] = windowClass;
        }
        platform::mailslotWrite(request.mailslot, platform::mailslotText(text));
        if (request.post) request.post(request.context, kMailslotText, 0, 0);
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::optional<Request> pending_;
    std::atomic<bool> newer_{false};
    std::map<uint64_t, std::string> classes_;
    bool stopped_ = false;
    std::thread thread_;
    std::unique_ptr<platform::Desktop> desktop_;  // used on the reader's thread only
    GMainContext* context_ = nullptr;             // the bus connection's, reader's thread only
};

Reader& reader() {
    static Reader instance;
    return instance;
}

int32_t getText(const SxHost* host, uint64_t window) {
    if (!host || window == 0) return 0;
    Request request;
    request.window = window;
    request.context = host->context;
    request.post = host->post;
    request.ownPid = host->ownPid;
    request.mailslot = host->mailslotPath ? host->mailslotPath : "";
    request.timeoutMs = host->timeoutMs > 0 ? host->timeoutMs : 1000;
    reader().ask(std::move(request));
    return 1;
}

int32_t lastClass(uint64_t window, char* out, int32_t size) {
    if (!out || size <= 0) return 0;
    out[0] = '\0';
    if (!reader().knows(window)) return 0;
    std::string cls = reader().lastClass(window);
    size_t n = std::min(cls.size(), static_cast<size_t>(size - 1));
    cls.copy(out, n);
    out[n] = '\0';
    return 1;
}

void shutdownReader() {
    reader().stop();
}

const SxTextHook kHook = {SX_PLUGIN_VERSION, getText, lastClass, shutdownReader};

}  // namespace

extern "C" __attribute__((visibility("default"))) const SxTextHook* GetMessageHookFunction(void) {
    return &kHook;
}
