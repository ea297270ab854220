// Child ("slave") processes on POSIX: the shared view is a memory-mapped file, the two
// auto-reset events are named semaphores, the slave is started with posix_spawn (an
// argument vector, no shell) and watched with waitpid.
#include "support/slaveutil.h"

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Every master after the first in one process gets a serial number in its names.
std::atomic<unsigned> masterSerial{0};

// Sixteen hexadecimal digits from the system's random source; empty when it fails.
std::string randomToken() {
    unsigned char bytes[8];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        got += static_cast<size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

// The process id, a serial number for every master after the first in one process, and
// a random part, so that no other program can guess the names ahead of time.
std::string processNumber() {
    unsigned serial = masterSerial.fetch_add(1);
    std::string number = std::to_string(static_cast<unsigned>(getpid()));
    if (serial > 0) number += "_" + std::to_string(serial);
    std::string token = randomToken();
    if (token.empty()) return {};
    return number + "." + token;
}

// The semaphore behind an event name: "/sx." and the name with its path separators
// replaced; very long names keep their tail and a hash of the whole name.
std::string eventKey(const char* name) {
    std::string tail(name);
    for (char& c : tail) {
        if (c == '/' || c == '\\') c = '_';
    }
    if (tail.size() > 180) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : std::string(name)) h = (h ^ c) * 1099511628211ull;
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
        tail = tail.substr(tail.size() - 160) + "." + hex;
    }
    return "/sx." + tail;
}

sem_t* createEvent(const char* name) {
    std::string key = eventKey(name);
    sem_unlink(key.c_str());  // a leftover of a crashed master with the same number
    sem_t* s = sem_open(key.c_str(), O_CREAT | O_EXCL, 0600, 0);
    return s == SEM_FAILED ? nullptr : s;
}

sem_t* openEvent(const char* name) {
    sem_t* s = sem_open(eventKey(name).c_str(), 0);
    return s == SEM_FAILED ? nullptr : s;
}

// Auto-reset event semantics: setting a set event leaves it set (one waiter wakes).
void setEvent(void* e) {
    auto* s = static_cast<sem_t*>(e);
    int value = 0;
    if (sem_getvalue(s, &value) == 0 && value > 0) return;
    sem_post(s);
}

void resetEvent(void* e) {
    auto* s = static_cast<sem_t*>(e);
    while (sem_trywait(s) == 0) {
    }
}

// True when the event was set (and is now reset) within ms milliseconds.
bool waitEvent(void* e, int64_t ms) {
    auto* s = static_cast<sem_t*>(e);
    if (ms <= 0) {
        while (true) {
            if (sem_trywait(s) == 0) return true;
            if (errno != EINTR) return false;
        }
    }
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>((ms % 1000) * 1000000);
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (true) {
        if (sem_timedwait(s, &deadline) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void closeEvent(void*& e, const char* name, bool unlink) {
    if (!e) return;
    sem_close(static_cast<sem_t*>(e));
    if (unlink && name) sem_unlink(eventKey(name).c_str());
    e = nullptr;
}

char* dupString(const std::string& s) {
    return memStrNDup(s.data(), s.size());
}

// Reaps the slave when it has exited. True when no slave runs any more.
bool slaveGone(SlaveProcess* s) {
    if (s->process <= 0) return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(s->process, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == s->process || (r < 0 && errno == ECHILD)) {
        s->process = 0;
        return true;
    }
    return false;
}

void terminateSlave(SlaveProcess* s) {
    if (s->process <= 0) return;
    kill(s->process, SIGKILL);
    int status = 0;
    while (waitpid(s->process, &status, 0) < 0 && errno == EINTR) {
    }
    s->process = 0;
}

bool startSlave(SlaveProcess* s) {
    terminateSlave(s);
    char* argv[] = {s->programName, s->mapFileName, s->startEventName, s->finishEventName, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, s->programName, nullptr, nullptr, argv, environ) != 0) return false;
    s->process = static_cast<int32_t>(pid);
    return true;
}

// Creates the map file: a new file only (never one that exists, never through a
// symbolic link), readable and writable by this user alone.
int openMapFile(const char* name) {
    int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (ftruncate(fd, SLAVE_VIEW_SIZE) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool removeFileWithRetries(const char* name) {
    for (int attempt = 0; attempt <= 5; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
        if (unlink(name) == 0 || errno == ENOENT) return true;
    }
    return false;
}

void releaseSlave(SlaveProcess* s) {
    terminateSlave(s);
    closeEvent(s->startEvent, s->startEventName, true);
    closeEvent(s->finishEvent, s->finishEventName, true);
    if (s->view) {
        munmap(s->view, SLAVE_VIEW_SIZE);
        s->view = nullptr;
    }
    if (s->mapFile >= 0) {
        close(s->mapFile);
        s->mapFile = -1;
        if (s->mapFileName) {
            removeFileWithRetries(s->mapFileName);
            // The private folder made for it goes too (it holds nothing else).
            std::error_code ec;
            fs::remove(fs::path(s->mapFileName).parent_path(), ec);
        }
    }
    if (s->mapFileName) memFree(s->mapFileName);
    if (s->startEventName) memFree(s->startEventName);
    if (s->finishEventName) memFree(s->finishEventName);
    if (s->programName) memFree(s->programName);
    if (s->scratch) memFree(s->scratch);
}

bool heartbeatFresh(const char* file, int32_t timeoutSeconds) {
    if (!file || !*file) return false;
    std::error_code ec;
    auto changed = fs::last_write_time(file, ec);
    if (ec) return false;
    std::chrono::duration<double> age = fs::file_time_type::clock::now() - changed;
    return age.count() < static_cast<double>(timeoutSeconds);
}

bool fileNotEmpty(const char* name) {
    FILE* f = std::fopen(name, "rb");
    if (!f) return false;
    bool any = std::fgetc(f) != EOF;
    std::fclose(f);
    return any;
}

// A new folder only this user can enter, in the temporary folder ($TMPDIR or /tmp),
// with an unpredictable name; empty when it cannot be made.
std::string makePrivateFolder() {
    std::error_code ec;
    fs::path tmp = fs::temp_directory_path(ec);
    if (ec) tmp = "/tmp";
    std::string pattern = (tmp / "sapiolux-slave-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

bool createSlave(SlaveProcess* s, const char* baseName) {
    std::string base(baseName);
    std::string number = processNumber();
    if (number.empty()) return false;
    s->startEventName = dupString(base + number + ".start");
    s->finishEventName = dupString(base + number + ".finish");
    std::error_code ec;
    std::string program = base + ".exe";
    if (!fs::exists(program, ec)) program = base;
    // A program that cannot be run is not worth the view, the events and a spawn.
    if (access(program.c_str(), X_OK) != 0) return false;
    s->programName = dupString(program);
    s->scratch = static_cast<char*>(memAlloc(SLAVE_SCRATCH_SIZE));
    if (!s->startEventName || !s->finishEventName || !s->programName || !s->scratch) return false;

    // The map file lives in a private folder of its own, never beside the program or
    // at a fixed name where another user could have planted a link.
    const std::string folder = makePrivateFolder();
    if (folder.empty()) return false;
    s->mapFileName = dupString(
        (fs::path(folder) / (fs::path(base).filename().string() + number + ".map")).string());
    if (!s->mapFileName) {
        fs::remove(folder, ec);
        return false;
    }
    s->mapFile = openMapFile(s->mapFileName);
    if (s->mapFile < 0) {
        fs::remove(folder, ec);
        return false;
    }
    void* view = mmap(nullptr, SLAVE_VIEW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, s->mapFile, 0);
    if (view == MAP_FAILED) return false;
    s->view = static_cast<char*>(view);

    s->startEvent = createEvent(s->startEventName);
    if (!s->startEvent) return false;
    s->finishEvent = createEvent(s->finishEventName);
    if (!s->finishEvent) return false;
    return startSlave(s);
}

}  // namespace

extern "C" {

int slaveCreate(SlaveProcess** slave, const char* baseName) {
    if (!slave) return 0;
    *slave = nullptr;
    if (!baseName || !*baseName) return 0;
    auto* s = static_cast<SlaveProcess*>(memAlloc(sizeof(SlaveProcess)));
    if (!s) return 0;
    s->mapFile = -1;
    bool ok = false;
    try {
        ok = createSlave(s, baseName);
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        releaseSlave(s);
        memFree(s);
        return 0;
    }
    *slave = s;
    return 1;
}

int slaveRunJob(SlaveProcess* s, const char* inputFile, const char* outputFile,
                int32_t timeoutSeconds, const char* heartbeatFile) {
    if (!s || !s->view || !inputFile || !outputFile) return 0;
    size_t inLen = std::strlen(inputFile), outLen = std::strlen(outputFile);
    if (inLen >= SLAVE_NAME_FIELD || outLen >= SLAVE_NAME_FIELD) return 0;
    // A slave that could not be started again after an earlier failure gets a new try.
    if (slaveGone(s) && !startSlave(s)) return 0;

    std::memset(s->view, 0, SLAVE_VIEW_SIZE);
    std::memcpy(s->view, inputFile, inLen);
    std::memcpy(s->view + SLAVE_NAME_FIELD, outputFile, outLen);
    msync(s->view, SLAVE_VIEW_SIZE, MS_SYNC);
    resetEvent(s->finishEvent);  // a late signal from an earlier job must not count
    setEvent(s->startEvent);

    const int64_t timeoutMs = std::max<int64_t>(0, timeoutSeconds) * 1000;
    bool finished = false, failed = false;
    while (!finished && !failed) {
        const auto started = Clock::now();
        while (true) {
            int64_t elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started)
                    .count();
            int64_t slice = std::min<int64_t>(100, timeoutMs - elapsed);
            if (waitEvent(s->finishEvent, slice)) {
                finished = true;
                break;
            }
            if (slaveGone(s)) {
                // It may have signalled just before it exited.
                finished = waitEvent(s->finishEvent, 0);
                failed = !finished;
                break;
            }
            if (slice <= 0 || elapsed + slice >= timeoutMs) break;
        }
        msync(s->view, SLAVE_VIEW_SIZE, MS_SYNC);
        if (finished || failed) break;
        // Timed out: a slave whose heartbeat is fresh is still working.
        if (!heartbeatFresh(heartbeatFile, timeoutSeconds)) failed = true;
    }
    if (failed) {
        resetEvent(s->startEvent);
        resetEvent(s->finishEvent);
        startSlave(s);  // kills what is left of the old one first
        return 0;
    }
    return fileNotEmpty(outputFile) ? 1 : 0;
}

void slaveDestroy(SlaveProcess** slave) {
    if (!slave || !*slave) return;
    releaseSlave(*slave);
    memFree(*slave);
}

int slaveChannelOpen(SlaveChannel* ch, int argc, char** argv) {
    if (!ch) return 0;
    std::memset(ch, 0, sizeof *ch);
    ch->mapFile = -1;
    if (argc < 4 || !argv || !argv[1] || !argv[2] || !argv[3]) return 0;
    int fd = open(argv[1], O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < SLAVE_VIEW_SIZE) {
        close(fd);
        return 0;
    }
    void* view = mmap(nullptr, SLAVE_VIEW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        close(fd);
        return 0;
    }
    ch->mapFile = fd;
    ch->view = static_cast<char*>(view);
    ch->startEvent = openEvent(argv[2]);
    ch->finishEvent = openEvent(argv[3]);
    if (!ch->startEvent || !ch->finishEvent) {
        slaveChannelClose(ch);
        return 0;
    }
    ch->masterProcess = static_cast<int32_t>(getppid());
    return 1;
}

int slaveChannelWaitJob(SlaveChannel* ch, int32_t waitMilliseconds) {
    if (!ch || !ch->view || !ch->startEvent) return -1;
    if (getppid() != ch->masterProcess) return -1;
    if (!waitEvent(ch->startEvent, waitMilliseconds))
        return getppid() != ch->masterProcess ? -1 : 0;
    // Copy first, then check: the master must not be able to change what was checked.
    char copy[SLAVE_VIEW_SIZE];
    std::memcpy(copy, ch->view, SLAVE_VIEW_SIZE);
    if (!std::memchr(copy, 0, SLAVE_NAME_FIELD) ||
        !std::memchr(copy + SLAVE_NAME_FIELD, 0, SLAVE_VIEW_SIZE - SLAVE_NAME_FIELD))
        return -1;
    std::memcpy(ch->inputFile, copy, SLAVE_NAME_FIELD);
    std::memcpy(ch->outputFile, copy + SLAVE_NAME_FIELD, SLAVE_NAME_FIELD);
    return 1;
}

void slaveChannelFinish(SlaveChannel* ch) {
    if (ch && ch->finishEvent) setEvent(ch->finishEvent);
}

void slaveChannelClose(SlaveChannel* ch) {
    if (!ch) return;
    closeEvent(ch->startEvent, nullptr, false);
    closeEvent(ch->finishEvent, nullptr, false);
    if (ch->view) {
        munmap(ch->view, SLAVE_VIEW_SIZE);
        ch->view = nullptr;
    }
    if (ch->mapFile >= 0) {
        close(ch->mapFile);
        ch->mapFile = -1;
    }
}

int slaveTouchHeartbeat(const char* fileName) {
    if (!fileName || !*fileName) return 0;
    int fd = open(fileName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    int rc = futimens(fd, nullptr);
    close(fd);
    return rc == 0 ? 1 : 0;
}

}  // extern "C"
