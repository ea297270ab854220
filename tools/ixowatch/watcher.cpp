#include "tools/ixowatch/watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "support/fileutil.h"
#include "tools/ixowatch/treewatch.h"
#include "tools/ixowatch/watchstate.h"

namespace ixowatch {
namespace {

using Clock = std::chrono::steady_clock;

bool under(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

std::string firstReference(const std::string& idx) {
    size_t p = idx.rfind("#IXOREFERENCE ", 0) == 0 ? 0 : idx.find("\n#IXOREFERENCE ");
    if (p == std::string::npos) return {};
    p = idx.find(' ', p + 1) + 1;
    return idx.substr(p, idx.find('\n', p) - p);
}

int collectFile(const char* directory, const char* name, void* context) {
    if (!name || !*name) return 0;
    static_cast<std::set<std::string>*>(context)->insert(std::string(directory) + "/" + name);
    return 0;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Progress and problems, as lines for a program that reads them and as messages for a
// person at a terminal.
class Reporter {
  public:
    explicit Reporter(bool lines) : lines_(lines) {}
    void progress(size_t seen, size_t total, size_t sent, size_t failed, bool force) {
        if (!lines_) return;
        const auto now = Clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        std::printf("PROGRESS %zu %zu %zu %zu\n", seen, total, sent, failed);
        std::fflush(stdout);
    }
    void failed(const std::string& path, const std::string& message) {
        std::fprintf(stderr, "ixoindex: %s: %s\n", path.c_str(), message.c_str());
        line("FAILED " + path + "\t" + message);
    }
    void error(const std::string& message) {
        std::fprintf(stderr, "ixoindex: %s\n", message.c_str());
        line("ERROR " + message);
    }
    void warning(const std::string& message) {
        std::fprintf(stderr, "ixoindex: %s\n", message.c_str());
        line("WARNING " + message);
    }
    void line(const std::string& text) {
        if (!lines_) return;
        // One line each: a name holding a line end must not start a line of its own.
        std::string one = text;
        std::replace(one.begin(), one.end(), '\n', ' ');
        std::replace(one.begin(), one.end(), '\r', ' ');
        std::printf("%s\n", one.c_str());
        std::fflush(stdout);
    }

  private:
    bool lines_;
    Clock::time_point last_{};
};

class Watch {
  public:
    Watch(const WatchOptions& o, Backend& b, int signalFd)
        : o_(o), b_(b), report_(o.progress), signalFd_(signalFd), backoff_(o.retryMs) {
        state_ = loadState(o.stateFile);
    }

    int run() {
        if (!files_.ok()) {
            std::fprintf(stderr, "ixoindex: %s\n", files_.error().c_str());
            return 2;
        }
        for (const std::string& folder : o_.folders)
            if (!files_.addTree(folder, true) && !isFolder(folder))
                report_.warning("cannot watch " + folder + ": not a folder");
        watchMail();
        checkLimit();
        full_ = true;
        for (size_t i = 0; i < b_.mailSources(); ++i) mailDirty_.insert(i);
        firstEvent_ = lastEvent_ = Clock::now() - std::chrono::hours(1);

        while (!stop_) {
            const bool waiting = full_ || !dirty_.empty() || !mailDirty_.empty();
            int timeout = -1;
            if (waiting) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(due() - Clock::now());
                timeout = left.count() <= 0 ? 0 : static_cast<int>(left.count()) + 1;
            } else if (files_.limitReached()) {
                // Folders without a watch are looked at now and then instead.
                timeout = 60000;
            }
            pollfd fds[3] = {
                {signalFd_, POLLIN, 0}, {files_.fd(), POLLIN, 0}, {mail_.fd(), POLLIN, 0}};
            const int n = ::poll(fds, mail_.ok() ? 3 : 2, timeout);
            if (n < 0 && errno != EINTR) break;
            if (n > 0 && (fds[0].revents & POLLIN)) break;
            if (n == 0 && !waiting) {  // the periodic look under the watch limit
                files_.rewatch();
                checkLimit();
                noteEvent();
                full_ = true;
            }
            readEvents();
            if ((full_ || !dirty_.empty() || !mailDirty_.empty()) && Clock::now() >= due())
                runPasses();
        }
        return 0;
    }

  private:
    // When the changes waiting are sent: once the folders were quiet for a moment, or a
    // while after the first of them, but not before a refused pass may be tried again.
    Clock::time_point due() const {
        return std::max(std::min(lastEvent_ + std::chrono::milliseconds(o_.quietMs),
                                 firstEvent_ + std::chrono::milliseconds(o_.maxDelayMs)),
                        retryAt_);
    }

    void noteEvent() {
        const auto now = Clock::now();
        if (dirty_.empty() && mailDirty_.empty() && !full_) firstEvent_ = now;
        lastEvent_ = now;
    }

    void readEvents() {
        std::vector<Change> changes;
        if (!files_.read(changes)) {
            report_.warning("the kernel's event queue overflowed: looking at every file again");
            files_.rewatch();
            checkLimit();
            noteEvent();
            full_ = true;
        }
        for (Change& c : changes) {
            noteEvent();
            if (!full_) dirty_.insert(std::move(c.path));
        }
        changes.clear();
        if (!mail_.ok()) return;
        const bool complete = mail_.read(changes);
        if (!complete) mail_.rewatch();
        for (size_t i = 0; i < mailPaths_.size(); ++i) {
            bool hit = !complete;
            for (const Change& c : changes)
                for (const std::string& p : mailPaths_[i])
                    hit = hit || c.path == p || under(c.path, p) ||
                          (c.path.compare(0, p.size(), p) == 0 && !isFolder(p));
            if (hit) {
                noteEvent();
                mailDirty_.insert(i);
            }
        }
    }

    void watchMail() {
        mailPaths_.clear();
        for (size_t i = 0; i < b_.mailSources(); ++i) {
            mailPaths_.push_back(b_.mailPaths(i));
            for (const std::string& p : mailPaths_.back()) {
                if (isFolder(p)) {
                    mail_.addTree(p, true);
                } else {
                    // A mailbox file, or the stem of a store's files: its folder is
                    // watched and the names beginning with it count.
                    const size_t slash = p.rfind('/');
                    if (slash != std::string::npos && slash > 0)
                        mail_.addTree(p.substr(0, slash), false);
                }
            }
        }
    }

    void checkLimit() {
        if (files_.limitReached() && !limitReported_) {
            limitReported_ = true;
            const long limit = TreeWatcher::watchLimit();
            report_.warning(
                "the limit of folder watches is reached (fs.inotify.max_user_watches = " +
                std::to_string(limit) + "); changes under " + files_.unwatched() +
                " and other folders are seen only once a minute until it is raised");
        } else if (!files_.limitReached()) {
            limitReported_ = false;
        }
    }

    bool inFolders(const std::string& path) const {
        for (const std::string& f : o_.folders)
            if (under(path, f)) return true;
        return false;
    }

    // The files to look at: everything (the folders walked and every file remembered),
    // or what the events named (a folder standing for everything in and under it).
    std::set<std::string> candidates(bool everything, const std::set<std::string>& paths) {
        std::set<std::string> out;
        auto addTree = [&](const std::string& folder) {
            fileWalkDirectory(folder.c_str(), nullptr, collectFile, &out, 1);
        };
        if (everything) {
            for (const std::string& f : o_.folders) addTree(f);
            for (const auto& entry : state_) out.insert(entry.first);
            return out;
        }
        for (const std::string& p : paths) {
            out.insert(p);
            for (auto it = state_.lower_bound(p + "/"); it != state_.end() && under(it->first, p);
                 ++it)
                out.insert(it->first);
            if (isFolder(p)) addTree(p);
        }
        for (auto it = out.begin(); it != out.end();)
            it = isFolder(*it) ? out.erase(it) : std::next(it);
        return out;
    }

    bool stopRequested() {
        if (stop_) return true;
        pollfd fd{signalFd_, POLLIN, 0};
        if (::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN)) stop_ = true;
        return stop_;
    }

    // One pass over the candidates. Changes are remembered only once the server took
    // them all; otherwise the paths wait for the next try. The paths not reached before
    // a stop go to left.
    bool pass(const std::set<std::string>& files, std::set<std::string>& left) {
        b_.begin();
        std::map<std::string, std::optional<FileState>> updates;  // nullopt: forget
        std::vector<std::string> gone;
        bool sendOk = true;
        size_t seen = 0;
        const size_t total = files.size();
        report_.progress(0, total, sent_, failed_, true);
        for (auto it = files.begin(); it != files.end(); ++it) {
            if ((seen % 16 == 0) && stopRequested()) {
                left.insert(it, files.end());
                break;
            }
            ++seen;
            const std::string& path = *it;
            auto old = state_.find(path);
            auto forget = [&] {
                if (old == state_.end()) return;
                if (!old->second.reference.empty()) gone.push_back(old->second.reference);
                updates[path] = std::nullopt;
            };
            struct stat st {};
            // Only regular files: a pipe or device would hold the import up for good.
            // Names with tabs or line ends cannot be kept in the state file.
            if (!inFolders(path) || path.find_first_of("\t\r\n") != std::string::npos ||
                ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                forget();
                report_.progress(seen, total, sent_, failed_, false);
                continue;
            }
            FileState now;
            now.mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
            now.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_nsec);
            now.size = static_cast<int64_t>(st.st_size);
            if (old != state_.end() && sameFile(old->second, now)) {
                report_.progress(seen, total, sent_, failed_, false);
                continue;
            }
            std::string idx, message;
            const int rc = b_.importFile(path, idx, message);
            if (rc != 0) {
                if (rc != -2) {
                    ++failed_;
                    report_.failed(path, message);
                }
                forget();  // its old documents no longer stand for it
                report_.progress(seen, total, sent_, failed_, false);
                continue;
            }
            now.reference = firstReference(idx);
            if (!idx.empty()) {
                sendOk &= b_.add(idx);
                ++sent_;
            }
            if (old != state_.end() && !old->second.reference.empty() &&
                old->second.reference != now.reference)
                gone.push_back(old->second.reference);
            updates[path] = now;
            report_.progress(seen, total, sent_, failed_, false);
        }
        report_.progress(seen, total, sent_, failed_, true);
        const bool ok = b_.complete(gone) && sendOk;
        if (!ok) {
            report_.error("the server did not take every change; trying again shortly");
            std::set<std::string> reached(files.begin(), files.end());
            for (const std::string& l : left) reached.erase(l);
            left.insert(reached.begin(), reached.end());
            return false;
        }
        if (updates.empty()) return true;
        for (auto& [path, s] : updates) {
            if (s)
                state_[path] = std::move(*s);
            else
                state_.erase(path);
        }
        if (!saveState(o_.stateFile, state_))
            report_.error("cannot write the state file " + o_.stateFile);
        return true;
    }

    void runPasses() {
        bool ok = true;
        if (full_ || !dirty_.empty()) {
            const bool everything = full_;
            std::set<std::string> paths;
            paths.swap(dirty_);
            full_ = false;
            std::set<std::string> left;
            ok = pass(candidates(everything, paths), left);
            if (!ok && everything)
                full_ = true;  // the next try looks at everything again
            else
                dirty_.insert(left.begin(), left.end());
        }
        std::set<size_t> mail;
        mail.swap(mailDirty_);
        for (size_t source : mail) {
            if (stop_) {
                mailDirty_.insert(source);
                continue;
            }
            size_t sent = 0;
            if (!b_.indexMail(source, &sent)) {
                report_.error("the mail of source " + std::to_string(source + 1) +
                              " was not all sent; trying again shortly");
                mailDirty_.insert(source);
                ok = false;
            }
            mailSent_ += sent;
            if (sent) report_.line("MAIL " + std::to_string(mailSent_));
        }
        const auto now = Clock::now();
        if (ok) {
            backoff_ = std::chrono::milliseconds(o_.retryMs);
            retryAt_ = now;
            report_.line("IDLE " + std::to_string(files_.watchCount()) + " " +
                         std::to_string(state_.size()));
        } else {
            retryAt_ = now + backoff_;
            backoff_ = std::min<std::chrono::milliseconds>(backoff_ * 2, std::chrono::minutes(1));
        }
        firstEvent_ = lastEvent_ = now;
        checkLimit();
    }

    const WatchOptions& o_;
    Backend& b_;
    Reporter report_;
    int signalFd_;
    TreeWatcher files_, mail_;
    std::vector<std::vector<std::string>> mailPaths_;
    StateMap state_;
    std::set<std::string> dirty_;
    std::set<size_t> mailDirty_;
    bool full_ = false;
    bool stop_ = false;
    bool limitReported_ = false;
    size_t sent_ = 0, failed_ = 0, mailSent_ = 0;
    Clock::time_point firstEvent_{}, lastEvent_{}, retryAt_{};
    std::chrono::milliseconds backoff_;
};

volatile int gStopPipe = -1;

void onStopSignal(int) {
    const int saved = errno;
    if (gStopPipe >= 0) {
        const char one = 1;
        [[maybe_unused]] ssize_t n = ::write(gStopPipe, &one, 1);
    }
    errno = saved;
}

}  // namespace

int runWatch(const WatchOptions& options, Backend& backend) {
    // One watcher per state file: two would send every change twice and write the
    // file over each other.
    const std::string lockPath = options.stateFile + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        std::fprintf(
            stderr, "ixoindex: %s: %s\n", lockPath.c_str(),
            lock < 0 ? std::strerror(errno) : "another ixoindex --watch uses this state file");
        if (lock >= 0) ::close(lock);
        return 2;
    }
    // The stop signals only write to a pipe that the loop polls, so a pass is never cut
    // off in the middle of a request and the state file is always written whole. A
    // handler (rather than a blocked signal) serves whichever thread the signal reaches.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(lock);
        std::fprintf(stderr, "ixoindex: cannot set up the stop signals\n");
        return 2;
    }
    gStopPipe = fds[1];
    struct sigaction action {
    }, previous[3];
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    const int signals[3] = {SIGTERM, SIGINT, SIGHUP};
    for (int i = 0; i < 3; ++i) ::sigaction(signals[i], &action, &previous[i]);
    const int signalFd = fds[0];
    int rc = 2;
    {
        Watch watch(options, backend, signalFd);
        rc = watch.run();
    }
    for (int i = 0; i < 3; ++i) ::sigaction(signals[i], &previous[i], nullptr);
    gStopPipe = -1;
    ::close(fds[0]);
    ::close(fds[1]);
    ::close(lock);
    return rc;
}

}  // namespace ixowatch
