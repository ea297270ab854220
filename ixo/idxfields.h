// Small readers shared by the two readers of IDX text: the retrieval client's reader of
// a content reply and the import library's reader of IDX files. Header-only, so the
// import library needs no exported symbol of the client for them.
#pragma once

#include <cstdint>
#include <string_view>

namespace idx_fields {

// Removes prefix from the front of word when word starts with it.
inline bool consume(std::string_view& word, std::string_view prefix) {
    if (word.substr(0, prefix.size()) != prefix) return false;
    word.remove_prefix(prefix.size());
    return true;
}

// Decimal number at the start of v (blanks and one sign allowed before it), clamped to
// the int32 range; 0 when no digit follows.
inline int32_t parseDecimal(std::string_view v) {
    size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
    int64_t n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > INT32_MAX) n = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) n = -n;
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

}  // namespace idx_fields
