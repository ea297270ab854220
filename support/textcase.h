// Case-blind comparisons of ASCII text (protocol names, header names, URL schemes),
// shared by the HTTP layers and the proxy readers.
#pragma once

#include <cctype>
#include <string_view>

inline bool startsWithCaseBlind(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}
