#include "tools/ixowatch/treewatch.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ixowatch {
namespace {

constexpr uint32_t kFolderMask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB |
                                 IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF |
                                 IN_MOVE_SELF | IN_DONT_FOLLOW | IN_ONLYDIR;

bool isFolder(const std::string& path, unsigned char type) {
    if (type == DT_DIR) return true;
    if (type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool under(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

}  // namespace

TreeWatcher::TreeWatcher() {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) error_ = std::string("inotify: ") + std::strerror(errno);
}

TreeWatcher::~TreeWatcher() {
    if (fd_ >= 0) ::close(fd_);
}

long TreeWatcher::watchLimit() {
    long limit = 0;
    if (std::FILE* f = std::fopen("/proc/sys/fs/inotify/max_user_watches", "r")) {
        if (std::fscanf(f, "%ld", &limit) != 1) limit = 0;
        std::fclose(f);
    }
    return limit;
}

bool TreeWatcher::addTree(const std::string& folder, bool recursive) {
    if (fd_ < 0) return false;
    trees_.push_back({folder, recursive});
    return watchFolder(folder, recursive);
}

bool TreeWatcher::recursiveAt(const std::string& folder) const {
    for (const Tree& t : trees_)
        if (t.recursive && (t.folder == folder || under(folder, t.folder))) return true;
    return false;
}

bool TreeWatcher::watchFolder(const std::string& folder, bool recursive) {
    const int wd = ::inotify_add_watch(fd_, folder.c_str(), kFolderMask);
    if (wd < 0) {
        if (errno == ENOSPC) {
            if (!limitReached_) unwatched_ = folder;
            limitReached_ = true;
        } else if (errno != ENOENT && errno != ENOTDIR && error_.empty()) {
            error_ = folder + ": " + std::strerror(errno);
        }
        return false;
    }
    // The same folder reached by another name (a second tree over it) keeps one watch.
    auto old = paths_.find(wd);
    if (old != paths_.end() && old->second != folder) folders_.erase(old->second);
    paths_[wd] = folder;
    folders_[folder] = wd;
    if (!recursive) return true;
    bool all = true;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return true;  // gone again, or unreadable: its own events still come
    std::vector<std::string> subfolders;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        std::string path = folder + "/" + e->d_name;
        if (isFolder(path, e->d_type)) subfolders.push_back(std::move(path));
    }
    ::closedir(dir);
    for (const std::string& sub : subfolders) all &= watchFolder(sub, true);
    return all;
}

void TreeWatcher::forgetTree(const std::string& folder) {
    auto drop = [&](std::map<std::string, int>::iterator it) {
        ::inotify_rm_watch(fd_, it->second);
        paths_.erase(it->second);
        return folders_.erase(it);
    };
    if (auto it = folders_.find(folder); it != folders_.end()) drop(it);
    // Everything under folder sorts together from folder + "/" on.
    for (auto it = folders_.lower_bound(folder + "/");
         it != folders_.end() && under(it->first, folder);)
        it = drop(it);
}

bool TreeWatcher::read(std::vector<Change>& out) {
    bool complete = true;
    alignas(struct inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;  // EAGAIN: nothing more waiting
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            if (at > n) break;  // the kernel never splits an event; guard anyway
            if (ev->mask & IN_Q_OVERFLOW) {
                complete = false;
                continue;
            }
            auto where = paths_.find(ev->wd);
            if (where == paths_.end()) continue;  // a watch already dropped
            const std::string folder = where->second;
            if (ev->mask & IN_IGNORED) {
                folders_.erase(folder);
                paths_.erase(where);
                continue;
            }
            if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder itself went; its parent (when watched) reports it too, but a
                // tree's top folder has no watched parent.
                out.push_back({folder, true});
                if (ev->mask & IN_MOVE_SELF) forgetTree(folder);
                continue;
            }
            if (ev->len == 0) continue;
            const std::string path = folder + "/" + ev->name;
            const bool isDir = (ev->mask & IN_ISDIR) != 0;
            if (isDir && (ev->mask & (IN_MOVED_FROM | IN_DELETE))) forgetTree(path);
            if (isDir && (ev->mask & (IN_CREATE | IN_MOVED_TO)) && recursiveAt(folder))
                watchFolder(path, true);
            out.push_back({path, isDir});
        }
    }
    return complete;
}

void TreeWatcher::rewatch() {
    for (const auto& [wd, folder] : paths_) ::inotify_rm_watch(fd_, wd);
    paths_.clear();
    folders_.clear();
    limitReached_ = false;
    unwatched_.clear();
    for (const Tree& t : trees_) watchFolder(t.folder, t.recursive);
}

}  // namespace ixowatch
