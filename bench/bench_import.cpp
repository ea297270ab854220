// Importing a folder of text files into an IDX file: bytes per second through the whole
// per-document flow (text handler, rules, checksum, breaking, appending).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

#include "imex.h"
#include "tests/common/tempdir.h"

namespace {

// 10,000 files of about 10 KB of word-like text in 100 subfolders, made once.
struct Corpus {
    testing_support::TempDir dir;
    int64_t bytes = 0;
    Corpus() {
        std::mt19937 rng(42);
        const char* words[] = {"retrieval", "document", "import",  "kangaroo", "index",
                               "server",    "query",    "section", "the",      "of",
                               "and",       "a",        "text",    "field",    "value"};
        for (int d = 0; d < 100; ++d) {
            std::filesystem::path folder = dir.path() / "docs" / std::to_string(d);
            std::filesystem::create_directories(folder);
            for (int f = 0; f < 100; ++f) {
                std::string text;
                while (text.size() < 10240) {
                    text += words[rng() % 15];
                    text += (rng() % 12 == 0) ? ". " : " ";
                    if (rng() % 80 == 0) text += "\n";
                }
                testing_support::writeWholeFile((folder / (std::to_string(f) + ".txt")).string(),
                                                text);
                bytes += static_cast<int64_t>(text.size());
            }
        }
    }
};

void BM_ImportFolder(benchmark::State& state) {
    static Corpus corpus;
    imexInit();
    const std::string input = (corpus.dir.path() / "docs").string() + "/";
    const std::string output = corpus.dir.file("out.idx");
    for (auto _ : state) {
        std::filesystem::remove(output);
        ImportContext* context = imexCreate();
        ImportArgs* args = imargsCreate();
        imargsSetOutputFilename(args, output.c_str());
        imargsRecursiveDirdo(args, 1);
        imargsSetChecksum(args, 1);
        const char* inputs[] = {input.c_str()};
        imargsSetInputs(args, 1, inputs);
        benchmark::DoNotOptimize(imexImport(context, args, nullptr));
        imargsDestroy(args);
        imexDestroy(context);
    }
    state.SetBytesProcessed(state.iterations() * corpus.bytes);
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_ImportFolder)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
