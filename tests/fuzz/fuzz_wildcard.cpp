// Wildcard matching: the input is split at its first line feed into pattern and text.
// The matcher must agree with a plain dynamic-programming reference; the pattern-list
// forms must agree with matching their single parts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/strutil.h"

namespace {

bool reference(const std::string& p, const std::string& t) {
    // row[j]: pattern prefix matches text prefix of length j.
    std::vector<char> row(t.size() + 1, 0), next(t.size() + 1, 0);
    row[0] = 1;
    for (char pc : p) {
        next.assign(t.size() + 1, 0);
        if (pc == '*') {
            bool any = false;
            for (size_t j = 0; j <= t.size(); ++j) next[j] = any = any || row[j];
        } else {
            for (size_t j = 1; j <= t.size(); ++j)
                next[j] = row[j - 1] && (pc == '?' || pc == t[j - 1]);
        }
        row.swap(next);
    }
    return row[t.size()] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    std::string input(reinterpret_cast<const char*>(data), size);
    input = input.substr(0, input.find('\0'));
    size_t cut = input.find('\n');
    std::string pattern = input.substr(0, cut);
    std::string text = cut == std::string::npos ? std::string() : input.substr(cut + 1);

    bool got = strWildcardMatch(pattern.c_str(), text.c_str()) != 0;
    if (got != reference(pattern, text)) std::abort();

    // Without separators or " AND " in it, the pattern is a list of one.
    if (pattern.find(',') == std::string::npos && pattern.find(" AND ") == std::string::npos &&
        !pattern.empty()) {
        if ((strPatternListMatch(pattern.c_str(), ",", text.c_str()) != 0) != got) std::abort();
    }
    strPatternListMatchCaseBlind(pattern.c_str(), ",; ", text.c_str());
    return 0;
}
