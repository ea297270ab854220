// ixoindex --watch --progress run as a child of a test: its progress lines are read on
// a thread of their own, and the test waits for the line it expects.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ixowatch_testing {

class WatchProcess {
  public:
    // Runs IXOINDEX_BIN --watch --progress with args; standard error goes to errors.
    WatchProcess(const std::vector<std::string>& args, const std::string& errors);
    ~WatchProcess();
    WatchProcess(const WatchProcess&) = delete;
    WatchProcess& operator=(const WatchProcess&) = delete;

    // Waits until a line (from the start, or only after `from` lines) satisfies test;
    // the index of that line, or -1 after limit.
    int waitLine(const std::function<bool(const std::string&)>& test,
                 std::chrono::milliseconds limit, size_t from = 0);
    // Waits up to 20 seconds for the first "IDLE" line.
    bool waitIdle() {
        return waitLine([](const std::string& l) { return l.rfind("IDLE ", 0) == 0; },
                        std::chrono::seconds(20)) >= 0;
    }
    std::vector<std::string> lines();
    void signal(int sig) { ::kill(pid_, sig); }
    // The exit status once it ended by itself (-1 when it still runs after limit).
    int waitExit(std::chrono::milliseconds limit);
    // SIGTERM, then the exit status (-1 when it did not end within 10 seconds).
    int stop() {
        signal(SIGTERM);
        return waitExit(std::chrono::seconds(10));
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::thread reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// Hits of one term on the server's query port (-1 when it did not answer).
int countHits(int port, const std::string& term);
// Waits up to limit until countHits(port, term) == expected; the last count.
int waitHits(int port, const std::string& term, int expected,
             std::chrono::milliseconds limit = std::chrono::seconds(2));
// The references of the hits of a term.
std::vector<std::string> references(int port, const std::string& term);

}  // namespace ixowatch_testing
