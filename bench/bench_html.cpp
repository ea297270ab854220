// HTML import throughput: the scanner alone, the character-set conversion, and whole
// HTML files to IDX documents through imexImport. Pages are the HTML documentation
// installed under /usr/share/doc (a synthetic page when there is none).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imex.h"
#include "import/charset.h"
#include "import/htmlparse.h"
#include "tests/common/tempdir.h"

namespace {

std::vector<std::string> loadPages() {
    std::vector<std::string> pages;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator("/usr/share/doc", ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().extension() == ".html" && it->is_regular_file(ec))
            pages.push_back(testing_support::readWholeFile(it->path().string()));
    }
    if (pages.empty()) {
        std::string page = "<html><head><title>Synthetic page</title></head><body>";
        for (int i = 0; i < 2000; ++i)
            page += "<p>Some <b>text</b> with a <a href=\"x.html\">link</a> and caf&eacute;.</p>\n";
        pages.push_back(page + "</body></html>");
    }
    return pages;
}

const std::vector<std::string>& pages() {
    static const std::vector<std::string> p = loadPages();
    return p;
}

int64_t totalBytes() {
    int64_t n = 0;
    for (const auto& p : pages()) n += static_cast<int64_t>(p.size());
    return n;
}

void BM_HtmlScanner(benchmark::State& state) {
    for (auto _ : state) {
        for (const auto& page : pages()) {
            HtmlParseRecord record;
            htmlParse(page, kHtmlDecodeReferences, record);
            benchmark::DoNotOptimize(record.bodyLength);
        }
    }
    state.SetBytesProcessed(state.iterations() * totalBytes());
}
BENCHMARK(BM_HtmlScanner)->Unit(benchmark::kMillisecond);

void BM_CharsetToWindows1252(benchmark::State& state) {
    for (auto _ : state) {
        for (const auto& page : pages()) {
            std::string out = charsetHtmlToWindows1252(page);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * totalBytes());
}
BENCHMARK(BM_CharsetToWindows1252)->Unit(benchmark::kMillisecond);

// Every page as a file of a folder, imported into one IDX file per iteration.
void BM_HtmlFolderToIdx(benchmark::State& state) {
    imexInit();
    testing_support::TempDir dir;
    std::vector<std::string> names;
    for (size_t i = 0; i < pages().size(); ++i) {
        names.push_back(dir.file("page" + std::to_string(i) + ".html"));
        testing_support::writeWholeFile(names.back(), pages()[i]);
    }
    std::vector<const char*> inputs;
    for (const auto& n : names) inputs.push_back(n.c_str());
    const std::string out = dir.file("out.idx");
    for (auto _ : state) {
        std::filesystem::remove(out);
        ImportContext* context = imexCreate();
        ImportArgs* args = imargsCreate();
        imargsSetInputs(args, static_cast<int32_t>(inputs.size()), inputs.data());
        imargsSetOutputFilename(args, out.c_str());
        imargsSetSummaries(args, 2);
        int imported = imexImport(context, args, nullptr);
        benchmark::DoNotOptimize(imported);
        imargsDestroy(args);
        imexDestroy(context);
    }
    state.SetBytesProcessed(state.iterations() * totalBytes());
    state.counters["pages"] = static_cast<double>(pages().size());
}
BENCHMARK(BM_HtmlFolderToIdx)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
