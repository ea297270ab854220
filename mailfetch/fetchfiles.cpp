#include "mailfetch/fetchfiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace mailfetch {

int createExclusive(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

std::FILE* createExclusiveFile(const std::string& path) {
    const int fd = createExclusive(path);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) ::close(fd);
    return f;
}

}  // namespace mailfetch
