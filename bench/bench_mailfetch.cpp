// Fetching a 100 MB mbox with the mbox fetcher (walk, status map, reference, copy to
// "emailN.eml", side file "emailN.eml.idx"), and the same followed by importing the
// fetched folder into an IDX file: messages per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <random>
#include <string>

#include "imex.h"
#include "mailfetch/emailclient.h"
#include "tests/common/tempdir.h"

namespace {

// About 100 MB of messages of 2 to 8 KB of word-like text, made once.
struct Corpus {
    testing_support::TempDir dir;
    std::string path;
    int64_t bytes = 0;
    int messages = 0;
    Corpus() {
        path = dir.file("Inbox");
        std::mt19937 rng(7);
        const char* words[] = {"meeting",  "report",  "tomorrow", "the",    "of", "and",
                               "project",  "invoice", "kangaroo", "server", "a",  "please",
                               "attached", "review",  "thanks",   "budget", "to", "from"};
        FILE* f = std::fopen(path.c_str(), "wb");
        std::string text;
        while (bytes < 100 * 1000 * 1000) {
            text = "From sender@example.org Mon Dec 13 05:42:55 2010\n";
            text += "From: Sender <sender@example.org>\nTo: you@example.org\n";
            text += "Subject: " + std::string(words[rng() % 18]) + " " + std::to_string(messages) +
                    "\n";
            text += "Message-ID: <" + std::to_string(messages) + "@bench.example.org>\n";
            text += "Date: Mon, 13 Dec 2010 05:42:55 +0000\n\n";
            size_t size = 2048 + rng() % 6144;
            while (text.size() < size) {
                text += words[rng() % 18];
                text += (rng() % 12 == 0) ? ".\n" : " ";
            }
            text += "\n\n";
            std::fwrite(text.data(), 1, text.size(), f);
            bytes += static_cast<int64_t>(text.size());
            ++messages;
        }
        std::fclose(f);
    }
};

Corpus& corpus() {
    static Corpus c;
    return c;
}

// One pass of the mbox fetcher over the file into folder: every message new, so each is
// copied to "emailN.eml" with its side file "emailN.eml.idx".
int fetchAll(const std::string& mbox, const std::string& folder) {
    auto fetcher = mailfetch::createStoreFetcher("mbox");
    fetcher->setStores({mbox});
    if (!fetcher->setFetchDirectory(folder)) return 0;
    fetcher->fetch(std::numeric_limits<int32_t>::max());
    return fetcher->finished() ? fetcher->written() : 0;
}

void BM_MboxFetch(benchmark::State& state) {
    Corpus& c = corpus();
    // Each pass writes into a new folder: the file system's cost of creating files where
    // many were just deleted is not part of a fetch.
    int pass = 0;
    for (auto _ : state) {
        std::string folder = c.dir.file("fetch" + std::to_string(pass++));
        if (fetchAll(c.path, folder) != c.messages) state.SkipWithError("messages lost");
    }
    state.SetBytesProcessed(state.iterations() * c.bytes);
    state.SetItemsProcessed(state.iterations() * c.messages);
}
BENCHMARK(BM_MboxFetch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_MboxFetchAndImport(benchmark::State& state) {
    Corpus& c = corpus();
    imexInit();
    std::string folder = c.dir.file("fetch_import");
    std::string output = c.dir.file("out.idx");
    for (auto _ : state) {
        if (fetchAll(c.path, folder) != c.messages) state.SkipWithError("messages lost");
        std::filesystem::remove(output);
        ImportContext* context = imexCreate();
        ImportArgs* args = imargsCreate();
        imargsSetOutputFilename(args, output.c_str());
        std::string input = folder + "/";
        const char* inputs[] = {input.c_str()};
        imargsSetInputs(args, 1, inputs);
        int32_t rc = imexImport(context, args, nullptr);
        imargsDestroy(args);
        imexDestroy(context);
        std::error_code ec;  // one input, imported; the documents fill most of the file
        if (rc != 1 || std::filesystem::file_size(output, ec) < static_cast<uintmax_t>(c.bytes / 2))
            state.SkipWithError("import failed");
    }
    state.SetBytesProcessed(state.iterations() * c.bytes);
    state.SetItemsProcessed(state.iterations() * c.messages);
}
BENCHMARK(BM_MboxFetchAndImport)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
