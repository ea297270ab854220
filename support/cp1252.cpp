#include "support/cp1252.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <strings.h>
#include <cerrno>
#include <cstdint>
#include <cstring>

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// Code points of the bytes 0x80-0x9F; the undefined ones map to themselves.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t codePointOf(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : byte;
}

// The Windows-1252 byte of a code point, or -1.
int byteOf(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == cp) return 0x80 + i;
    return -1;
}

// Decodes one well-formed UTF-8 sequence at text[i]; its length, or 0 when the bytes
// there are not one.
size_t decodeUtf8(std::string_view text, size_t i, uint32_t* cp) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    size_t length;
    uint32_t value;
    uint32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, value = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, value = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, value = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        value = (value << 6) | (b & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *cp = value;
    return length;
}

// The locale's character set name, read once from the environment.
const std::string& localeCharset() {
    static const std::string name = [] {
        std::string out = "ANSI_X3.4-1968";
        if (locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
            if (const char* set = nl_langinfo_l(CODESET, loc); set && *set) out = set;
            freelocale(loc);
        }
        return out;
    }();
    return name;
}

bool isUtf8Name(const std::string& name) {
    return strcasecmp(name.c_str(), "UTF-8") == 0 || strcasecmp(name.c_str(), "UTF8") == 0;
}

}  // namespace

std::string utf8ToCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0;
        const size_t length = b < 0x80 ? 0 : decodeUtf8(text, i, &cp);
        if (length == 0) {
            out += static_cast<char>(b);  // ASCII, or a byte that is not UTF-8: kept
            ++i;
            continue;
        }
        const int mapped = byteOf(cp);
        out += mapped < 0 ? '?' : static_cast<char>(mapped);
        i += length;
    }
    return out;
}

std::string cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char c : text) appendUtf8(out, codePointOf(static_cast<unsigned char>(c)));
    return out;
}

std::string cp1252ToLocale(std::string_view text) {
    const std::string& charset = localeCharset();
    if (isUtf8Name(charset)) return cp1252ToUtf8(text);
    bool plain = true;
    for (char c : text) plain = plain && static_cast<unsigned char>(c) < 0x80;
    if (plain) return std::string(text);

    iconv_t cd = iconv_open((charset + "//TRANSLIT").c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    const std::string utf8 = cp1252ToUtf8(text);
    std::string out;
    char buffer[256];
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* to = buffer;
        size_t toLeft = sizeof buffer;
        size_t rc = iconv(cd, &in, &inLeft, &to, &toLeft);
        out.append(buffer, static_cast<size_t>(to - buffer));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // A character the set cannot hold, even transliterated: '?' and go on after it.
            out += '?';
            uint32_t cp = 0;
            size_t skip = decodeUtf8(std::string_view(in, inLeft), 0, &cp);
            skip = skip ? skip : 1;
            in += skip;
            inLeft -= skip;
        }
    }
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &to, &toLeft);
    out.append(buffer, static_cast<size_t>(to - buffer));
    iconv_close(cd);
    return out;
}
