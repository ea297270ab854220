// Parsing IDX text as the server receives it in IXOADDDATA bodies: the server's own
// parser against the shared IDX reader of the import library used per document (split
// at "#IXOENDDOC" lines, each document read into a SrcFileSpec and copied over).
// 10,000 documents of about 2 KB each per iteration.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "import/idxreader.h"
#include "import/srcfile_spec.h"
#include "server/idxdoc.h"

namespace {

const std::string& corpus() {
    static const std::string text = [] {
        static const char* words[] = {"wombat",    "burrow",  "night",  "grass",   "southern",
                                      "marsupial", "digging", "tunnel", "habitat", "forest",
                                      "ranger",    "survey",  "colony", "season",  "weather"};
        std::string out;
        unsigned seed = 7;
        for (int d = 0; d < 10000; ++d) {
            out += "#IXOREFERENCE file:///home/user/docs/note" + std::to_string(d) + ".txt\n";
            out += "#IXOTITLE Field note " + std::to_string(d) + "\n";
            out += "#IXOTYPE TEXT\n#IXODATE 2024-03-0" + std::to_string(1 + d % 9) + "\n";
            out += "#IXOFIELD author=\"Ann Lee\"\n#IXOFIELD DOCTYPE=\"Note\"\n";
            out += "#IXOCONTENT\n";
            size_t start = out.size();
            while (out.size() - start < 1900) {
                seed = seed * 1103515245u + 12345u;
                out += words[(seed >> 16) % 15];
                out += (seed >> 8) % 12 == 0 ? ".\n" : " ";
            }
            out += "\n#IXOENDDOC\n";
        }
        out += "#IXOENDDATA\n";
        return out;
    }();
    return text;
}

// The shared reader used per document, with the server's record filled from it.
std::vector<ixoserver::IdxDocument> parseWithSharedReader(std::string_view text) {
    std::vector<ixoserver::IdxDocument> docs;
    const size_t stop = text.find("\n#IXOENDDATA");
    if (stop != std::string_view::npos) text = text.substr(0, stop + 1);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\n#IXOENDDOC", pos);
        std::string_view chunk = text.substr(pos, end == std::string_view::npos ? end : end - pos);
        SrcFileSpec spec;
        idxReadDocument(&spec, chunk);
        ixoserver::IdxDocument doc;
        if (spec.reference) doc.reference = std::move(*spec.reference);
        if (spec.title) doc.title = std::move(*spec.title);
        if (spec.content) doc.content = std::move(*spec.content);
        if (spec.type) doc.type = std::move(*spec.type);
        if (spec.date) doc.date = std::move(*spec.date);
        if (spec.dbname) doc.dbname = std::move(*spec.dbname);
        if (spec.filename) doc.filename = std::move(*spec.filename);
        doc.section = spec.section;
        for (size_t i = 0; i < spec.fieldNames.size(); ++i)
            doc.fields.emplace_back(std::move(spec.fieldNames[i]), std::move(spec.fieldValues[i]));
        if (!doc.reference.empty() || !doc.title.empty() || !doc.content.empty())
            docs.push_back(std::move(doc));
        if (end == std::string_view::npos) break;
        size_t next = text.find('\n', end + 1);
        pos = next == std::string_view::npos ? text.size() : next + 1;
    }
    return docs;
}

void BM_ServerParser(benchmark::State& state) {
    const std::string& text = corpus();
    for (auto _ : state) {
        auto docs = ixoserver::parseIdxText(text);
        if (docs.size() != 10000) state.SkipWithError("wrong document count");
        benchmark::DoNotOptimize(docs.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_ServerParser)->Unit(benchmark::kMillisecond);

void BM_SharedReaderPerDocument(benchmark::State& state) {
    const std::string& text = corpus();
    for (auto _ : state) {
        auto docs = parseWithSharedReader(text);
        if (docs.size() != 10000) state.SkipWithError("wrong document count");
        benchmark::DoNotOptimize(docs.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_SharedReaderPerDocument)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
