// The agent's query building on window-sized text, and the whole road from text to
// printed suggestions against a local ixoserver holding many documents
// (SAPIOLUX_BENCH_DOCS, default 100000).
#include <benchmark/benchmark.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
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

#include "agent/AppParameters.h"
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

// Suggestion quality of the agent's own road over real documents: the corpus of
// bench/make_corpus.py (IXOBENCH_CORPUS, default build/bench-corpus.tsv; at most
// IXOBENCH_DOCS documents, default 100000) is indexed, and for passages of 200 words
// (IXOBENCH_PASSAGE_WORDS) of random documents (IXOBENCH_PASSAGES, default 300;
// IXOBENCH_NOISE tokens of page chrome mixed in, default none; WordNet's glosses, which the
// term weights are made from, are not asked for) the benchmark counts how often the
// passage's own document comes first:
//   - plain_or: the plain OR of every word of the passage (the server stems them);
//   - agent: default settings, front end A with the shipped weights, the profile
//     updated with every passage, the request of the local source;
//   - agent_other: the same with the weights file IXOBENCH_OTHER_WEIGHTS (for
//     comparing two weight tables), when set.
// Skipped when the corpus file is missing. IXOBENCH_MISSES prints every passage the
// agent road did not find first.
struct CorpusDoc {
    std::string reference;
    std::string text;
    std::vector<std::string> words;
};

std::vector<CorpusDoc> loadCorpus(const std::string& path, size_t maxDocs) {
    std::ifstream in(path);
    std::vector<CorpusDoc> docs;
    std::string line;
    while (docs.size() < maxDocs && std::getline(in, line)) {
        const size_t t1 = line.find('\t');
        const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        if (t2 == std::string::npos) continue;
        CorpusDoc d;
        d.reference = line.substr(0, t1);
        d.text = line.substr(t2 + 1);
        std::istringstream words(d.text);
        for (std::string w; words >> w;) d.words.push_back(std::move(w));
        if (!d.words.empty()) docs.push_back(std::move(d));
    }
    return docs;
}

int firstHitIs(IXO* ixo, const std::string& path, const std::string& reference) {
    IxoQueryResult r{};
    int hit = 0;
    if (ixoDoHttpQueryToStructure(ixo, path.c_str(), &r) == IXO_OK && r.hitCount > 0 &&
        r.records[0].name && reference == r.records[0].name)
        hit = 1;
    ixoDestroyQueryResult(&r);
    return hit;
}

void BM_AgentSuggestionQuality(benchmark::State& state) {
    const char* corpusEnv = std::getenv("IXOBENCH_CORPUS");
    const std::string corpusPath = corpusEnv ? corpusEnv : "build/bench-corpus.tsv";
    const char* docsEnv = std::getenv("IXOBENCH_DOCS");
    const char* passagesEnv = std::getenv("IXOBENCH_PASSAGES");
    std::vector<CorpusDoc> corpus =
        loadCorpus(corpusPath, docsEnv ? std::strtoul(docsEnv, nullptr, 10) : 100000);
    if (corpus.size() < 100) {
        state.SkipWithError(("no corpus at " + corpusPath).c_str());
        return;
    }
    const int passages = passagesEnv ? std::atoi(passagesEnv) : 300;
    const char* wordsEnv = std::getenv("IXOBENCH_PASSAGE_WORDS");
    const size_t length = wordsEnv ? std::strtoul(wordsEnv, nullptr, 10) : 200;
    const char* noiseEnv = std::getenv("IXOBENCH_NOISE");
    const int noise = noiseEnv ? std::atoi(noiseEnv) : 0;
    testing_support::TempDir home;
    // The agent's settings live in hives of their own for the run.
    ::setenv("SAPIOLUX_USER_HIVE_DIR", (home.path() / "user").c_str(), 1);
    ::setenv("SAPIOLUX_MACHINE_HIVE_DIR", (home.path() / "machine").c_str(), 1);
    testing_support::ServerChild server(std::string(SAPIOLUX_BIN_DIR) + "/ixoserver",
                                        home.path() / "server", "QUERYPORT=0\nINDEXPORT=0\n");
    if (server.queryPort == 0) {
        state.SkipWithError("ixoserver did not start");
        return;
    }
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", server.queryPort, server.indexPort);
    std::string batch;
    for (size_t d = 0; d < corpus.size(); ++d) {
        batch += "#IXOREFERENCE " + corpus[d].reference + "\n#IXOCONTENT\n" + corpus[d].text +
                 "\n#IXOENDDOC\n";
        if ((d + 1) % 1000 == 0 || d + 1 == corpus.size()) {
            char reply[256];
            ixoIndexLocalBuffer(&ixo, batch.c_str(), nullptr, reply, sizeof reply);
            batch.clear();
        }
    }
    char* finished = nullptr;
    ixoFinishedIndex(&ixo, &finished);
    if (finished) memFree(finished);
    std::this_thread::sleep_for(std::chrono::seconds(2));

    agent::CAppParameters settings;
    settings.SetConfigFile((home.path() / "Extended.cfg").string());
    settings.Load();
    settings.SetPersonalIxoQueryPort(server.queryPort);
    const agent::QueryOptions options = agent::QueryOptions::fromParameters(settings);
    std::unique_ptr<agent::TermWeightTable> other;
    if (const char* o = std::getenv("IXOBENCH_OTHER_WEIGHTS"))
        other = agent::TermWeightTable::load(o);

    struct Road {
        const agent::TermWeightTable* weights;
        agent::UserProfile profile = agent::profileCreate();
        int first = 0;
    };
    Road roads[2] = {{data().weights.get()}, {other.get()}};
    int plainFirst = 0, asked = 0;
    for (auto _ : state) {
        std::mt19937 rng(12345);
        while (asked < passages) {
            const CorpusDoc& d = corpus[rng() % corpus.size()];
            if (d.reference.rfind("wordnet:", 0) == 0) continue;
            size_t from = d.words.size() > length ? rng() % (d.words.size() - length) : 0;
            std::string passage;
            for (size_t i = from; i < std::min(d.words.size(), from + length); ++i)
                passage += d.words[i] + " ";
            // Page chrome around the passage, as a browser window shows it: addresses,
            // identifiers mixing letters and digits, and mistyped or made-up words.
            std::vector<std::string> words(
                d.words.begin() + static_cast<long>(from),
                d.words.begin() + static_cast<long>(std::min(d.words.size(), from + length)));
            for (int n = 0; n < noise; ++n) {
                auto letters = [&](int count) {
                    std::string w;
                    for (int i = 0; i < count; ++i) w += static_cast<char>('a' + rng() % 26);
                    return w;
                };
                std::string token;
                switch (rng() % 3) {
                    case 0:
                        token = "http://www." + letters(6) + ".com/" + letters(5) + ".html";
                        break;
                    case 1:
                        token = letters(2) + std::to_string(rng() % 1000) + letters(1);
                        break;
                    default:
                        token = letters(5 + static_cast<int>(rng() % 4));
                }
                words.insert(words.begin() + static_cast<long>(rng() % (words.size() + 1)), token);
            }
            passage.clear();
            for (const auto& w : words) passage += w + " ";
            std::string plain = "/qmethod=E&querytext=";
            for (const auto& word : words) {
                for (char c : word)
                    plain += std::isalnum(static_cast<unsigned char>(c))
                                 ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                                 : '+';
                plain += '+';
            }
            plainFirst += firstHitIs(&ixo, plain + "&qnum=6&idnum=0", d.reference);
            for (Road& road : roads) {
                if (!road.weights) continue;
                agent::QueryBuilder builder(road.weights, {}, &road.profile);
                agent::BuiltQuery q = builder.build(passage, options);
                agent::RequestParams p =
                    agent::requestParamsForSource(settings, agent::kSourceLocal, q.text);
                agent::CSuggestionRequest request;
                request.Fill(p);
                IxoQueryResult r{};
                if (request.RunAndWait() == agent::kStatusHits && request.CopyResult(&r) &&
                    r.hitCount > 0 && r.records[0].name && d.reference == r.records[0].name)
                    ++road.first;
                else if (std::getenv("IXOBENCH_MISSES"))
                    std::fprintf(stderr, "miss %s: first %s, query %s\n", d.reference.c_str(),
                                 r.hitCount > 0 && r.records[0].name ? r.records[0].name : "-",
                                 q.text.c_str());
                ixoDestroyQueryResult(&r);
            }
            ++asked;
        }
    }
    ixoDestroyIxo(&ixo);
    server.signal(SIGTERM);
    server.waitExit(std::chrono::seconds(10));
    state.counters["documents"] = static_cast<double>(corpus.size());
    state.counters["passages"] = asked;
    state.counters["plain_or_first_pct"] = 100.0 * plainFirst / std::max(1, asked);
    state.counters["agent_first_pct"] = 100.0 * roads[0].first / std::max(1, asked);
    if (other)
        state.counters["agent_other_first_pct"] = 100.0 * roads[1].first / std::max(1, asked);
}
BENCHMARK(BM_AgentSuggestionQuality)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
