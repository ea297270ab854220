// focus.so: the agent's active-window watcher. On each call it reads the window manager's
// _NET_ACTIVE_WINDOW and tells the agent (message 1037) when the active window changed to
// a window that is not the agent's own.
#include <mutex>

#include "platform/capture_plugin.h"
#include "platform/x11/x11desktop.h"

namespace {

constexpr uint32_t kWindowChanged = 1037;

std::mutex g_lock;
std::unique_ptr<platform::Desktop> g_desktop;
bool g_opened = false;
uint64_t g_lastReported = 0;

platform::Desktop* desktop() {
    if (!g_opened) {
        g_opened = true;
        g_desktop = platform::openX11Desktop();
    }
    return g_desktop.get();
}

void copyText(const std::string& text, char* out, size_t size) {
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    text.copy(out, n);
    out[n] = '\0';
}

// Posts 1037 when the active window (as d sees it) is news. Called with g_lock held.
int32_t reportActive(platform::Desktop* d, const SxHost* host) {
    if (!d || !host || !host->post) return 0;
    platform::WindowInfo active = d->activeWindow();
    // Window managers write 0 between windows and repeat the same window; neither is news.
    if (active.id == 0 || active.id == g_lastReported) return 0;
    if (host->ownPid != 0 && active.pid == host->ownPid) return 0;
    g_lastReported = active.id;
    host->post(host->context, kWindowChanged, static_cast<uintptr_t>(active.id), 0);
    return 1;
}

int32_t getWindow(const SxHost* host) {
    std::lock_guard<std::mutex> guard(g_lock);
    return reportActive(desktop(), host);
}

// Following the window manager's changes: the watcher's thread reads the active window
// through a connection of its own (Xlib connections are not shared between threads).
platform::ActiveWindowWatcher g_watcher;
std::unique_ptr<platform::Desktop> g_watcherDesktop;
SxHost g_watchHost{};

int32_t watch(const SxHost* host) {
    if (!host || !host->post) return 0;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_watcherDesktop) g_watcherDesktop = platform::openX11Desktop();
        if (!g_watcherDesktop) return 0;
        g_watchHost = *host;
    }
    return g_watcher.start([] {
        std::lock_guard<std::mutex> guard(g_lock);
        reportActive(g_watcherDesktop.get(), &g_watchHost);
    }) ? 1 : 0;
}

void stopWatching() {
    g_watcher.stop();
    std::lock_guard<std::mutex> guard(g_lock);
    g_watcherDesktop.reset();
}

int32_t describe(uint64_t window, SxWindowInfo* info) {
    std::lock_guard<std::mutex> guard(g_lock);
    platform::Desktop* d = desktop();
    if (!d || !info) return 0;
    platform::WindowInfo w = d->describe(window);
    if (w.id == 0) return 0;
    info->id = w.id;
    info->pid = w.pid;
    copyText(w.title, info->title, sizeof info->title);
    copyText(w.windowClass, info->windowClass, sizeof info->windowClass);
    info->x = w.x;
    info->y = w.y;
    info->width = w.width;
    info->height = w.height;
    return 1;
}

uint64_t windowAt(int32_t x, int32_t y) {
    std::lock_guard<std::mutex> guard(g_lock);
    platform::Desktop* d = desktop();
    return d ? d->windowAt(x, y) : 0;
}

int32_t activate(uint64_t window) {
    std::lock_guard<std::mutex> guard(g_lock);
    platform::Desktop* d = desktop();
    return d && d->raiseWindow(window) ? 1 : 0;
}

const SxFocusHook kHook = {SX_PLUGIN_VERSION, getWindow, describe, windowAt, activate, watch,
                           stopWatching};

}  // namespace

extern "C" __attribute__((visibility("default"))) const SxFocusHook* GetActiveWindowHookFunction(
    void) {
    return &kHook;
}
