// Throughput of the text toolkit's transfer encodings: Base64 encoding of binary data
// (attachments, scrambled requests) and quoted-printable decoding of mail bodies.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "support/diaglog.h"
#include "support/strparse.h"
#include "support/strutil.h"

namespace {

constexpr size_t kInputBytes = 4 << 20;

std::string randomBytes(size_t n) {
    std::mt19937 rng(42);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(rng());
    return out;
}

// A mail body in quoted-printable form: lines of at most 76 characters ending in CR LF,
// soft line breaks, escaped accented letters and '=' signs, some trailing blanks.
std::string quotedPrintableBody(size_t n) {
    static const char* const kWords[] = {
        "the",  "caf=E9",  "meeting", "r=E9sum=E9", "on",  "Thursday",  "a=3Db",   "budget",
        "will", "na=EFve", "report",  "and",        "for", "Gr=FC=DFe", "project", "numbers"};
    std::mt19937 rng(7);
    std::string out;
    out.reserve(n + 128);
    size_t lineLength = 0;
    while (out.size() < n) {
        std::string word = kWords[rng() % 16];
        if (lineLength + word.size() + 1 > 75) {
            out += (rng() % 3 == 0) ? "  \r\n" : "=\r\n";  // hard break with blanks, or soft
            lineLength = 0;
        }
        out += word;
        out += ' ';
        lineLength += word.size() + 1;
    }
    out.resize(n);
    return out;
}

void BM_Base64Encode(benchmark::State& state) {
    const std::string input = randomBytes(kInputBytes);
    const int lineBreaks = static_cast<int>(state.range(0));
    for (auto _ : state) {
        char* text = strBase64Encode(reinterpret_cast<const unsigned char*>(input.data()),
                                     static_cast<int32_t>(input.size()), lineBreaks);
        benchmark::DoNotOptimize(text);
        memFree(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_Base64Encode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Base64Decode(benchmark::State& state) {
    const std::string bytes = randomBytes(kInputBytes);
    char* text = strBase64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                 static_cast<int32_t>(bytes.size()), 1);
    const std::string encoded(text);
    memFree(text);
    for (auto _ : state) {
        int32_t n = 0;
        unsigned char* out = strBase64Decode(encoded.c_str(), &n);
        benchmark::DoNotOptimize(out);
        memFree(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(encoded.size()));
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);

void BM_QuotedPrintableDecode(benchmark::State& state) {
    diagLogSetup(nullptr, 0, 0);
    const std::string input = quotedPrintableBody(kInputBytes);
    const int crlf = static_cast<int>(state.range(0));
    for (auto _ : state) {
        char* out = nullptr;
        int32_t n =
            strDecodeQuotedPrintable(input.data(), static_cast<int32_t>(input.size()), crlf, &out);
        benchmark::DoNotOptimize(n);
        memFree(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_QuotedPrintableDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
