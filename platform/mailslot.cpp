#include "platform/mailslot.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/instance.h"
#include "support/cp1252.h"

namespace platform {
namespace {

bool socketAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

std::string mailslotPath() {
    std::string runtime = userRuntimeDir();
    if (runtime.empty()) return {};
    std::string folder = runtime + "/halvoran";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 0077) != 0)
        return {};
    return folder + "/sapiolux";
}

Mailslot::~Mailslot() {
    close();
}

bool Mailslot::create(const std::string& path) {
    close();
    error_.clear();
    sockaddr_un addr{};
    if (!socketAddress(path, addr)) {
        error_ = "unusable mailslot name";
        return false;
    }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // Only a socket may be replaced: a file of that name that is not one is kept.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            ::close(fd);
            error_ = path + " exists and is not a mailslot";
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error_ = std::string("bind: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    ::chmod(path.c_str(), 0600);
    // Room for a few whole messages in the queue.
    int size = static_cast<int>(4 * kMailslotMaxMessage);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    fd_ = fd;
    path_ = path;
    return true;
}

void Mailslot::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(path_.c_str());
    fd_ = -1;
}

std::optional<std::string> Mailslot::readNext() {
    if (fd_ < 0) return std::nullopt;
    // The next message's size first, so the buffer fits it exactly.
    ssize_t size = ::recv(fd_, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0) return std::nullopt;
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0) return std::nullopt;
    size_t length = std::min(static_cast<size_t>(got), static_cast<size_t>(size));
    return std::string(buffer.data(), ::strnlen(buffer.data(), length));
}

std::string mailslotText(std::string_view utf8) {
    std::string text = utf8ToCp1252(utf8);
    for (char& c : text)
        if (c == '\0') c = ' ';
    // Single-byte text: any cut falls between characters.
    if (text.size() > kMailslotMaxMessage) text.resize(kMailslotMaxMessage);
    return text;
}

bool mailslotWrite(const std::string& path, const std::string& text) {
    sockaddr_un addr{};
    if (!socketAddress(path, addr)) return false;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    size_t length = std::min(text.size(), kMailslotMaxMessage);
    ssize_t sent = ::sendto(fd, text.data(), length, MSG_DONTWAIT | MSG_NOSIGNAL,
                            reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::close(fd);
    return sent == static_cast<ssize_t>(length);
}

}  // namespace platform
