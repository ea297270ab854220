#include "tests/ixowatch/watch_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "ixo.h"

namespace ixowatch_testing {

WatchProcess::WatchProcess(const std::vector<std::string>& args, const std::string& errors) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        std::vector<std::string> all = {IXOINDEX_BIN, "--watch", "--progress"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::dup2(fds[1], 1);
        int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    reader_ = std::thread([this] {
        std::string pending;
        char buf[4096];
        for (ssize_t n; (n = ::read(out_, buf, sizeof buf)) > 0;) {
            pending.append(buf, static_cast<size_t>(n));
            std::lock_guard<std::mutex> guard(lock_);
            for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                lines_.push_back(pending.substr(0, nl));
                pending.erase(0, nl + 1);
            }
            changed_.notify_all();
        }
    });
}

WatchProcess::~WatchProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (out_ >= 0) ::close(out_);
}

int WatchProcess::waitLine(const std::function<bool(const std::string&)>& test,
                           std::chrono::milliseconds limit, size_t from) {
    std::unique_lock<std::mutex> guard(lock_);
    const auto until = std::chrono::steady_clock::now() + limit;
    for (size_t i = from;;) {
        for (; i < lines_.size(); ++i)
            if (test(lines_[i])) return static_cast<int>(i);
        if (changed_.wait_until(guard, until) == std::cv_status::timeout) {
            for (; i < lines_.size(); ++i)
                if (test(lines_[i])) return static_cast<int>(i);
            return -1;
        }
    }
}

std::vector<std::string> WatchProcess::lines() {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

int WatchProcess::waitExit(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -1;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

namespace {

std::string query(int port, const std::string& term, const char* extra) {
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, port, port);
    char* reply = nullptr;
    const std::string path = "/qmethod=q&querytext=" + term + extra;
    const int32_t rc =
        ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, path.c_str(), nullptr, &reply);
    std::string text = rc == 1 && reply ? reply : "";
    if (reply) memFree(reply);
    ixoDestroyIxo(&ixo);
    return text;
}

}  // namespace

int countHits(int port, const std::string& term) {
    const std::string text = query(port, term, "&xoptions=counthits");
    const size_t p = text.find("numhits=");
    return p == std::string::npos ? -1 : std::atoi(text.c_str() + p + 8);
}

int waitHits(int port, const std::string& term, int expected, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    int hits = countHits(port, term);
    while (hits != expected && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        hits = countHits(port, term);
    }
    return hits;
}

std::vector<std::string> references(int port, const std::string& term) {
    const std::string text = query(port, term, "&qnum=50");
    std::vector<std::string> refs;
    for (size_t p = 0; (p = text.find("Doc_name=", p)) != std::string::npos;) {
        p += 9;
        refs.push_back(text.substr(p, text.find('\n', p) - p));
    }
    std::sort(refs.begin(), refs.end());
    return refs;
}

}  // namespace ixowatch_testing
