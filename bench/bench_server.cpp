// The personal retrieval server under load: indexing through IXOADDDATA, the agent's
// suggestion query through HTTP and directly on the index, suggestion quality through
// the client library, and 16 concurrent clients.
//
// Corpus: the manual pages installed under /usr/share/man (Debian's man-db and the
// packages of this machine), troff markup stripped, cut into documents of about 300
// words (~2 KB). IXOBENCH_DOCS sets the number of documents (default 100000),
// IXOBENCH_SECONDS the length of the concurrency run (default 60).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xapian.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ixo.h"
#include "server/netserver.h"
#include "server/store.h"
#include "server/terms.h"
#include "tests/common/tempdir.h"

namespace fs = std::filesystem;

namespace {

struct CorpusDoc {
    std::string reference;
    std::string title;
    std::vector<std::string> words;
};

std::string readGz(const fs::path& p) {
    gzFile f = gzopen(p.c_str(), "rb");
    if (!f) return {};
    std::string out;
    char buf[65536];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0 && out.size() < (4u << 20))
        out.append(buf, static_cast<size_t>(n));
    gzclose(f);
    return out;
}

// The words of a manual page without its troff requests and escapes.
std::vector<std::string> manWords(const std::string& text) {
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string_view line(text.data() + pos, eol - pos);
        pos = eol + 1;
        if (line.empty() || line[0] == '.' || line[0] == '\'') continue;
        std::string word;
        for (size_t i = 0; i < line.size(); ++i) {
            char c = line[i];
            if (c == '\\' && i + 1 < line.size()) {
                char e = line[i + 1];
                if (e == 'f' || e == 's')
                    i += 2;  // font and size changes
                else if (e == '(')
                    i += 3;  // two-letter special characters
                else
                    ++i;
                continue;
            }
            if (c == ' ' || c == '\t') {
                if (!word.empty()) words.push_back(std::move(word));
                word.clear();
            } else {
                word += c;
            }
        }
        if (!word.empty()) words.push_back(std::move(word));
    }
    return words;
}

std::vector<CorpusDoc> loadCorpus(size_t maxDocs) {
    // English pages first, then the translations; links to other pages are skipped and
    // so is any passage whose text was seen already.
    std::vector<fs::path> pages, translated;
    for (const auto& e : fs::recursive_directory_iterator("/usr/share/man")) {
        if (e.is_symlink() || !e.is_regular_file() || e.path().extension() != ".gz") continue;
        const std::string dir = e.path().parent_path().parent_path().filename().string();
        (dir == "man" ? pages : translated).push_back(e.path());
    }
    std::sort(pages.begin(), pages.end());
    std::sort(translated.begin(), translated.end());
    pages.insert(pages.end(), translated.begin(), translated.end());
    std::vector<CorpusDoc> docs;
    std::set<size_t> seen;
    for (const auto& p : pages) {
        auto words = manWords(readGz(p));
        for (size_t start = 0, part = 0; start + 120 < words.size() && docs.size() < maxDocs;
             start += 300, ++part) {
            CorpusDoc d;
            d.reference = "man:" + p.parent_path().filename().string() + "/" +
                          p.filename().string() + "#" + std::to_string(part);
            d.title = p.stem().string() + " part " + std::to_string(part);
            d.words.assign(words.begin() + static_cast<long>(start),
                           words.begin() + static_cast<long>(std::min(words.size(), start + 300)));
            std::string text;
            for (const auto& w : d.words) text += w + ' ';
            if (!seen.insert(std::hash<std::string>()(text)).second) continue;
            docs.push_back(std::move(d));
        }
        if (docs.size() >= maxDocs) break;
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

long rssKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

struct Fixture {
    testing_support::TempDir home;
    std::unique_ptr<ixoserver::NetServer> server;
    std::thread runner;
    std::vector<CorpusDoc> corpus;
    std::vector<std::string> agentQueries;  // "/qmethod=E..." requests of 40 weighted terms
    std::vector<std::vector<std::string>> agentTerms;

    void start() {
        ixoserver::ServerConfig config;
        config.home = home.path().string();
        config.queryPort = 0;
        config.indexPort = 0;
        config.workerThreads = 8;
        config.maxBodyBytes = 256u << 20;
        server = std::make_unique<ixoserver::NetServer>(config);
        std::string error;
        if (!server->start(error)) {
            std::fprintf(stderr, "server: %s\n", error.c_str());
            std::exit(1);
        }
        runner = std::thread([this] { server->run(); });
    }
    void stop() {
        server->requestStop();
        runner.join();
    }
};

Fixture* gFix = nullptr;

void BM_IndexAddData(benchmark::State& state) {
    auto& f = *gFix;
    size_t next = 0;
    const auto t0 = std::chrono::steady_clock::now();
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
            rawExchange(f.server->indexPort(), "POST /IXOADDDATA?  HTTP/1.0\r\nContent-Length: " +
                                                   std::to_string(body.size()) + "\r\n\r\n" + body);
        if (reply.find("INDEXID") == std::string::npos) state.SkipWithError("add failed");
        next += batch;
        state.counters["bytes_per_doc"] = static_cast<double>(body.size()) / batch;
    }
    rawExchange(f.server->indexPort(), "GET /IXOFINISHEDINDEX HTTP/1.0\r\n\r\n");
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["docs_per_s"] = static_cast<double>(next) / wall;
}

void BM_SuggestHttp(benchmark::State& state) {
    auto& f = *gFix;
    std::vector<double> ms;
    size_t i = 0;
    for (auto _ : state) {
        const std::string& q = f.agentQueries[i++ % f.agentQueries.size()];
        auto t0 = std::chrono::steady_clock::now();
        std::string reply = rawExchange(f.server->queryPort(), "GET " + q + " HTTP/1.0\r\n\r\n");
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        if (reply.find("numhits=") == std::string::npos) state.SkipWithError("query failed");
    }
    state.counters["p50_ms"] = percentile(ms, 0.5);
    state.counters["p99_ms"] = percentile(ms, 0.99);
}

void BM_SuggestDirect(benchmark::State& state) {
    auto& f = *gFix;
    std::vector<double> ms;
    size_t i = 0;
    Xapian::Database db((fs::path(f.home.path()) / "ixo" / "data" / "xapian").string());
    for (auto _ : state) {
        const auto& terms = f.agentTerms[i++ % f.agentTerms.size()];
        auto t0 = std::chrono::steady_clock::now();
        std::vector<Xapian::Query> parts;
        for (const auto& t : terms) parts.emplace_back(ixoserver::indexForm(t));
        Xapian::Enquire enquire(db);
        enquire.set_query(Xapian::Query(Xapian::Query::OP_OR, parts.begin(), parts.end()));
        Xapian::MSet mset = enquire.get_mset(0, 6);
        size_t bytes = 0;
        for (auto it = mset.begin(); it != mset.end(); ++it)
            bytes += it.get_document().get_data().size();
        benchmark::DoNotOptimize(bytes);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    state.counters["p50_ms"] = percentile(ms, 0.5);
    state.counters["p99_ms"] = percentile(ms, 0.99);
}

void BM_SuggestionQuality(benchmark::State& state) {
    auto& f = *gFix;
    IXO ixo{};
    ixoCreateIxo(&ixo, "127.0.0.1", nullptr, f.server->queryPort(), f.server->indexPort());
    std::mt19937 rng(12345);
    Xapian::Database db((fs::path(f.home.path()) / "ixo" / "data" / "xapian").string());
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
                    std::string reply =
                        rawExchange(f.server->queryPort(), "GET " + q + " HTTP/1.0\r\n\r\n");
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
    state.counters["rss_mb"] = rssKb() / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const size_t docs = std::getenv("IXOBENCH_DOCS")
                            ? std::strtoul(std::getenv("IXOBENCH_DOCS"), nullptr, 10)
                            : 100000;
    Fixture fix;
    gFix = &fix;
    fix.corpus = loadCorpus(docs);
    std::fprintf(stderr, "corpus: %zu documents\n", fix.corpus.size());
    if (fix.corpus.size() < 100) return 1;
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
    fix.start();
    const int64_t batches = static_cast<int64_t>((fix.corpus.size() + 199) / 200);
    benchmark::RegisterBenchmark("BM_IndexAddData", BM_IndexAddData)
        ->Iterations(batches)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SuggestHttp", BM_SuggestHttp)
        ->Iterations(2000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SuggestDirect", BM_SuggestDirect)
        ->Iterations(2000)
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
