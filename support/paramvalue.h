// A value as it goes into a request path's "name=value" parameter: the bytes that would
// end or change the parameter or the request line ('&', '%', '+', '#', '=', '?', blanks,
// controls, bytes above 0x7E) as '%' and two hex digits, everything else as it is, so
// ordinary names and passwords go out unchanged. The retrieval server decodes them.
#pragma once

#include <string>
#include <string_view>

inline std::string encodeParameterValue(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '&' || c == '%' || c == '+' || c == '#' || c == '=' ||
            c == '?') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}
