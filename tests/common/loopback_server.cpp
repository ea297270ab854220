#include "loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// How long an incomplete request may sit without new bytes before it is served as is.
constexpr std::chrono::milliseconds kIdleRequest{2000};

std::size_t findCaseBlind(const std::string& hay, const std::string& needle, std::size_t from) {
    auto it = std::search(hay.begin() + static_cast<std::ptrdiff_t>(std::min(from, hay.size())),
                          hay.end(), needle.begin(), needle.end(), [](char a, char b) {
                              return std::tolower(static_cast<unsigned char>(a)) ==
                                     std::tolower(static_cast<unsigned char>(b));
                          });
    return it == hay.end() ? std::string::npos : static_cast<std::size_t>(it - hay.begin());
}

}  // namespace

LoopbackServer::LoopbackServer() {
    if (pipe(wakePipe_) != 0) throw std::runtime_error("loopback server: pipe failed");
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("loopback server: socket failed");
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 64) != 0)
        throw std::runtime_error("loopback server: bind/listen failed");
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    // A byte in the pipe that nobody reads keeps it readable: every wait wakes up.
    char c = 'x';
    [[maybe_unused]] auto n = write(wakePipe_[1], &c, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers) w.thread.join();
    close(listenFd_);
    close(wakePipe_[0]);
    close(wakePipe_[1]);
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::setMode(Mode mode) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
}

void LoopbackServer::setReply(std::string raw) {
    std::lock_guard lock(mutex_);
    defaultReply_ = std::move(raw);
}

void LoopbackServer::queueReply(std::string raw) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(raw));
}

void LoopbackServer::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void LoopbackServer::setDrip(std::size_t chunkBytes, std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    dripChunk_ = std::max<std::size_t>(1, chunkBytes);
    dripDelay_ = delay;
}

void LoopbackServer::setConnectionLimit(std::chrono::milliseconds limit) {
    std::lock_guard lock(mutex_);
    connectionLimit_ = limit;
}

std::vector<std::string> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t LoopbackServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

std::string LoopbackServer::lastRequest() const {
    std::lock_guard lock(mutex_);
    return requests_.empty() ? std::string() : requests_.back();
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::size_t LoopbackServer::connectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

std::string LoopbackServer::httpReply(const std::string& body, const std::string& contentType,
                                      int status, const std::string& extraHeaders) {
    std::string reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
    return "HTTP/1.0 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" +
           body;
}

std::size_t LoopbackServer::completeRequestLength(const std::string& bytes) {
    std::size_t crlf = bytes.find("\r\n\r\n");
    std::size_t lf = bytes.find("\n\n");
    std::size_t headerEnd;
    if (lf != std::string::npos && (crlf == std::string::npos || lf < crlf))
        headerEnd = lf + 2;
    else if (crlf != std::string::npos)
        headerEnd = crlf + 4;
    else
        return 0;
    std::string headers = bytes.substr(0, headerEnd);
    std::size_t bodyLength = 0;
    std::size_t at = findCaseBlind(headers, "\ncontent-length:", 0);
    if (at != std::string::npos) bodyLength = std::strtoul(headers.c_str() + at + 16, nullptr, 10);
    if (bytes.size() < headerEnd + bodyLength) return 0;
    return headerEnd + bodyLength;
}

bool LoopbackServer::waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd fds[2] = {{fd, events, 0}, {wakePipe_[0], POLLIN, 0}};
        int n = poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (fds[1].revents) return false;  // stopping
        if (fds[0].revents) return true;
    }
}

void LoopbackServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || fds[1].revents) return;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        ++connections_;
        // Join the threads of connections that are over, so long runs do not pile
        // them up.
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([this, fd, done] {
                                serve(fd);
                                close(fd);
                                done->store(true);
                            }),
                            done});
    }
}

std::string LoopbackServer::replyFor(const std::string& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        if (!queued_.empty()) {
            std::string r = std::move(queued_.front());
            queued_.pop_front();
            return r;
        }
        if (!handler_) return defaultReply_;
        handler = handler_;
    }
    // The handler runs without the lock, so a slow one holds back no other connection.
    return handler(request);
}

bool LoopbackServer::sendAll(int fd, const std::string& bytes, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!waitFor(fd, POLLOUT, deadline)) return false;
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void LoopbackServer::serve(int fd) {
    Mode mode;
    std::chrono::milliseconds limit;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
        limit = connectionLimit_;
    }
    const auto deadline = Clock::now() + limit;
    if (mode == Mode::CloseAtOnce) return;

    // Read one request: until it is complete, the client closes, or it goes quiet.
    std::string request;
    char buf[4096];
    for (;;) {
        if (completeRequestLength(request) != 0) break;
        auto idleDeadline = std::min(deadline, Clock::now() + kIdleRequest);
        if (!waitFor(fd, POLLIN, idleDeadline)) break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
    }
    std::string reply =
        (mode == Mode::Reply || mode == Mode::SlowDrip) ? replyFor(request) : std::string();
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    arrived_.notify_all();

    switch (mode) {
        case Mode::Reply:
            sendAll(fd, reply, deadline);
            break;
        case Mode::SlowDrip: {
            std::size_t chunk;
            std::chrono::milliseconds delay;
            {
                std::lock_guard lock(mutex_);
                chunk = dripChunk_;
                delay = dripDelay_;
            }
            for (std::size_t at = 0; at < reply.size(); at += chunk) {
                if (at != 0) {
                    // Sleep, but wake up when the server stops.
                    pollfd p{wakePipe_[0], POLLIN, 0};
                    if (poll(&p, 1, static_cast<int>(delay.count())) != 0) return;
                }
                if (!sendAll(fd, reply.substr(at, chunk), deadline)) return;
            }
            break;
        }
        case Mode::NeverAnswer:
            // Hold the connection until the client gives up, the server stops or the limit.
            while (waitFor(fd, POLLIN, deadline)) {
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0 && !(n < 0 && errno == EINTR)) break;
            }
            break;
        case Mode::CloseAfterRequest:
        case Mode::CloseAtOnce:
            break;
    }
    shutdown(fd, SHUT_RDWR);
}

}  // namespace testing_support
