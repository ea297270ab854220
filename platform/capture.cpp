#include "platform/capture.h"

#include <cstring>

#include "platform/mailslot.h"

namespace platform {
namespace {

constexpr uint32_t kWindowChanged = 1037;
constexpr uint32_t kMailslotText = 1029;

WindowInfo fromPlugin(const SxWindowInfo& info) {
    WindowInfo out;
    out.id = info.id;
    out.pid = info.pid;
    out.title.assign(info.title, ::strnlen(info.title, sizeof info.title));
    out.windowClass.assign(info.windowClass, ::strnlen(info.windowClass, sizeof info.windowClass));
    out.x = info.x;
    out.y = info.y;
    out.width = info.width;
    out.height = info.height;
    return out;
}

}  // namespace

PluginCapture::~PluginCapture() {
    shutdown();
}

bool PluginCapture::load(const std::string& folder, int timeoutMs) {
    errors_.clear();
    host_.timeoutMs = timeoutMs;
    auto open = [&](DynamicLibrary& library, const char* file, const char* entry) -> const void* {
        std::string beside = folder.empty() ? std::string(file) : folder + "/" + file;
        if (!library.load(beside) && !library.load(file)) {
            errors_.push_back(std::string(file) + ": " + library.error());
            return nullptr;
        }
        void* symbol = library.symbol(entry);
        if (!symbol) {
            errors_.push_back(std::string(file) + ": no entry point " + entry);
            return nullptr;
        }
        return symbol;
    };
    if (auto entry = reinterpret_cast<SxFocusEntry>(
            const_cast<void*>(open(focusLibrary_, "focus.so", "GetActiveWindowHookFunction"))))
        focus_ = entry();
    if (auto entry = reinterpret_cast<SxTextEntry>(
            const_cast<void*>(open(textLibrary_, "sxNT.so", "GetMessageHookFunction"))))
        text_ = entry();
    if (focus_ && focus_->version != SX_PLUGIN_VERSION) {
        errors_.push_back("focus.so: unknown version");
        focus_ = nullptr;
    }
    if (text_ && text_->version != SX_PLUGIN_VERSION) {
        errors_.push_back("sxNT.so: unknown version");
        text_ = nullptr;
    }
    return focus_ && text_;
}

void PluginCapture::attach(void* context, SxPostFunction post, int ownPid,
                           const std::string& mailslot) {
    mailslot_ = mailslot;
    host_.context = context;
    host_.post = post;
    host_.ownPid = ownPid;
    host_.mailslotPath = mailslot_.c_str();
}

void PluginCapture::pollActiveWindow() {
    if (focus_ && host_.post) focus_->getWindow(&host_);
}

bool PluginCapture::followActiveWindow() {
    return focus_ && host_.post && !shutDown_ && focus_->watch(&host_) == 1;
}

WindowInfo PluginCapture::describe(uint64_t window) {
    SxWindowInfo info{};
    if (!focus_ || !focus_->describe(window, &info)) return {};
    return fromPlugin(info);
}

uint64_t PluginCapture::windowAt(int x, int y) {
    return focus_ ? focus_->windowAt(x, y) : 0;
}

void PluginCapture::activate(uint64_t window) {
    if (focus_) focus_->activate(window);
}

bool PluginCapture::requestText(uint64_t window) {
    return text_ && host_.post && !shutDown_ && text_->getText(&host_, window) == 1;
}

std::string PluginCapture::lastClass(uint64_t window) {
    char out[256] = {0};
    if (!text_ || !text_->lastClass(window, out, sizeof out)) return {};
    return std::string(out, ::strnlen(out, sizeof out));
}

void PluginCapture::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (focus_) focus_->stop();
    if (text_) text_->shutdown();
}

void FakeCapture::attach(void* context, SxPostFunction post, int, const std::string& mailslot) {
    context_ = context;
    post_ = post;
    mailslot_ = mailslot;
}

void FakeCapture::pollActiveWindow() {
    if (!post_ || active.id == 0 || active.id == lastReported_) return;
    lastReported_ = active.id;
    post_(context_, kWindowChanged, static_cast<uintptr_t>(active.id), 0);
}

WindowInfo FakeCapture::describe(uint64_t window) {
    auto it = windows.find(window);
    if (it != windows.end()) return it->second;
    if (active.id == window) return active;
    return {};
}

bool FakeCapture::requestText(uint64_t window) {
    reads.push_back(window);
    if (!post_) return false;
    mailslotWrite(mailslot_, texts[window]);
    post_(context_, kMailslotText, 0, 0);
    return true;
}

std::string FakeCapture::lastClass(uint64_t window) {
    auto it = classes.find(window);
    return it == classes.end() ? std::string() : it->second;
}

}  // namespace platform
