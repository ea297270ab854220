#include "support/diaglog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr size_t kSlotPart = 4096;  // each half of a ring slot; texts cut at 4095

struct Slot {
    char message[kSlotPart];
    char stamp[kSlotPart];
};

struct LogState {
    // Guards the file settings, the byte counter and the writing of the file itself,
    // so that entries from different threads never interleave and rotation never
    // races with a writer.
    std::mutex fileLock;
    bool configured = false;  // set up, or the environment consulted
    std::string fileName;
    std::string rotatedName;
    int64_t sizeLimit = 0;
    int64_t bytesWritten = 0;

    // Guards ring, nextSlot and wrapped.
    std::mutex ringLock;
    std::vector<Slot> ring;
    size_t nextSlot = 0;
    bool wrapped = false;
};

LogState& state() {
    static LogState s;
    return s;
}

// Called with fileLock held: the environment names the log file unless diagLogSetup
// came first.
void configureFromEnvironment(LogState& s) {
    if (s.configured) return;
    s.configured = true;
    const char* env = std::getenv("SAPIOLUX_LOG");
    if (env && *env) s.fileName = env;
}

void copyCut(char* dst, size_t size, const char* src, size_t len) {
    if (!dst || size == 0) return;
    size_t n = len < size - 1 ? len : size - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

std::string formatMessage(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
    std::string out(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(needed));
    return out;
}

std::string currentStamp() {
    std::time_t now = std::time(nullptr);
    struct tm local {};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char buf[128];
    diagLogFormatStamp(&local, buf, sizeof buf);
    return buf;
}

void storeInRing(LogState& s, const std::string& message, const std::string& stamp) {
    std::lock_guard<std::mutex> lock(s.ringLock);
    if (s.ring.empty()) return;
    Slot& slot = s.ring[s.nextSlot];
    copyCut(slot.message, kSlotPart, message.data(), message.size());
    copyCut(slot.stamp, kSlotPart, stamp.data(), stamp.size());
    if (++s.nextSlot == s.ring.size()) {
        s.nextSlot = 0;
        s.wrapped = true;
    }
}

// One entry: "<stamp>:" and the message appended to the log file, the message kept in
// the ring, and the file rotated past its limit.
void writeEntry(FILE* copy, const std::string& message) {
    if (copy) {
        std::fwrite(message.data(), 1, message.size(), copy);
        std::fflush(copy);
    }

    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.fileLock);
    configureFromEnvironment(s);
    if (s.fileName.empty()) return;
    FILE* f = std::fopen(s.fileName.c_str(), "a");
    if (!f) return;
    std::string stamp = currentStamp();
    int head = std::fprintf(f, "%s:", stamp.c_str());
    if (head > 0) s.bytesWritten += head;
    s.bytesWritten += static_cast<int64_t>(std::fwrite(message.data(), 1, message.size(), f));
    storeInRing(s, message, stamp);
    std::fclose(f);

    if (s.sizeLimit > 0 && s.bytesWritten > s.sizeLimit) {
        if (s.rotatedName.empty()) s.rotatedName = s.fileName + ".old";
        std::remove(s.rotatedName.c_str());
        std::rename(s.fileName.c_str(), s.rotatedName.c_str());
        s.bytesWritten = 0;
    }
}

}  // namespace

extern "C" {

char* diagLogFormatStamp(const struct tm* t, char* buf, size_t size) {
    if (!buf || size == 0) return buf;
    if (!t) {
        buf[0] = '\0';
        return buf;
    }
    int year = t->tm_year;
    if (year > 99)
        year += 1900;
    else if (year < 50)
        year += 2000;
    std::snprintf(buf, size, "%d/%d/%d  %.2d:%.2d:%.2d", t->tm_mday, t->tm_mon + 1, year,
                  t->tm_hour, t->tm_min, t->tm_sec);
    return buf;
}

void diagLogSetup(const char* fileName, int32_t sizeLimit, int32_t ringCapacity) {
    try {
        LogState& s = state();
        std::lock_guard<std::mutex> lock(s.fileLock);
        s.configured = true;
        s.fileName = fileName ? fileName : "";
        s.rotatedName.clear();
        s.sizeLimit = sizeLimit > 0 ? sizeLimit : 0;
        s.bytesWritten = 0;
        std::lock_guard<std::mutex> ringLock(s.ringLock);
        s.ring.clear();
        s.ring.shrink_to_fit();
        s.nextSlot = 0;
        s.wrapped = false;
        // A ring that cannot be allocated is left off; file logging still works.
        if (ringCapacity > 0) {
            try {
                s.ring.resize(static_cast<size_t>(ringCapacity));
            } catch (...) {
                s.ring.clear();
            }
        }
    } catch (...) {
    }
}

void diagLogWithCopy(FILE* copy, const char* format, va_list args) {
    try {
        writeEntry(copy, format ? formatMessage(format, args) : std::string("NULL\n"));
    } catch (...) {
    }
}

void diagLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    diagLogWithCopy(nullptr, format, args);
    va_end(args);
}

void diagLogText(const char* text) {
    try {
        // A null text is logged like a null format.
        writeEntry(nullptr, text ? std::string(text) + "\n" : std::string("NULL\n"));
    } catch (...) {
    }
}

int32_t diagLogRingCount(void) {
    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.ringLock);
    return static_cast<int32_t>(s.wrapped ? s.ring.size() : s.nextSlot);
}

int diagLogRingGet(int32_t index, char* message, int32_t messageSize, char* stamp,
                   int32_t stampSize) {
    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.ringLock);
    size_t count = s.wrapped ? s.ring.size() : s.nextSlot;
    if (index < 0 || static_cast<size_t>(index) >= count) return 0;
    size_t oldest = s.wrapped ? s.nextSlot : 0;
    const Slot& slot = s.ring[(oldest + static_cast<size_t>(index)) % s.ring.size()];
    if (message && messageSize > 0)
        copyCut(message, static_cast<size_t>(messageSize), slot.message,
                strnlen(slot.message, kSlotPart));
    if (stamp && stampSize > 0)
        copyCut(stamp, static_cast<size_t>(stampSize), slot.stamp, strnlen(slot.stamp, kSlotPart));
    return 1;
}

}  // extern "C"
