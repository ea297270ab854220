// The settings hive reader and editor: any text parses; formatting without a change
// gives the text back byte for byte; after one value is set, that value reads back and
// every other value reads as before.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/registry.h"

namespace {

const char* const kKey = "Software\\Halvoran\\Sapiolux\\Suggestions";
const std::pair<const char*, const char*> kProbes[] = {
    {kKey, "NSuggests"},
    {kKey, "UrlPrefix"},
    {kKey, "Threshold"},
    {kKey, ""},
    {kKey, "Command"},
    {"Software\\Fuzz", "N"},
    {"Software\\Fuzz", "T"},
    {"Software\\A", "B"},
    {"Identities", "Default User ID"},
};

struct Read {
    std::optional<uint32_t> number;
    std::optional<std::string> text;
    bool operator==(const Read&) const = default;
};

Read read(const platform::RegSnapshot& snap, const char* key, const char* name) {
    return Read{snap.number(key, name), snap.text(key, name)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    platform::RegSnapshot snap = platform::RegSnapshot::parse(text);
    if (!text.empty() && snap.format("HKEY_CURRENT_USER") != text) __builtin_trap();

    // One edit in a key the text may hold, one in a key it may not.
    const bool inKey = size % 2 == 0;
    const char* key = inKey ? kKey : "Software\\Fuzz";
    const char* name = inKey ? "NSuggests" : "T";
    Read before[sizeof kProbes / sizeof kProbes[0]];
    for (size_t i = 0; i < sizeof kProbes / sizeof kProbes[0]; ++i)
        before[i] = read(snap, kProbes[i].first, kProbes[i].second);
    if (!snap.set(key, name, inKey ? platform::RegValue(9u) : platform::RegValue("v \"q\" \\")))
        __builtin_trap();
    platform::RegSnapshot again = platform::RegSnapshot::parse(snap.format("HKEY_CURRENT_USER"));
    for (size_t i = 0; i < sizeof kProbes / sizeof kProbes[0]; ++i) {
        Read now = read(again, kProbes[i].first, kProbes[i].second);
        const bool changed =
            std::string(kProbes[i].first) == key && std::string(kProbes[i].second) == name;
        if (changed ? (inKey ? now.number != 9u : now.text != "v \"q\" \\") : !(now == before[i]))
            __builtin_trap();
    }
    return 0;
}
