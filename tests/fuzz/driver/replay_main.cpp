// Replays inputs through a fuzz target without libFuzzer: every file named on the
// command line (folders are walked), then, with "--random N", N pseudo-random inputs
// from a fixed seed, some of them mutations of the files read. Used by CTest so the
// sanitizer build checks every target on each run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void runOne(const std::vector<uint8_t>& bytes) {
    // Copy into an exactly-sized heap block so the sanitizer sees any overread.
    auto* block = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
    LLVMFuzzerTestOneInput(block, bytes.size());
    std::free(block);
}

}  // namespace

int main(int argc, char** argv) {
    long randomRuns = 0;
    std::vector<std::vector<uint8_t>> seeds;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--random") == 0 && i + 1 < argc) {
            randomRuns = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p, ec))
                if (e.is_regular_file()) seeds.push_back(readFile(e.path()));
        } else if (std::filesystem::is_regular_file(p, ec)) {
            seeds.push_back(readFile(p));
        }
    }
    for (const auto& s : seeds) runOne(s);

    std::mt19937 rng(12345);
    for (long n = 0; n < randomRuns; ++n) {
        std::vector<uint8_t> input;
        if (!seeds.empty() && n % 2 == 0) {
            input = seeds[rng() % seeds.size()];
            size_t edits = 1 + rng() % 8;
            for (size_t e = 0; e < edits && !input.empty(); ++e) {
                size_t at = rng() % input.size();
                switch (rng() % 3) {
                    case 0:
                        input[at] = static_cast<uint8_t>(rng());
                        break;
                    case 1:
                        input.erase(input.begin() + static_cast<long>(at));
                        break;
                    default:
                        input.insert(input.begin() + static_cast<long>(at),
                                     static_cast<uint8_t>(rng()));
                }
            }
            if (rng() % 4 == 0) input.resize(rng() % (input.size() + 1));
        } else {
            input.resize(rng() % 512);
            // Mostly printable bytes with some structure characters, since most of the
            // parsers look for text markers.
            static const char alphabet[] = "abcXYZ019 =&?/:\r\n\t\"'<>#%-.;*+~\\";
            for (auto& b : input)
                b = (rng() % 5 == 0)
                        ? static_cast<uint8_t>(rng())
                        : static_cast<uint8_t>(alphabet[rng() % (sizeof alphabet - 1)]);
        }
        runOne(input);
    }
    std::printf("replayed %zu seed inputs and %ld random inputs\n", seeds.size(), randomRuns);
    return 0;
}
