// Throughput of the results-text parser and of the content-to-query conversion.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ixo_results.h"
#include "ixo_text.h"

namespace {

// A full-form reply of 100 records with a few further fields each, as the personal
// server sends for a suggestion request.
std::string fullFormReply() {
    std::string s = "numhits=100\ntotalhits=4711\n";
    char line[256];
    for (int i = 0; i < 100; ++i) {
        std::snprintf(line, sizeof line,
                      "Doc_name=http://intranet.example.com/projects/archive/%04d/report.html\n"
                      "URL_title=Quarterly report %d on the state of the archive project\n"
                      "Doc_id=%d\nDoc_weight=%d\nlinks=ARCHIV PROJECT REPORT QUARTER\ndbase=1\n",
                      i, i, 100000 + i, 99 - i % 90);
        s += line;
        std::snprintf(line, sizeof line,
                      "Author=Jane Example\nDate=2001-0%d-1%d\nSize=%d\n"
                      "Summary=The archive project moved %d boxes of paper into the new store.\n",
                      1 + i % 9, i % 10, 2048 + 17 * i, i);
        s += line;
    }
    return s;
}

void BM_GetResultsFromBuffer(benchmark::State& state) {
    const std::string reply = fullFormReply();
    for (auto _ : state) {
        // The parse works in place and takes the reply over, so each round needs its
        // own copy, as each real reply is a fresh block.
        char* text = memStrNDup(reply.data(), reply.size());
        IxoQueryResult result;
        if (ixoGetResultsFromBuffer(&result, text, 1) != 1 || result.hitCount != 100)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(result.records);
        ixoDestroyQueryResult(&result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(reply.size()));
}
BENCHMARK(BM_GetResultsFromBuffer);

void BM_WriteResultsArrayToBuffer(benchmark::State& state) {
    std::string reply = fullFormReply();
    IxoQueryResult result;
    ixoGetResultsFromBuffer(&result, memStrNDup(reply.data(), reply.size()), 1);
    for (auto _ : state) {
        char* text = nullptr;
        ixoWriteResultsArrayToBuffer(result.hitCount, result.records, &text);
        benchmark::DoNotOptimize(text);
        memFree(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(reply.size()));
    ixoDestroyQueryResult(&result);
}
BENCHMARK(BM_WriteResultsArrayToBuffer);

// 64 KB of English prose (a paragraph of our own, repeated), with some accented
// letters and markup as window texts have.
std::string englishText() {
    const std::string paragraph =
        "When the committee met again in the spring, the members agreed that the old "
        "catalogue could no longer be kept by hand. Every week brought new letters, "
        "reports and drawings, and the clerks were running out of shelves as well as "
        "patience. A small group was asked to find out how other libraries managed their "
        "collections, which machines they used, and what the cost of such a change would "
        "be. Their findings, presented in <b>September</b>, surprised everyone: the "
        "caf\xe9 next door kept better records of its customers than the library kept of "
        "its books! The group suggested scanning the indexes first, then the most "
        "requested documents, and finally the rest of the archive [about 40,000 items].\n\n";
    std::string s;
    while (s.size() < 64 * 1024) s += paragraph;
    s.resize(64 * 1024);
    return s;
}

void BM_ProcessContentToQuery(benchmark::State& state) {
    const std::string text = englishText();
    for (auto _ : state) {
        char* query = nullptr;
        ixoProcessContentToQuery(text.c_str(), &query);
        benchmark::DoNotOptimize(query);
        memFree(query);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ProcessContentToQuery);

// Every word of the text goes through the filter and stemmer (no 200-word limit).
void BM_ProcessContentToQueryAllWords(benchmark::State& state) {
    const std::string text = englishText();
    for (auto _ : state) {
        char* query = nullptr;
        ixoProcessContentToQueryWithTruncate(text.c_str(), 256, &query);
        benchmark::DoNotOptimize(query);
        memFree(query);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ProcessContentToQueryAllWords);

}  // namespace

BENCHMARK_MAIN();
