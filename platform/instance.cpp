#include "platform/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

bool isDirectory(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder only this user may enter and write: created 0700 when missing, and checked
// (owner, not a link, no group or other write) when it exists already.
bool privateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_uid != ::geteuid()) return false;
    return (st.st_mode & 0077) == 0;
}

}  // namespace

std::string userRuntimeDir() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        if (isDirectory(runtime)) return runtime;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string folder = base + "/sapiolux-" + std::to_string(::geteuid());
    return privateFolder(folder) ? folder : std::string();
}

InstanceLock::~InstanceLock() {
    release();
}

InstanceLock::Result InstanceLock::acquire(const std::string& name) {
    release();
    error_.clear();
    std::string folder = userRuntimeDir();
    if (folder.empty()) {
        error_ = "no private runtime folder";
        return Result::Failed;
    }
    path_ = folder + "/" + name + ".lock";
    // O_NOFOLLOW: a link planted at the lock's name is refused instead of followed.
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = std::string("cannot open ") + path_ + ": " + std::strerror(errno);
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return Result::HeldElsewhere;
        error_ = std::string("cannot lock ") + path_ + ": " + std::strerror(err);
        return Result::Failed;
    }
    fd_ = fd;
    return Result::Acquired;
}

void InstanceLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace platform
