// The delimited splitter: the first bytes choose the markers and skips (cut at '\x01'
// separators), the rest is the file text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/delimitedparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    size_t pos = 0;
    while (parts.size() < 6) {
        size_t cut = in.find('\x01', pos);
        if (cut == std::string_view::npos) break;
        parts.emplace_back(in.substr(pos, cut - pos));
        pos = cut + 1;
    }
    std::string_view text = in.substr(pos);
    parts.resize(6);
    ImportDelimited d;
    d.docStart = parts[0];
    d.docEnd = parts[1];
    d.names = {"IXOTITLE", "IXOCONTENT", "F"};
    d.starts = {parts[2], parts[3]};
    if (!parts[4].empty()) d.ends = {parts[4]};
    for (char c : parts[5]) d.skips.push_back(static_cast<signed char>(c));
    auto records = delimitedSplit(text, d);
    size_t total = 0;
    for (const auto& r : records)
        for (const auto& v : r) total += v.size();
    // Every value is a piece of the text, so values cannot add up to more than the
    // text times the number of fields.
    if (total > text.size() * d.names.size()) __builtin_trap();
    return 0;
}
