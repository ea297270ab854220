// Capturing other windows' text, as the agent's window sees it: following the active
// window, reading a window's text into the mailslot, and the window under a point for the
// hit tool. PluginCapture does it through the capture plug-ins ("focus.so", "sxNT.so");
// FakeCapture is told what to report and writes real mailslot messages, for tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/capture_plugin.h"
#include "platform/desktop.h"
#include "platform/dynload.h"

namespace platform {

class CaptureSource {
  public:
    virtual ~CaptureSource() = default;
    // Where results go: post (safe from any thread) with context, the agent's own process
    // and its mailslot.
    virtual void attach(void* context, SxPostFunction post, int ownPid,
                        const std::string& mailslot) = 0;
    // Posts 1037 with the active window when it changed.
    virtual void pollActiveWindow() = 0;
    // Posts 1037 by itself whenever the active window changes, from now on; false when it
    // cannot (then polling is the only way).
    virtual bool followActiveWindow() { return false; }
    virtual WindowInfo describe(uint64_t window) = 0;
    virtual uint64_t windowAt(int x, int y) = 0;
    virtual void activate(uint64_t window) = 0;
    // Reads the window's text into the mailslot and posts 1029; false when not asked.
    virtual bool requestText(uint64_t window) = 0;
    // The role class of the window's focused object as of its last read, or "".
    virtual std::string lastClass(uint64_t window) = 0;
    // Stops any reading before the agent ends.
    virtual void shutdown() {}
};

// The plug-ins, loaded from folder (then by the system's search).
class PluginCapture : public CaptureSource {
  public:
    ~PluginCapture() override;
    // Loads both; false (and errors()) when either is missing or lacks its entry. A
    // capture whose load failed does nothing.
    bool load(const std::string& folder, int timeoutMs);
    const std::vector<std::string>& errors() const { return errors_; }

    void attach(void* context, SxPostFunction post, int ownPid,
                const std::string& mailslot) override;
    void pollActiveWindow() override;
    bool followActiveWindow() override;
    WindowInfo describe(uint64_t window) override;
    uint64_t windowAt(int x, int y) override;
    void activate(uint64_t window) override;
    bool requestText(uint64_t window) override;
    std::string lastClass(uint64_t window) override;
    void shutdown() override;

  private:
    DynamicLibrary focusLibrary_, textLibrary_;
    const SxFocusHook* focus_ = nullptr;
    const SxTextHook* text_ = nullptr;
    SxHost host_{};
    std::string mailslot_;
    std::vector<std::string> errors_;
    bool shutDown_ = false;
};

// A capture for tests: reports the active window it is given, and answers a text request
// by writing the window's text into the real mailslot and posting 1029.
class FakeCapture : public CaptureSource {
  public:
    WindowInfo active;
    std::map<uint64_t, WindowInfo> windows;
    std::map<uint64_t, std::string> texts;    // what reading a window gives
    std::map<uint64_t, std::string> classes;  // lastClass answers
    std::vector<uint64_t> reads;              // every requestText
    std::vector<uint64_t> activated;
    uint64_t underPoint = 0;

    void attach(void* context, SxPostFunction post, int ownPid,
                const std::string& mailslot) override;
    void pollActiveWindow() override;
    WindowInfo describe(uint64_t window) override;
    uint64_t windowAt(int, int) override { return underPoint; }
    void activate(uint64_t window) override { activated.push_back(window); }
    bool requestText(uint64_t window) override;
    std::string lastClass(uint64_t window) override;

  private:
    void* context_ = nullptr;
    SxPostFunction post_ = nullptr;
    std::string mailslot_;
    uint64_t lastReported_ = 0;
};

}  // namespace platform
