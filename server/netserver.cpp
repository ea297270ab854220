#include "server/netserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace ixoserver {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kLoopTickMs = 250;  // the stop file and the deadlines are checked this often

std::atomic<NetServer*> gSignalTarget{nullptr};

void onSignal(int) {
    if (NetServer* s = gSignalTarget.load()) s->requestStop();
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// True once the bytes hold the blank line that ends a header block.
bool headersEnded(const std::string& data, size_t limit) {
    const std::string_view head(data.data(), std::min(data.size(), limit));
    return head.find("\n\n") != std::string_view::npos ||
           head.find("\n\r\n") != std::string_view::npos;
}

// As many descriptors as the system allows this process: each open connection takes one.
size_t raiseDescriptorLimit() {
    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0) return 1024;
    if (rl.rlim_cur < rl.rlim_max) {
        rlimit want = rl;
        want.rlim_cur = std::min<rlim_t>(rl.rlim_max, 65536);
        if (::setrlimit(RLIMIT_NOFILE, &want) == 0) rl = want;
    }
    return static_cast<size_t>(rl.rlim_cur);
}

}  // namespace

std::string loggableTarget(const std::string& target) {
    std::string plain;
    std::string text =
        unscrambleTarget(target, plain) ? plain : std::string("(bad scrambled path)");
    // Blank out every "pass=" value, as a parameter name (after '?', '&' or the start).
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t hit = std::string::npos;
        for (size_t p = pos; p + 5 <= text.size(); ++p) {
            if ((p == 0 || text[p - 1] == '&' || text[p - 1] == '?') &&
                std::tolower(static_cast<unsigned char>(text[p])) == 'p' &&
                std::tolower(static_cast<unsigned char>(text[p + 1])) == 'a' &&
                std::tolower(static_cast<unsigned char>(text[p + 2])) == 's' &&
                std::tolower(static_cast<unsigned char>(text[p + 3])) == 's' &&
                text[p + 4] == '=') {
                hit = p;
                break;
            }
        }
        if (hit == std::string::npos) {
            out.append(text, pos, std::string::npos);
            break;
        }
        out.append(text, pos, hit + 5 - pos);
        out += "***";
        size_t end = text.find('&', hit + 5);
        pos = end == std::string::npos ? text.size() : end;
    }
    out = out.substr(0, 200);
    for (auto& ch : out)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return out;
}

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
    {
        std::lock_guard lock(queueMutex_);
        workersStop_ = true;
    }
    queueCv_.notify_all();
    for (auto& t : workers_)
        if (t.joinable()) t.join();
    for (auto& [fd, c] : connections_) ::close(fd);
    for (int fd : {queryFd_, indexFd_, wakePipe_[0], wakePipe_[1], doneFd_, epollFd_})
        if (fd >= 0) ::close(fd);
}

int NetServer::listenOn(int port, int& boundPort, std::string& error) {
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
        ::listen(fd, 512) != 0) {
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
    store_.setShards(config_.shards, config_.readOnly, config_.shardTimeoutMs);
    if (!store_.open(error)) return false;
    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "pipe failed";
        return false;
    }
    doneFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (doneFd_ < 0 || epollFd_ < 0) {
        error = std::string("cannot set up the event loop: ") + std::strerror(errno);
        return false;
    }
    queryFd_ = listenOn(config_.queryPort, queryPort_, error);
    if (queryFd_ < 0) return false;
    indexFd_ = listenOn(config_.indexPort, indexPort_, error);
    if (indexFd_ < 0) return false;
    for (int fd : {queryFd_, indexFd_, wakePipe_[0], doneFd_}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            error = std::string("epoll: ") + std::strerror(errno);
            return false;
        }
    }
    // Room for the listening sockets, the data files and the workers' readers.
    const size_t limit = raiseDescriptorLimit();
    maxConnections_ = limit > 400 ? std::min<size_t>(limit - 200, 20000) : 100;
    bufferBudget_ =
        std::max<size_t>(256u << 20, 2 * (config_.maxBodyBytes + config_.maxHeaderBytes));
    dispatcher_.setPorts(queryPort_, indexPort_);
    // A stop file left from an earlier run must not stop this one at once.
    std::error_code ec;
    std::filesystem::remove(config_.stopFilePath(), ec);
    {
        std::ofstream ports(config_.portsFilePath() + ".tmp", std::ios::binary | std::ios::trunc);
        ports << "QUERYPORT=" << queryPort_ << "\nINDEXPORT=" << indexPort_ << "\n";
    }
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

void NetServer::acceptAll(int listenFd, PortKind port) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // nothing more to accept (or out of descriptors for now)
        }
        if (connections_.size() >= maxConnections_) {
            // Full: the connection that has waited longest for its request goes, so that
            // idle connections cannot lock out new clients.
            Connection* oldest = nullptr;
            for (auto& [cfd, c] : connections_)
                if (c->state == State::Reading && (!oldest || c->accepted < oldest->accepted))
                    oldest = c.get();
            if (!oldest) {
                ::close(fd);
                continue;
            }
            closeConnection(oldest->fd);
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->port = port;
        c->loopback = (ntohl(peer.sin_addr.s_addr) >> 24) == 127;
        c->accepted = Clock::now();
        c->headerDeadline = c->accepted + milliseconds(kHeaderDeadlineMs);
        c->requestDeadline = c->accepted + milliseconds(kRequestDeadlineMs);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            ::close(fd);
            continue;
        }
        connections_[fd] = std::move(c);
    }
}

void NetServer::releaseBuffer(Connection& c) {
    buffered_ -= std::min(buffered_, c.data.size());
    c.data.clear();
    c.data.shrink_to_fit();
}

void NetServer::closeConnection(int fd) {
    auto it = connections_.find(fd);
    if (it == connections_.end()) return;
    releaseBuffer(*it->second);
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    connections_.erase(it);
}

void NetServer::readFrom(Connection& c) {
    const ParseLimits limits{config_.maxHeaderBytes, config_.maxBodyBytes};
    char buf[65536];
    bool eof = false, got = false;
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.data.append(buf, static_cast<size_t>(n));
            buffered_ += static_cast<size_t>(n);
            got = true;
            // Many connections sending large bodies at once could take all memory: past
            // the budget, the one that just grew is turned away.
            if (buffered_ > bufferBudget_) {
                c.status = ParseStatus::TooLarge;
                c.busy = true;
                finishReading(c, false);
                return;
            }
            // Parsed as it comes, so an oversized request is refused without storing it.
            if (c.data.size() > config_.maxHeaderBytes + config_.maxBodyBytes + 4096) break;
            continue;
        }
        if (n == 0) {
            eof = true;
            break;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        closeConnection(c.fd);  // reset by the peer: nobody to answer
        return;
    }
    if (eof) {
        finishReading(c, true);
        return;
    }
    if (!got) return;
    c.status = parseHttpRequest(c.data, limits, false, c.request);
    if (c.status != ParseStatus::Incomplete) finishReading(c, false);
}

void NetServer::finishReading(Connection& c, bool atEof) {
    if (!c.busy && (atEof || c.status == ParseStatus::Incomplete)) {
        const ParseLimits limits{config_.maxHeaderBytes, config_.maxBodyBytes};
        c.request = HttpRequestData{};
        c.status = parseHttpRequest(c.data, limits, true, c.request);
        if (c.status == ParseStatus::Incomplete) c.status = ParseStatus::Bad;
    }
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, c.fd, nullptr);
    releaseBuffer(c);
    c.state = State::Working;
    if (c.status != ParseStatus::Complete) {
        answer(c);  // a refusal needs no worker
        startWriting(c);
        return;
    }
    {
        std::lock_guard lock(queueMutex_);
        work_.push_back(&c);
    }
    queueCv_.notify_one();
}

void NetServer::answer(Connection& c) {
    DispatchResult result;
    if (c.status == ParseStatus::Complete) {
        result = dispatcher_.handle(c.port, c.request, c.loopback);
    } else if (c.busy) {
        result.reply.status = 503;
        result.reply.body = "ERROR: server busy\n";
    } else {
        result.reply.status = c.status == ParseStatus::TooLarge ? 413 : 400;
        result.reply.body = c.status == ParseStatus::TooLarge ? "ERROR: request too large\n"
                                                              : "ERROR: bad request\n";
    }
    c.out = serializeReply(result.reply);
    c.shutdown = result.shutdown;
    if (log)
        log(std::to_string(result.reply.status) + " " + (c.port == PortKind::Query ? "Q " : "I ") +
            loggableTarget(c.request.target));
    c.request = HttpRequestData{};
}

void NetServer::workerLoop() {
    for (;;) {
        Connection* c = nullptr;
        {
            std::unique_lock lock(queueMutex_);
            queueCv_.wait(lock, [&] { return workersStop_ || !work_.empty(); });
            if (work_.empty()) return;
            c = work_.front();
            work_.pop_front();
        }
        answer(*c);
        {
            std::lock_guard lock(queueMutex_);
            finished_.push_back(c);
        }
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(doneFd_, &one, sizeof one);
    }
}

void NetServer::collectFinished() {
    uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(doneFd_, &count, sizeof count);
    std::vector<Connection*> done;
    {
        std::lock_guard lock(queueMutex_);
        done.swap(finished_);
    }
    for (Connection* c : done) startWriting(*c);
}

void NetServer::startWriting(Connection& c) {
    c.state = State::Writing;
    c.writeDeadline = Clock::now() + milliseconds(kWriteDeadlineMs);
    writeTo(c);
}

void NetServer::writeTo(Connection& c) {
    while (c.written < c.out.size()) {
        ssize_t n = ::send(c.fd, c.out.data() + c.written, c.out.size() - c.written, MSG_NOSIGNAL);
        if (n > 0) {
            c.written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            epoll_event ev{};
            ev.events = EPOLLOUT;
            ev.data.fd = c.fd;
            if (::epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &ev) != 0)
                ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, c.fd, &ev);
            return;
        }
        break;  // the peer went away
    }
    const bool shutdown = c.shutdown;
    ::shutdown(c.fd, SHUT_WR);
    closeConnection(c.fd);
    if (shutdown) requestStop();
}

void NetServer::expire(Clock::time_point now) {
    std::vector<int> late;
    for (auto& [fd, c] : connections_) {
        if (c->state == State::Reading) {
            if (now >= c->requestDeadline ||
                (now >= c->headerDeadline && !headersEnded(c->data, config_.maxHeaderBytes)))
                late.push_back(fd);
        } else if (c->state == State::Writing && now >= c->writeDeadline) {
            late.push_back(fd);
        }
    }
    for (int fd : late) {
        auto it = connections_.find(fd);
        if (it == connections_.end()) continue;
        Connection& c = *it->second;
        if (c.state == State::Reading && !c.data.empty())
            finishReading(c, true);  // take what came, as if the peer had closed
        else
            closeConnection(fd);
    }
}

int NetServer::nextTimeoutMs(Clock::time_point) const {
    return kLoopTickMs;
}

int NetServer::run() {
    const std::string stopFile = config_.stopFilePath();
    epoll_event events[256];
    auto lastStopCheck = Clock::now();
    auto loopOnce = [&](int timeoutMs) {
        int n = ::epoll_wait(epollFd_, events, 256, timeoutMs);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == queryFd_) {
                acceptAll(queryFd_, PortKind::Query);
            } else if (fd == indexFd_) {
                acceptAll(indexFd_, PortKind::Index);
            } else if (fd == wakePipe_[0]) {
                char buf[64];
                while (::read(wakePipe_[0], buf, sizeof buf) > 0) {
                }
            } else if (fd == doneFd_) {
                collectFinished();
            } else {
                auto it = connections_.find(fd);
                if (it == connections_.end()) continue;
                Connection& c = *it->second;
                if (c.state == State::Reading)
                    readFrom(c);
                else if (c.state == State::Writing)
                    writeTo(c);
            }
        }
        const auto now = Clock::now();
        expire(now);
        if (now - lastStopCheck >= milliseconds(kLoopTickMs)) {
            lastStopCheck = now;
            if (!stopping_ && fileExists(stopFile)) requestStop();
        }
    };
    while (!stopping_) loopOnce(nextTimeoutMs(Clock::now()));

    // Stopping: no new connections, idle ones are dropped, requests being answered are
    // finished and their replies sent (for a little while), then the data is committed.
    for (int* fd : {&queryFd_, &indexFd_}) {
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, *fd, nullptr);
        ::close(*fd);
        *fd = -1;
    }
    std::vector<int> idle;
    for (auto& [fd, c] : connections_)
        if (c->state == State::Reading) idle.push_back(fd);
    for (int fd : idle) closeConnection(fd);
    const auto writeLimit = Clock::now() + milliseconds(2000);
    for (;;) {
        bool working = false;
        for (auto& [fd, c] : connections_) {
            if (c->state == State::Working) working = true;
            if (c->state == State::Writing)
                c->writeDeadline = std::min(c->writeDeadline, writeLimit);
        }
        if (connections_.empty()) break;
        if (!working && Clock::now() >= writeLimit) break;
        loopOnce(50);
    }
    {
        std::lock_guard lock(queueMutex_);
        workersStop_ = true;
    }
    queueCv_.notify_all();
    for (auto& t : workers_) t.join();
    workers_.clear();
    for (auto& [fd, c] : connections_) ::close(fd);
    connections_.clear();
    store_.close();
    std::error_code ec;
    std::filesystem::remove(stopFile, ec);
    std::filesystem::remove(config_.portsFilePath(), ec);
    return 0;
}

}  // namespace ixoserver
