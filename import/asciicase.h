// ASCII case folding for the importers: markup, header names and charset names are
// compared without regard to case, and bytes above 127 are left as they are.
#pragma once

#include <string>
#include <string_view>

namespace ascii_case {

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string lowerCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

inline std::string upperCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = upperAscii(c);
    return out;
}

inline bool startsWithCaseBlind(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (upperAscii(text[i]) != upperAscii(prefix[i])) return false;
    return true;
}

inline bool equalsCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithCaseBlind(a, b);
}

}  // namespace ascii_case
