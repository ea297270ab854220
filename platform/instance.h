// One running copy of a program per user: an exclusive, non-blocking lock (flock) on a
// file named after the lock's name in the user's runtime folder ($XDG_RUNTIME_DIR, or
// else a private 0700 folder of the user under the temporary folder). The lock goes
// with the process, so a copy that crashed never blocks the next start.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result { Acquired, HeldElsewhere, Failed };
    // Takes the lock "name" (e.g. "Sapiolux Mutex"). HeldElsewhere: another process
    // holds it. Failed: no lock file could be made (error() says why).
    Result acquire(const std::string& name);
    void release();
    bool held() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

  private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

// The user's private runtime folder: $XDG_RUNTIME_DIR when it is set and a folder, else
// "<tmp>/sapiolux-<uid>" created with mode 0700 (and refused when it is not ours, is a
// link, or others may write to it). Empty when neither can be had.
std::string userRuntimeDir();

}  // namespace platform
