// The interest profile reader: any text either gives no profile or one that formats,
// reads back the same, and takes an update.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/profiling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto profile = agent::profileParse(reinterpret_cast<const char*>(data), size);
    if (!profile) return 0;
    std::string text = agent::profileFormat(*profile);
    auto again = agent::profileParse(text.data(), text.size());
    if (!again || agent::profileFormat(*again) != text) __builtin_trap();
    agent::profileQueryText(*profile, 0, 40);
    agent::profileDocument(*profile, 0, "r", "t", "c", "d");
    agent::profileUpdate("apple orchard pruning winter", *profile, nullptr);
    return 0;
}
