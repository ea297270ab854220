#include "server/netserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace ixoserver {

namespace {

constexpr int kReadTimeoutMs = 30000;

std::atomic<NetServer*> gSignalTarget{nullptr};

void onSignal(int) {
    if (NetServer* s = gSignalTarget.load()) s->requestStop();
}

bool writeAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

void installSignalHandlers(NetServer& server) {
    gSignalTarget = &server;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

NetServer::NetServer(ServerConfig config)
    : config_(std::move(config)),
      store_(config_.dataPath(), config_.commitIntervalMs),
      dispatcher_(store_, config_) {}

NetServer::~NetServer() {
    if (gSignalTarget.load() == this) gSignalTarget = nullptr;
    for (int fd : {queryFd_, indexFd_, wakePipe_[0], wakePipe_[1]})
        if (fd >= 0) ::close(fd);
}

int NetServer::listenOn(int port, int& boundPort, std::string& error) {
    // Listening sockets do not block: every worker polls them and only one wins a connection.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, config_.bindAddress.c_str(), &addr.sin_addr) != 1) {
        error = "invalid bind address " + config_.bindAddress;
        ::close(fd);
        return -1;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 128) != 0) {
        error = "cannot listen on port " + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    boundPort = ntohs(addr.sin_port);
    return fd;
}

bool NetServer::start(std::string& error) {
    if (!store_.open(error)) return false;
    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "pipe failed";
        return false;
    }
    queryFd_ = listenOn(config_.queryPort, queryPort_, error);
    if (queryFd_ < 0) return false;
    indexFd_ = listenOn(config_.indexPort, indexPort_, error);
    if (indexFd_ < 0) return false;
    dispatcher_.setPorts(queryPort_, indexPort_);
    // A stop file left from an earlier run must not stop this one at once.
    std::error_code ec;
    std::filesystem::remove(config_.stopFilePath(), ec);
    std::ofstream ports(config_.portsFilePath() + ".tmp", std::ios::binary | std::ios::trunc);
    ports << "QUERYPORT=" << queryPort_ << "\nINDEXPORT=" << indexPort_ << "\n";
    ports.close();
    std::filesystem::rename(config_.portsFilePath() + ".tmp", config_.portsFilePath(), ec);
    for (int i = 0; i < config_.workerThreads; ++i) workers_.emplace_back([this] { workerLoop(); });
    return true;
}

void NetServer::requestStop() {
    stopping_ = true;
    if (wakePipe_[1] >= 0) {
        char b = 1;
        [[maybe_unused]] ssize_t n = ::write(wakePipe_[1], &b, 1);
    }
}

int NetServer::run() {
    // The workers accept and serve by themselves; this thread watches for the stop file.
    const std::string stopFile = config_.stopFilePath();
    while (!stopping_) {
        pollfd p{wakePipe_[0], POLLIN, 0};
        ::poll(&p, 1, 250);
        if (!stopping_ && fileExists(stopFile)) requestStop();
    }
    // Requests being served are finished; then pending work is committed and the data
    // closed.
    for (auto& t : workers_) t.join();
    workers_.clear();
    ::close(queryFd_);
    ::close(indexFd_);
    queryFd_ = indexFd_ = -1;
    store_.close();
    std::error_code ec;
    std::filesystem::remove(stopFile, ec);
    std::filesystem::remove(config_.portsFilePath(), ec);
    return 0;
}

void NetServer::workerLoop() {
    // Every worker waits on both listening sockets; whichever wakes first takes the
    // connection (the others find nothing to accept and wait again). The wake pipe stays
    // readable once a stop was asked for, so it wakes them all.
    while (!stopping_) {
        pollfd fds[3] = {{queryFd_, POLLIN, 0}, {indexFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int n = ::poll(fds, 3, 1000);
        if (stopping_) break;
        if (n <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            int fd = ::accept4(fds[i].fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
            if (fd < 0) continue;  // taken by another worker, or the peer gave up
            const bool loopback = (ntohl(peer.sin_addr.s_addr) >> 24) == 127;
            Connection c{fd, i == 0 ? PortKind::Query : PortKind::Index, loopback};
            serve(c);
            ::close(fd);
        }
    }
}

void NetServer::serve(const Connection& c) {
    ParseLimits limits{config_.maxHeaderBytes, config_.maxBodyBytes};
    std::string data;
    HttpRequestData req;
    ParseStatus status = ParseStatus::Incomplete;
    bool eof = false;
    char buf[65536];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
    while (status == ParseStatus::Incomplete) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd p{c.fd, POLLIN, 0};
        int r = left > 0 ? ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) : 0;
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
            if (std::chrono::steady_clock::now() < deadline) continue;
            // A peer that sends a body without a length and then waits: take what came.
            eof = true;
        } else {
            ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                eof = true;
            else
                data.append(buf, static_cast<size_t>(n));
        }
        status = parseHttpRequest(data, limits, eof, req);
        if (status == ParseStatus::Incomplete && eof) status = ParseStatus::Bad;
    }
    DispatchResult result;
    if (status == ParseStatus::Complete) {
        result = dispatcher_.handle(c.port, req, c.loopback);
    } else {
        result.reply.status = status == ParseStatus::TooLarge ? 413 : 400;
        result.reply.body =
            status == ParseStatus::TooLarge ? "ERROR: request too large\n" : "ERROR: bad request\n";
    }
    writeAll(c.fd, serializeReply(result.reply));
    ::shutdown(c.fd, SHUT_WR);
    if (log) {
        std::string target = req.target.substr(0, 200);
        for (auto& ch : target)
            if (ch == '\n' || ch == '\r') ch = ' ';
        log(std::to_string(result.reply.status) + " " + (c.port == PortKind::Query ? "Q " : "I ") +
            target);
    }
    if (result.shutdown) requestStop();
}

}  // namespace ixoserver
