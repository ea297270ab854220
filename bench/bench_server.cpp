// The personal retrieval server under load: indexing through IXOADDDATA, the agent's
// suggestion query through HTTP and directly on the index, suggestion quality through
// the client library, and 16 concurrent clients.
//
// Corpus: the file bench/make_corpus.py makes from the documentation of Debian packages,
// documents of about 300 words (~2 KB). IXOBENCH_CORPUS names it (default
// build/bench-corpus.tsv), IXOBENCH_DOCS limits the number of documents (default 100000),
// IXOBENCH_SECONDS sets the length of the concurrency run (default 60).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xapian.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ixo.h"
#include "server/store.h"
#include "server/terms.h"
#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;

namespace {

struct CorpusDoc {
    std::string reference;
    std::string title;
    std::vector<std::string> words;
};

// Reads the corpus file of bench/make_corpus.py: one document per line,
// "reference<TAB>title<TAB>words". At most maxDocs documents.
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
        d.title = line.substr(t1 + 1, t2 - t1 - 1);
        std::istringstream words(line.substr(t2 + 1));
        for (std::string w; words >> w;) d.words.push_back(std::move(w));
        if (!d.words.empty()) docs.push_back(std::move(d));
    }
    return docs;
}

std::string joinWords(const std::vector<std::string>& w, size_t from, size_t count) {
    std::string out;
    for (size_t i = from; i < std::min(w.size(), from + count); ++i) {
        if (!out.empty()) out += ' ';
        out += w[i];
    }
    return out;
}

std::string rawExchange(int port, const std::string& raw) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return {};
    }
    ::send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
    std::string reply;
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return reply;
}

long rssKb(const std::string& statusFile) {
    std::ifstream in(statusFile);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// User plus system CPU seconds of a process.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

struct Fixture {
    testing_support::TempDir home;
    std::optional<testing_support::ServerChild> server;
    pid_t pid = -1;
    int queryPort = 0, indexPort = 0;
    std::vector<CorpusDoc> corpus;
    std::vector<std::string> agentQueries;  // "/qmethod=E..." requests of 40 weighted terms
    std::vector<std::vector<std::string>> agentTerms;

    // The server program, as a user runs it, in a temporary home on free ports.
    bool start() {
        server.emplace(IXOSERVER_BIN, home.path(),
                       "QUERYPORT=0\nINDEXPORT=0\nWORKERTHREADS=8\nMAXBODYBYTES=268435456\n");
        pid = server->pid();
        queryPort = server->queryPort;
        indexPort = server->indexPort;
        return queryPort != 0;
    }
    void stop() {
        rawExchange(queryPort, "GET /IXOSHUTDOWN HTTP/1.0\r\n\r\n");
        server->waitExit();
    }
    long serverRssKb() const { return rssKb("/proc/" + std::to_string(pid) + "/status"); }
    std::string indexPath() const { return (home.path() / "ixo" / "data" / "xapian").string(); }
};

Fixture* gFix = nullptr;

void BM_IndexAddData(benchmark::State& state) {
    auto& f = *gFix;
    size_t next = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = cpuSeconds(f.pid);
    for (auto _ : state) {
        std::string body;
        size_t batch = std::min<size_t>(200, f.corpus.size() - next);
        for (size_t i = next; i < next + batch; ++i) {
            const auto& d = f.corpus[i];
            body += "#IXOREFERENCE " + d.reference + "\n#IXOTITLE\n" + d.title + "\n#IXOCONTENT\n" +
                    joinWords(d.words, 0, d.words.size()) + "\n#IXOENDDOC\n";
        }
        body += "#IXOENDDATA\n";
        std::string reply =
            rawExchange(f.indexPort, "POST /IXOADDDATA?  HTTP/1.0\r\nContent-Length: " +
                                         std::to_string(body.size()) + "\r\n\r\n" + body);
        if (reply.find("INDEXID") == std::string::npos) state.SkipWithError("add failed");
        next += batch;
        state.counters["bytes_per_doc"] = static_cast<double>(body.size()) / batch;
    }
    rawExchange(f.indexPort, "GET /IXOFINISHEDINDEX HTTP/1.0\r\n\r\n");
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["docs_per_s"] = static_cast<double>(next) / wall;
    state.counters["docs_per_server_cpu_s"] =
        static_cast<double>(next) / (cpuSeconds(f.pid) - cpu0);
}

// The agent's query through HTTP, the same OR query run by Xapian's matcher on the index
// in this process, and the same query scored in this process by the server's own
// suggestion scoring (rankAnyTerm), in turn, so that all three see the same load on a
// shared machine. HTTP against the in-process scoring is the cost of the server layer.
void BM_SuggestHttpVsDirect(benchmark::State& state) {
    auto& f = *gFix;
    std::vector<double> http, direct, same;
    size_t i = 0;
    Xapian::Database db(f.indexPath());
    ixoserver::DocLengthTable lengths;
    lengths.revision = db.get_revision();
    lengths.averageLength = db.get_avlength();
    lengths.documents = db.get_doccount();
    lengths.lengths.assign(db.get_lastdocid() + 1, 0);
    for (auto it = db.postlist_begin(""); it != db.postlist_end(""); ++it)
        lengths.lengths[*it] = it.get_doclength();
    const double cpu0 = cpuSeconds(f.pid);
    for (auto _ : state) {
        const size_t k = i++ % f.agentQueries.size();
        auto t0 = std::chrono::steady_clock::now();
        std::string reply =
            rawExchange(f.queryPort, "GET " + f.agentQueries[k] + " HTTP/1.0\r\n\r\n");
        auto t1 = std::chrono::steady_clock::now();
        if (reply.find("numhits=") == std::string::npos) state.SkipWithError("query failed");
        std::vector<Xapian::Query> parts;
        for (const auto& t : f.agentTerms[k]) parts.emplace_back(ixoserver::indexForm(t));
        Xapian::Enquire enquire(db);
        enquire.set_query(Xapian::Query(Xapian::Query::OP_OR, parts.begin(), parts.end()));
        Xapian::MSet mset = enquire.get_mset(0, 6);
        size_t bytes = 0;
        for (auto it = mset.begin(); it != mset.end(); ++it)
            bytes += it.get_document().get_data().size();
        auto t2 = std::chrono::steady_clock::now();
        std::vector<std::pair<std::string, double>> weighted;
        for (const auto& t : f.agentTerms[k]) weighted.emplace_back(ixoserver::indexForm(t), 1.0);
        for (const auto& hit : ixoserver::rankAnyTerm(db, lengths, weighted, 0, 6, 0, nullptr))
            bytes += db.get_document(hit.id).get_data().size();
        benchmark::DoNotOptimize(bytes);
        auto t3 = std::chrono::steady_clock::now();
        http.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        direct.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        same.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
    }
    state.counters["http_p50_ms"] = percentile(http, 0.5);
    state.counters["http_p99_ms"] = percentile(http, 0.99);
    state.counters["direct_p50_ms"] = percentile(direct, 0.5);
    state.counters["direct_p99_ms"] = percentile(direct, 0.99);
    state.counters["same_p50_ms"] = percentile(same, 0.5);
    state.counters["same_p99_ms"] = percentile(same, 0.99);
    state.counters["server_cpu_ms_per_query"] =
        1000.0 * (cpuSeconds(f.pid) - cpu0) / std::max<size_t>(1, i);
    state.counters["p50_ratio"] = percentile(http, 0.5) / std::max(1e-9, percentile(direct, 0.5));
    state.counters["p50_ratio_same"] =
        percentile(http, 0.5) / std::max(1e-9, percentile(same, 0.5));
}

void BM_SuggestionQuality(benchmark::State& state) {
    auto& f = *gFix;
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, f.queryPort, f.indexPort);
    std::mt19937 rng(12345);
    Xapian::Database db(f.indexPath());
    int first = 0, top6 = 0, plainFirst = 0, asked = 0;
    for (auto _ : state) {
        first = top6 = plainFirst = asked = 0;
        for (int k = 0; k < 500; ++k) {
            const auto& d = f.corpus[rng() % f.corpus.size()];
            size_t from = d.words.size() > 200 ? rng() % (d.words.size() - 200) : 0;
            std::string passage = joinWords(d.words, from, 200);
            IxoQueryResult r{};
            if (ixoSuggestOnTextToStructure(&ixo, passage.c_str(), "", "", "", "", 6, 0, 0, 0,
                                            &r) == 1) {
                for (int h = 0; h < r.hitCount; ++h) {
                    if (d.reference != r.records[h].name) continue;
                    if (h == 0) ++first;
                    ++top6;
                    break;
                }
            }
            ixoDestroyQueryResult(&r);
            // The plain OR query of all the passage's words, for comparison.
            std::vector<std::string> terms;
            ixoserver::textToTerms(passage, terms);
            std::vector<Xapian::Query> parts;
            for (const auto& t : terms) parts.emplace_back(ixoserver::indexForm(t));
            Xapian::Enquire enquire(db);
            enquire.set_query(Xapian::Query(Xapian::Query::OP_OR, parts.begin(), parts.end()));
            Xapian::MSet m = enquire.get_mset(0, 1);
            if (!m.empty()) {
                ixoserver::IdxDocument doc;
                ixoserver::decodeDocData(m.begin().get_document().get_data(), doc);
                if (doc.reference == d.reference) ++plainFirst;
            }
            ++asked;
        }
    }
    ixoDestroyIxo(&ixo);
    state.counters["first_pct"] = 100.0 * first / std::max(1, asked);
    state.counters["top6_pct"] = 100.0 * top6 / std::max(1, asked);
    state.counters["plain_or_first_pct"] = 100.0 * plainFirst / std::max(1, asked);
}

void BM_Concurrent16(benchmark::State& state) {
    auto& f = *gFix;
    const int seconds =
        std::getenv("IXOBENCH_SECONDS") ? std::atoi(std::getenv("IXOBENCH_SECONDS")) : 60;
    std::atomic<long> ok{0}, errors{0};
    for (auto _ : state) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::vector<std::thread> clients;
        for (int c = 0; c < 16; ++c)
            clients.emplace_back([&, c] {
                size_t i = static_cast<size_t>(c) * 97;
                while (std::chrono::steady_clock::now() < until) {
                    const std::string& q = f.agentQueries[i++ % f.agentQueries.size()];
                    std::string reply = rawExchange(f.queryPort, "GET " + q + " HTTP/1.0\r\n\r\n");
                    if (reply.find(" 200 ") != std::string::npos &&
                        reply.find("numhits=") != std::string::npos)
                        ++ok;
                    else
                        ++errors;
                }
            });
        for (auto& t : clients) t.join();
    }
    state.counters["requests_per_s"] = static_cast<double>(ok) / seconds;
    state.counters["errors"] = static_cast<double>(errors);
    state.counters["server_rss_mb"] = f.serverRssKb() / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const size_t docs = std::getenv("IXOBENCH_DOCS")
                            ? std::strtoul(std::getenv("IXOBENCH_DOCS"), nullptr, 10)
                            : 100000;
    Fixture fix;
    gFix = &fix;
    const char* corpusEnv = std::getenv("IXOBENCH_CORPUS");
    const std::string corpusPath = corpusEnv ? corpusEnv : "build/bench-corpus.tsv";
    fix.corpus = loadCorpus(corpusPath, docs);
    std::fprintf(stderr, "corpus: %zu documents from %s\n", fix.corpus.size(), corpusPath.c_str());
    if (fix.corpus.size() < 100) {
        std::fprintf(stderr,
                     "bench_server: the corpus %s is missing or holds under 100 documents; "
                     "make it with bench/make_corpus.py (see its --help)\n",
                     corpusPath.c_str());
        return 1;
    }
    // The agent's queries: 40 weighted terms of a 200-word passage, six results.
    std::mt19937 rng(777);
    for (int i = 0; i < 2000; ++i) {
        const auto& d = fix.corpus[rng() % fix.corpus.size()];
        char* q = nullptr;
        if (ixoProcessContentToQuery(joinWords(d.words, 0, 200).c_str(), &q) != 1 || !q) continue;
        std::vector<std::string> terms;
        std::string text;
        for (char* p = std::strtok(q, "+"); p && terms.size() < 40; p = std::strtok(nullptr, "+")) {
            std::string t(p);
            if (!t.empty() && t.back() == '~') t.pop_back();
            if (t.empty()) continue;
            terms.push_back(t);
            text += t + "~+";
        }
        memFree(q);
        fix.agentTerms.push_back(terms);
        fix.agentQueries.push_back("/qmethod=E&querytext=" + text +
                                   "&qnum=6&idnum=0&fromdate=-1&todate=0&attachto=-1");
    }
    if (!fix.start()) {
        std::fprintf(stderr, "bench_server: %s did not start\n", IXOSERVER_BIN);
        return 1;
    }
    const int64_t batches = static_cast<int64_t>((fix.corpus.size() + 199) / 200);
    benchmark::RegisterBenchmark("BM_IndexAddData", BM_IndexAddData)
        ->Iterations(batches)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SuggestHttpVsDirect", BM_SuggestHttpVsDirect)
        ->Iterations(2000)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SuggestionQuality", BM_SuggestionQuality)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Concurrent16", BM_Concurrent16)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    fix.stop();
    benchmark::Shutdown();
    return 0;
}
