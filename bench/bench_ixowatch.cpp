// Live indexing (ixoindex --watch into a real ixoserver): how soon a changed 10 KB file
// is searchable, how long a burst of new files takes, and what the watcher costs while
// nothing changes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ixo.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A server with ixoindex --watch over one folder, both children of the benchmark.
struct Setup {
    testing_support::TempDir dir;
    fs::path docs = dir.path() / "docs";
    testing_support::ServerChild server{std::string(SAPIOLUX_BIN_DIR) + "/ixoserver",
                                        dir.path() / "home", "QUERYPORT=0\nINDEXPORT=0\n"};
    pid_t watcher = -1;

    Setup() {
        fs::create_directories(docs);
        watcher = ::fork();
        if (watcher == 0) {
            const std::string bin = std::string(SAPIOLUX_BIN_DIR) + "/ixoindex";
            const std::string target = "127.0.0.1:" + std::to_string(server.indexPort);
            const std::string state = dir.file("state");
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::execl(bin.c_str(), bin.c_str(), "--watch", "--server", target.c_str(), "--state",
                    state.c_str(), docs.c_str(), nullptr);
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its first pass
    }
    ~Setup() {
        if (watcher > 0) {
            ::kill(watcher, SIGTERM);
            ::waitpid(watcher, nullptr, 0);
        }
    }
    std::string reply(const std::string& path) const {
        IXO ixo{};
        ixoCreateIxo(&ixo, "127.0.0.1", nullptr, server.queryPort, server.queryPort);
        char* text = nullptr;
        ixoRequestToDynBuffer2(&ixo, IXO_QUERY_PORT_SELECTOR, path.c_str(), nullptr, &text);
        std::string out = text ? text : "";
        if (text) memFree(text);
        ixoDestroyIxo(&ixo);
        return out;
    }
    int hits(const std::string& term) const {
        const std::string text = reply("/qmethod=q&querytext=" + term + "+&xoptions=counthits");
        const size_t p = text.find("numhits=");
        return p == std::string::npos ? -1 : std::atoi(text.c_str() + p + 8);
    }
    int documents() const {
        const std::string text = reply("/qmethod=V");
        const size_t p = text.find("DOCNUM=");
        return p == std::string::npos ? -1 : std::atoi(text.c_str() + p + 7);
    }
};

std::string wordOf(int n) {
    std::string w = "chg";
    for (int i = 0; i < 5; ++i, n /= 26) w += static_cast<char>('a' + n % 26);
    return w;
}

// From the write of a changed 10 KB file until a query finds its new word.
void BM_WatchChangedFileSearchable(benchmark::State& state) {
    Setup s;
    const fs::path file = s.docs / "note.txt";
    std::string filler;
    while (filler.size() < 10 * 1024) filler += "river delta sediment survey notes ";
    int n = 0;
    double worst = 0;
    for (auto _ : state) {
        const std::string word = wordOf(n++);
        const auto start = Clock::now();
        std::ofstream(file) << word << "\n" << filler << "\n";
        while (s.hits(word) != 1) {
            if (Clock::now() - start > std::chrono::seconds(10)) {
                state.SkipWithError("not searchable within 10 s");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        worst = std::max(worst, secs);
        state.SetIterationTime(secs);
    }
    state.counters["worst_s"] = worst;
}
BENCHMARK(BM_WatchChangedFileSearchable)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

// From the first of 10,000 new files until the server holds them all.
void BM_WatchBurst10000(benchmark::State& state) {
    for (auto _ : state) {
        Setup s;
        const auto start = Clock::now();
        for (int i = 0; i < 10000; ++i)
            std::ofstream(s.docs / ("b" + std::to_string(i) + ".txt"))
                << "Burst entry " << i << "\n";
        while (s.documents() != 10000) {
            if (Clock::now() - start > std::chrono::seconds(120)) {
                state.SkipWithError("not all indexed within 120 s");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(secs);
        state.counters["files_per_s"] = 10000 / secs;
    }
}
BENCHMARK(BM_WatchBurst10000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// CPU time the watcher uses over five idle seconds, as a share of one core.
void BM_WatchIdleCpu(benchmark::State& state) {
    Setup s;
    for (int i = 0; i < 200; ++i)
        std::ofstream(s.docs / ("i" + std::to_string(i) + ".txt")) << "Idle entry " << i << "\n";
    std::this_thread::sleep_for(std::chrono::seconds(2));
    auto cpu = [&] {
        std::ifstream stat("/proc/" + std::to_string(s.watcher) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        // utime and stime are fields 14 and 15, counted after the ")" of the name.
        size_t p = text.rfind(')');
        long utime = 0, stime = 0;
        std::sscanf(text.c_str() + p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld",
                    &utime, &stime);
        return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    };
    double share = 0;
    for (auto _ : state) {
        const double before = cpu();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        share = (cpu() - before) / 5.0;
    }
    state.counters["cpu_share"] = share;
}
BENCHMARK(BM_WatchIdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
