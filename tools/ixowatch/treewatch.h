// Folder trees watched through inotify. Each watched folder has one watch; new folders
// are watched as they appear, folders that go away or move are dropped (the folder
// they move to is watched afresh when it lies in a tree). Changes come back as paths;
// what changed about them is for the caller to find out (stat and compare), so events
// that arrive twice or out of order do no harm.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace ixowatch {

struct Change {
    std::string path;
    bool directory = false;  // the path is (or was) a folder: everything under it changed
};

class TreeWatcher {
  public:
    TreeWatcher();
    ~TreeWatcher();
    TreeWatcher(const TreeWatcher&) = delete;
    TreeWatcher& operator=(const TreeWatcher&) = delete;

    // False when inotify is not available (error() says why).
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Watches folder and, with recursive set, every folder under it (symbolic links are
    // not followed). False when a folder could not be watched; limitReached() tells
    // whether the kernel's watch limit was the reason.
    bool addTree(const std::string& folder, bool recursive);

    // Reads every event waiting (without blocking) and appends the changed paths.
    // Returns false when the kernel's queue overflowed since the last call: events were
    // lost and the caller must look at everything again (rewatch() first).
    bool read(std::vector<Change>& out);

    // Watches every tree added so far again from scratch (after an overflow, when new
    // folders may have been missed).
    void rewatch();

    // Set once a watch was refused because the user's watch limit is reached; cleared
    // by rewatch() when everything could be watched again.
    bool limitReached() const { return limitReached_; }
    // The first folder that could not be watched, for the message.
    const std::string& unwatched() const { return unwatched_; }
    size_t watchCount() const { return paths_.size(); }
    const std::string& error() const { return error_; }

    // The system's watch limit (fs.inotify.max_user_watches), 0 when unknown.
    static long watchLimit();

  private:
    struct Tree {
        std::string folder;
        bool recursive = false;
    };
    bool watchFolder(const std::string& folder, bool recursive);
    void forgetTree(const std::string& folder);
    bool recursiveAt(const std::string& folder) const;

    int fd_ = -1;
    std::vector<Tree> trees_;
    std::map<int, std::string> paths_;    // watch descriptor -> folder
    std::map<std::string, int> folders_;  // folder -> watch descriptor
    bool limitReached_ = false;
    std::string unwatched_;
    std::string error_;
};

}  // namespace ixowatch
