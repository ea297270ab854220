#include "platform/screen.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_lock;
ScreenMetrics g_metrics{1024, 768, 16, 18};

}  // namespace

ScreenMetrics screenMetrics() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_metrics;
}

void setScreenMetrics(const ScreenMetrics& metrics) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_metrics = metrics;
}

}  // namespace platform
