// Fetching a 100 MB mbox the way the mbox fetcher does (walk, reference, copy to
// "emailN.eml", side file "emailN.eml.idx"), and the same followed by importing the
// fetched folder into an IDX file: messages per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "imex.h"
#include "import/mboxparse.h"
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

int fetchAll(const std::string& mbox, const std::string& folder) {
    std::filesystem::create_directories(folder);
    MboxMailbox* box = nullptr;
    if (mboxOpen(mbox.c_str(), &box) != UNIXMAIL_OK) return 0;
    int n = 0;
    int rc;
    while ((rc = mboxNextMessage(box)) != UNIXMAIL_END) {
        if (rc != UNIXMAIL_OK) continue;
        char* ref = mboxMessageReference(box);
        std::string base = folder + "/email" + std::to_string(n);
        if (mboxCopyMessage(box, (base + ".eml").c_str()) == UNIXMAIL_OK) {
            FILE* side = std::fopen((base + ".eml.idx").c_str(), "w");
            std::fprintf(side,
                         "#IXOREFERENCE %s\n#IXOFIELD DocType=\"EMAIL\"\n#IXOFIELD "
                         "Folder=\"Inbox\"\n#IXOFIELD CreationDate=\"%lld\"\n#IXOENDDOC\n",
                         ref, static_cast<long long>(mboxCurrentMessage(box)->time));
            std::fclose(side);
            ++n;
        }
        memFree(ref);
    }
    mboxClose(&box);
    return n;
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
        fetchAll(c.path, folder);
        std::filesystem::remove(output);
        ImportContext* context = imexCreate();
        ImportArgs* args = imargsCreate();
        imargsSetOutputFilename(args, output.c_str());
        std::string input = folder + "/";
        const char* inputs[] = {input.c_str()};
        imargsSetInputs(args, 1, inputs);
        benchmark::DoNotOptimize(imexImport(context, args, nullptr));
        imargsDestroy(args);
        imexDestroy(context);
    }
    state.SetBytesProcessed(state.iterations() * c.bytes);
    state.SetItemsProcessed(state.iterations() * c.messages);
}
BENCHMARK(BM_MboxFetchAndImport)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
