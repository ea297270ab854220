// IDX text: building a document from a SrcFileSpec (plain and broken into sections) and
// reading IDX text back (the client's ContentRecord reader and the import reader).
// Throughput is counted in bytes of document content.
#include <benchmark/benchmark.h>

#include <string>

#include "contentrecord.h"
#include "import/idxreader.h"
#include "import/srcfile_spec.h"

namespace {

// Prose-like content: sentences of words in lines of about 70 characters.
std::string makeContent(size_t bytes) {
    static const char* words[] = {"retrieval", "of",       "documents", "the",   "server",
                                  "index",     "suggests", "a",         "query", "text",
                                  "similar",   "content",  "and",       "title", "section"};
    std::string out;
    out.reserve(bytes + 80);
    size_t line = 0;
    for (unsigned i = 0; out.size() < bytes; ++i) {
        const char* w = words[(i * 7 + i / 5) % 15];
        out += w;
        line += std::char_traits<char>::length(w) + 1;
        if (i % 11 == 10)
            out += ". ";
        else if (line > 70) {
            out += '\n';
            line = 0;
        } else {
            out += ' ';
        }
    }
    return out;
}

SrcFileSpec makeSpec(size_t contentBytes) {
    SrcFileSpec s;
    srcFileSpecSetReference(&s, "file:///bench/document.txt");
    srcFileSpecSetTitle(&s, "A benchmark document");
    srcFileSpecSetType(&s, "TEXT");
    srcFileSpecSetDate(&s, "1020304050");
    srcFileSpecSetDbname(&s, "Database1");
    srcFileSpecSetStorecontent(&s, "yes");
    for (int i = 0; i < 20; ++i)
        srcFileSpecSetField(&s, ("Field" + std::to_string(i)).c_str(), "a short field value");
    srcFileSpecSetContent(&s, makeContent(contentBytes));
    return s;
}

void BM_BuildText(benchmark::State& state) {
    SrcFileSpec s = makeSpec(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        char* text = srcFileSpecBuildText(&s);
        benchmark::DoNotOptimize(text);
        memFree(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BuildText)->Arg(64 << 10)->Arg(1 << 20)->Arg(8 << 20);

void BM_BuildTextBroken(benchmark::State& state) {
    SrcFileSpec s = makeSpec(static_cast<size_t>(state.range(0)));
    IdxBreakOptions breaking;
    breaking.lowerWords = 160;
    breaking.upperWords = 360;
    breaking.documentWords = 600;
    breaking.maxSections = kIdxMaxSections;
    std::string text;
    for (auto _ : state) {
        srcFileSpecBuildText(&s, text, &breaking);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BuildTextBroken)->Arg(1 << 20);

void BM_ReadContentRecord(benchmark::State& state) {
    SrcFileSpec s = makeSpec(static_cast<size_t>(state.range(0)));
    std::string text;
    srcFileSpecBuildText(&s, text);
    for (auto _ : state) {
        ContentRecord* record = nullptr;
        ixoContentTextToRecord(text.data(), text.size(), &record);
        benchmark::DoNotOptimize(record);
        ixoDestroyContentRecord(record);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ReadContentRecord)->Arg(64 << 10)->Arg(1 << 20)->Arg(8 << 20);

void BM_ImportReader(benchmark::State& state) {
    SrcFileSpec s = makeSpec(static_cast<size_t>(state.range(0)));
    std::string text;
    srcFileSpecBuildText(&s, text);
    for (auto _ : state) {
        SrcFileSpec back;
        idxReadDocument(&back, text);
        benchmark::DoNotOptimize(back.content);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ImportReader)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
