// One request and a 10 KB reply over loopback: through the client's request routine,
// and the same reply fetched by the curl program from the same local server (one
// process per request, and many requests in one process so that process start-up
// drops out of the per-request figure).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ixo_api.h"
#include "tests/common/loopback_server.h"

extern char** environ;

namespace {

constexpr const char* kCurl = "/usr/bin/curl";

std::string tenKilobytes() {
    std::string body;
    for (int i = 0; body.size() < 10240; ++i)
        body += "Doc_name=http://docs.example/" + std::to_string(i) + "\n";
    body.resize(10240);
    return body;
}

testing_support::LoopbackServer& server() {
    static testing_support::LoopbackServer instance;
    static bool ready = [] {
        instance.setReply(testing_support::LoopbackServer::httpReply(tenKilobytes()));
        return true;
    }();
    (void)ready;
    return instance;
}

// Runs a program to its end with its output thrown away; its exit status.
int run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_IxoRequest10KB(benchmark::State& state) {
    auto& s = server();
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, s.port(), 0);
    for (auto _ : state) {
        char* reply = nullptr;
        if (ixoRequestToDynBuffer2(&ixo, 0, "/qmethod=V", nullptr, &reply) != IXO_OK) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
        memFree(reply);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 10240);
    ixoDestroyIxo(&ixo);
}
BENCHMARK(BM_IxoRequest10KB)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One curl process per request: includes process start.
void BM_CurlProcessPerRequest10KB(benchmark::State& state) {
    if (access(kCurl, X_OK) != 0) {
        state.SkipWithError("curl not installed");
        return;
    }
    std::string url = server().url("/qmethod=V");
    for (auto _ : state)
        if (run({kCurl, "-s", "-o", "/dev/null", url}) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 10240);
}
BENCHMARK(BM_CurlProcessPerRequest10KB)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 100 sequential requests in one curl process (the server closes every connection,
// so each is a fresh one); the time per iteration is per request.
void BM_CurlOneProcess100Requests10KB(benchmark::State& state) {
    if (access(kCurl, X_OK) != 0) {
        state.SkipWithError("curl not installed");
        return;
    }
    constexpr int kRequests = 100;
    std::vector<std::string> args = {kCurl, "-s"};
    for (int i = 0; i < kRequests; ++i) {
        args.push_back("-o");
        args.push_back("/dev/null");
        args.push_back(server().url("/qmethod=V&n=" + std::to_string(i)));
    }
    for (auto _ : state) {
        if (run(args) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRequests);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRequests * 10240);
}
BENCHMARK(BM_CurlOneProcess100Requests10KB)->Unit(benchmark::kMillisecond)->UseRealTime();

// Process start-up alone, for reading the figures above.
void BM_CurlVersionOnly(benchmark::State& state) {
    if (access(kCurl, X_OK) != 0) {
        state.SkipWithError("curl not installed");
        return;
    }
    for (auto _ : state) run({kCurl, "--version"});
}
BENCHMARK(BM_CurlVersionOnly)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
