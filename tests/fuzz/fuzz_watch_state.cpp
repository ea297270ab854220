// The live indexer's state file: any bytes load without harm, and what was loaded
// survives a save and a second load unchanged.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/ixowatch/watchstate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string folder = [] {
        char name[] = "/tmp/fuzz_watch_state.XXXXXX";
        return std::string(::mkdtemp(name) ? name : "/tmp");
    }();
    const std::string path = folder + "/state";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    const ixowatch::StateMap first = ixowatch::loadState(path);
    if (!ixowatch::saveState(path, first)) __builtin_trap();
    const ixowatch::StateMap second = ixowatch::loadState(path);
    if (second.size() != first.size()) __builtin_trap();
    for (const auto& [file, s] : first) {
        auto it = second.find(file);
        // Paths with line ends cannot come back from a line-oriented file; the watcher
        // never stores them.
        if (file.find_first_of("\r\n") != std::string::npos) continue;
        if (it == second.end() || it->second.mtime != s.mtime || it->second.size != s.size ||
            it->second.mtimeNs != s.mtimeNs || it->second.reference != s.reference)
            __builtin_trap();
    }
    std::remove(path.c_str());
    return 0;
}
