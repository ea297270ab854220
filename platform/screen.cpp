#include "platform/screen.h"

namespace platform {

ScreenMetrics screenMetrics() {
    return ScreenMetrics{1024, 16, 18};
}

}  // namespace platform
