// Memory taken by large replies: a local server streams a reply of N MiB (from one
// small buffer, so it adds next to nothing) and a child process receives it through
// the client's request routine. The child reports the growth of its peak resident
// size, so each case is measured on its own. Cases: replies below the handle's limit
// (held about once), and a 300 MiB reply under a 64 MiB limit (given up as soon as the
// limit is passed).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "ixo_api.h"

namespace {

// Serves `total` body bytes to each connection it accepts, until stopped.
class StreamingServer {
  public:
    explicit StreamingServer(long long total) : total_(total) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        listen(fd_, 4);
        thread_ = std::thread([this] { serve(); });
    }
    ~StreamingServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    int port() const { return port_; }

  private:
    void serve() {
        const std::string piece(1 << 20, 'x');
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 200) != 1) continue;
            int conn = accept(fd_, nullptr, nullptr);
            if (conn < 0) continue;
            char buf[4096];
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(conn, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
            send(conn, head.data(), head.size(), MSG_NOSIGNAL);
            for (long long left = total_; left > 0 && !stop_;) {
                ssize_t done = send(conn, piece.data(),
                                    static_cast<size_t>(std::min<long long>(left, piece.size())),
                                    MSG_NOSIGNAL);
                if (done <= 0) break;
                left -= done;
            }
            close(conn);
        }
    }

    long long total_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs one request in a child process; the growth of its peak resident size in MiB,
// or -1 when the child failed. *code gets the request's result.
double measure(int port, int32_t limitBytes, int32_t* code) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        IXO ixo{};
        ixoCreateIxo(&ixo, "127.0.0.1", nullptr, port, port);
        ixoSetHTTPTimeOut(&ixo, 30, 1000);
        ixoSetMaxReplySize(&ixo, limitBytes);
        const long before = peakKilobytes();
        char* reply = nullptr;
        long result[2];
        result[0] = ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, "/big", nullptr, &reply);
        result[1] = peakKilobytes() - before;
        if (reply) memFree(reply);
        ssize_t ignored = write(fds[1], result, sizeof result);
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    long result[2] = {0, -1024};
    ssize_t got = read(fds[0], result, sizeof result);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got != sizeof result) return -1;
    *code = static_cast<int32_t>(result[0]);
    return static_cast<double>(result[1]) / 1024.0;
}

// Args: reply size in MiB, limit in MiB.
void BM_ReplyPeakMemory(benchmark::State& state) {
    const long long replyBytes = state.range(0) << 20;
    const int32_t limit = static_cast<int32_t>(state.range(1) << 20);
    StreamingServer server(replyBytes);
    double peak = 0;
    int32_t code = 0;
    for (auto _ : state) peak = measure(server.port(), limit, &code);
    state.counters["peak_MiB"] = peak;
    state.counters["reply_MiB"] = static_cast<double>(state.range(0));
    state.counters["result"] = code;
}
BENCHMARK(BM_ReplyPeakMemory)
    ->Args({50, 256})
    ->Args({200, 256})
    ->Args({300, 64})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
