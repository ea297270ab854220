// The import log (see importlog.h).
#include "import/importlog.h"

#include <strings.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "support/dateutil.h"

namespace {

constexpr size_t kMaxLogName = 299;

struct LogState {
    std::mutex lock;
    std::string file;
    int32_t level = 2;
};

LogState& state() {
    static LogState s;
    return s;
}

}  // namespace

int importLogSetFile(const char* name, int append) {
    LogState& s = state();
    std::lock_guard guard(s.lock);
    s.file.clear();
    if (!name || !*name) return 0;
    if (std::strlen(name) > kMaxLogName) return -1;
    std::FILE* f = std::fopen(name, append ? "a" : "w");
    if (!f) return -1;
    std::fclose(f);
    s.file = name;
    return 0;
}

void importLogSetLevel(int32_t level) {
    LogState& s = state();
    std::lock_guard guard(s.lock);
    s.level = level;
}

int32_t importLogLevel() {
    LogState& s = state();
    std::lock_guard guard(s.lock);
    return s.level;
}

int32_t importLogLevelFromName(const char* word) {
    if (!word) return -1;
    if (strcasecmp(word, "warnings") == 0) return 1;
    if (strcasecmp(word, "errors") == 0) return 2;
    if (strcasecmp(word, "full") == 0) return 3;
    return -1;
}

void importLog(int32_t level, const char* format, ...) {
    LogState& s = state();
    std::lock_guard guard(s.lock);
    if (s.file.empty() || s.level < level) return;
    std::FILE* f = std::fopen(s.file.c_str(), "a");
    if (!f) return;
    char* stamp = dateTimeStamp();
    std::fprintf(f, "%s:", stamp ? stamp : "");
    if (stamp) memFree(stamp);
    if (!format) {
        std::fputs("NULL\n", f);
    } else {
        va_list args;
        va_start(args, format);
        std::vfprintf(f, format, args);
        va_end(args);
    }
    std::fclose(f);
}
