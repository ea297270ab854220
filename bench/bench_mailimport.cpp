// Mail import: a folder of 10,000 messages made from the real test messages (each copy
// with its own Message-ID) imported through imexImport, and the MIME walk alone over
// the same messages. Throughput is counted in bytes of message files.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imex.h"
#include "import/emlparse.h"
#include "import/parsers.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMessages = 10000;

std::vector<std::string> realMessages() {
    std::vector<std::string> out;
    const fs::path root = fs::path(SAPIOLUX_SHARED_DIR) / "testdata/mail/eml";
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        out.push_back(ss.str());
    }
    return out;
}

// A copy of raw with its Message-ID header replaced (or added) by one of number n.
std::string withMessageId(const std::string& raw, int n) {
    const std::string id = "Message-ID: <bench-" + std::to_string(n) + "@example.org>\n";
    return id + raw;
}

struct Folder {
    fs::path dir;
    std::vector<std::string> files;
    int64_t bytes = 0;
    Folder() {
        dir = fs::temp_directory_path() /
              ("bench_mailimport_" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir / "mail");
        fs::create_directories(dir / "tmp");
        const std::vector<std::string> real = realMessages();
        for (int i = 0; i < kMessages; ++i) {
            const std::string text = withMessageId(real[i % real.size()], i);
            const fs::path file = dir / "mail" / ("m" + std::to_string(i) + ".eml");
            std::ofstream(file, std::ios::binary) << text;
            files.push_back(file.string());
            bytes += static_cast<int64_t>(text.size());
        }
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Folder& folder() {
    static Folder f;
    return f;
}

void BM_ImportFolder(benchmark::State& state) {
    Folder& f = folder();
    imexInit();
    // Converter programs are looked for in an empty folder: attachments that would need
    // one (PDF, office files) fail the same way whether or not converters were built
    // beside the benchmark, so the figures measure the mail import alone.
    importSetConverterDirectory((f.dir / "no-converters").string());
    const std::string input = (f.dir / "mail").string() + "/";
    const std::string output = (f.dir / "out.idx").string();
    const std::string tmp = (f.dir / "tmp").string() + "/";
    for (auto _ : state) {
        fs::remove(output);
        ImportContext* context = imexCreate();
        ImportArgs* args = imargsCreate();
        const char* inputs[] = {input.c_str()};
        imargsSetInputs(args, 1, inputs);
        imargsSetOutputFilename(args, output.c_str());
        imargsSetTempDirectory(args, tmp.c_str());
        benchmark::DoNotOptimize(imexImport(context, args, nullptr));
        imargsDestroy(args);
        imexDestroy(context);
    }
    state.SetBytesProcessed(state.iterations() * f.bytes);
    state.counters["messages"] = kMessages;
}
BENCHMARK(BM_ImportFolder)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MimeWalk(benchmark::State& state) {
    const std::vector<std::string> real = realMessages();
    int64_t bytes = 0;
    for (const std::string& m : real) bytes += static_cast<int64_t>(m.size());
    for (auto _ : state)
        for (const std::string& m : real) benchmark::DoNotOptimize(emlParseMessage(m));
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_MimeWalk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
