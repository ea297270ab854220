// Percent-encoding of chosen bytes ('%' and two upper-case hex digits), for the places
// that put outside text into a request line: each says which bytes must not go raw.
#pragma once

#include <string>
#include <string_view>

// The bytes a URL never needs to encode: ASCII letters and digits, '-', '.', '_', '~'.
inline bool isUrlUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// text with every byte for which encode(byte) holds written as "%XX".
template <typename Encode>
std::string percentEncodeIf(std::string_view text, Encode encode) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (encode(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// A value for a request path's "name=value" parameter: the bytes that would end or change
// the parameter or the request line ('&', '%', '+', '#', '=', '?', blanks, controls, bytes
// above 0x7E) are encoded, everything else goes as it is, so ordinary names and passwords
// go out unchanged. The retrieval server decodes them.
inline std::string encodeParameterValue(std::string_view value) {
    return percentEncodeIf(value, [](unsigned char c) {
        return c <= 0x20 || c >= 0x7F || c == '&' || c == '%' || c == '+' || c == '#' || c == '=' ||
               c == '?';
    });
}
