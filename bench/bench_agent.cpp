// The agent's query building on window-sized text, and the whole road from text to
// printed suggestions against a local ixoserver holding many documents
// (SAPIOLUX_BENCH_DOCS, default 100000).
#include <benchmark/benchmark.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/SuggestionRequest.h"
#include "agent/profiling.h"
#include "agent/texttoquery.h"
#include "ixo.h"
#include "support/lang2util.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"

namespace {

std::string dataDir() {
    return std::string(SAPIOLUX_SOURCE_DIR) + "/agent/data";
}

// English prose: the licence texts Debian installs, repeated to the wanted size.
std::string prose(size_t bytes) {
    std::string source;
    for (const char* f :
         {"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/Apache-2.0"}) {
        std::ifstream in(f);
        std::stringstream ss;
        ss << in.rdbuf();
        source += ss.str();
    }
    if (source.empty()) source = "The quick brown fox jumps over the lazy dog. ";
    std::string out;
    while (out.size() < bytes) out += source;
    out.resize(bytes);
    return out;
}

struct Data {
    std::unique_ptr<agent::TermWeightTable> weights;
    Data() {
        lang2LoadStoplist((dataDir() + "/english.dat").c_str());
        weights = agent::TermWeightTable::load(dataDir() + "/enc.dat");
    }
};

Data& data() {
    static Data d;
    return d;
}

void BM_BuildQuery64K(benchmark::State& state) {
    std::string text = prose(64 * 1024);
    agent::UserProfile profile = agent::profileCreate();
    agent::QueryBuilder builder(data().weights.get(), {}, &profile);
    agent::QueryOptions options;
    for (auto _ : state) benchmark::DoNotOptimize(builder.build(text, options));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}
BENCHMARK(BM_BuildQuery64K)->Unit(benchmark::kMillisecond);

// ixoserver in a temporary home, filled with generated documents once.
class Server {
  public:
    Server()
        : child_(std::string(SAPIOLUX_BIN_DIR) + "/ixoserver", home_.path(),
                 "QUERYPORT=0\nINDEXPORT=0\n") {
        queryPort = child_.queryPort;
        indexPort = child_.indexPort;
        if (queryPort == 0) {
            std::fprintf(stderr, "bench_agent: ixoserver did not start\n");
            std::exit(1);
        }
        fill();
    }
    ~Server() {
        // Stopped as a user stops it; the fixture ends it if that takes over ten seconds.
        child_.signal(SIGTERM);
        child_.waitExit(std::chrono::seconds(10));
    }
    void fill() {
        const char* env = std::getenv("SAPIOLUX_BENCH_DOCS");
        int docs = env ? std::atoi(env) : 100000;
        std::istringstream words(prose(200 * 1024));
        std::vector<std::string> vocabulary;
        for (std::string w; words >> w;) vocabulary.push_back(w);
        std::mt19937 random(7);
        IXO ixo{};
        ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", queryPort, indexPort);
        std::string batch;
        for (int d = 0; d < docs; ++d) {
            batch += "#IXOREFERENCE doc" + std::to_string(d) + "\n#IXOTITLE Document " +
                     std::to_string(d) + "\n#IXOCONTENT\n";
            size_t start = random() % (vocabulary.size() - 100);
            for (size_t w = 0; w < 80; ++w) batch += vocabulary[start + w] + " ";
            batch += "\n#IXOENDDOC\n";
            if ((d + 1) % 2000 == 0 || d + 1 == docs) {
                char reply[256];
                ixoIndexLocalBuffer(&ixo, batch.c_str(), nullptr, reply, sizeof reply);
                batch.clear();
            }
        }
        char* finished = nullptr;
        ixoFinishedIndex(&ixo, &finished);
        if (finished) memFree(finished);
        ixoDestroyIxo(&ixo);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        documents = docs;
    }
    int queryPort = 0, indexPort = 0, documents = 0;

  private:
    testing_support::TempDir home_;
    testing_support::ServerChild child_;
};

void BM_SuggestRoad(benchmark::State& state) {
    static Server server;
    std::string text = prose(64 * 1024).substr(20000, 3000);  // a window's worth of text
    agent::UserProfile profile = agent::profileCreate();
    agent::QueryBuilder builder(data().weights.get(), {}, &profile);
    agent::CSuggestionRequest request;
    int32_t status = -1;
    for (auto _ : state) {
        agent::BuiltQuery query = builder.build(text, agent::QueryOptions{});
        agent::RequestParams p;
        p.host = "127.0.0.1";
        p.port = server.queryPort;
        p.encrypt = 1;
        p.queryText = query.text;
        request.Fill(p);
        status = request.RunAndWait();
        IxoQueryResult result{};
        std::string printed;
        if (request.CopyResult(&result))
            for (int32_t i = 0; i < result.hitCount && i < 6; ++i)
                printed += agent::suggestionLine(result.records[i], "", true) + "\n    " +
                           result.records[i].name + "\n";
        ixoDestroyQueryResult(&result);
        benchmark::DoNotOptimize(printed);
    }
    state.counters["documents"] = server.documents;
    state.counters["status"] = status;
}
BENCHMARK(BM_SuggestRoad)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
