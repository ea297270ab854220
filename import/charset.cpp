#include "import/charset.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "import/asciicase.h"

namespace {

using ascii_case::lowerAscii;
using ascii_case::lowerCopy;

constexpr size_t kDeclarationWindow = 8192;

// Position of needle (lower-case) in hay without regard to case, or npos.
size_t findCaseBlind(std::string_view hay, std::string_view needle, size_t from = 0) {
    if (needle.empty() || hay.size() < needle.size()) return std::string_view::npos;
    for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && lowerAscii(hay[i + k]) == needle[k]) ++k;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

// The value after "charset" [blanks] "=" [blanks] [quote] in text, or "".
std::string charsetParameter(std::string_view text) {
    size_t pos = 0;
    while ((pos = findCaseBlind(text, "charset", pos)) != std::string_view::npos) {
        size_t i = pos + 7;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i < text.size() && text[i] == '=') {
            ++i;
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
            if (i < text.size() && (text[i] == '"' || text[i] == '\'')) ++i;
            size_t start = i;
            while (i < text.size() && isNameChar(text[i]) && i - start < 64) ++i;
            if (i > start) return lowerCopy(text.substr(start, i - start));
        }
        pos += 7;
    }
    return {};
}

bool isWindows1252Family(const std::string& name) {
    static constexpr std::array<const char*, 14> names = {
        "windows-1252", "cp1252",        "x-cp1252", "iso-8859-1", "iso8859-1", "iso_8859-1",
        "latin1",       "latin-1",       "l1",       "cp819",      "ibm819",    "us-ascii",
        "ascii",        "ansi_x3.4-1968"};
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

bool isUtf8Name(const std::string& name) {
    return name == "utf-8" || name == "utf8";
}

// RAII holder of an iconv descriptor.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

  private:
    iconv_t cd_;
};

// A converter from a character set to UTF-8, kept per thread and name: opening one
// loads the character set's conversion module, which closing it unloads again, so
// messages in the same character set would pay for that every time. Null when iconv
// does not know the name. The converter is in its initial state.
Converter* converterToUtf8(const std::string& from) {
    // Names come from documents: only so many different ones are kept.
    constexpr size_t kMaxKept = 64;
    thread_local std::unordered_map<std::string, std::unique_ptr<Converter>> kept;
    auto it = kept.find(from);
    if (it == kept.end()) {
        if (kept.size() >= kMaxKept) kept.clear();
        it = kept.emplace(from, std::make_unique<Converter>("UTF-8", from.c_str())).first;
    }
    Converter* conv = it->second.get();
    if (!conv->valid()) return nullptr;
    conv->reset();
    return conv;
}

// Windows-1252 bytes 0x80..0x9F and the code points they stand for (0 = unassigned).
constexpr std::array<uint16_t, 32> kHighTable = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Base letters of U+0100..U+017F (Latin Extended-A). iconv's transliteration in the
// "C" locale knows few of them, so these are looked up first.
constexpr std::string_view kLatinExtendedA =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "IiIiJjKkkLlLlLlL"
    "lLlNnNnNnnNnOoOo"
    "OoOoRrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";
static_assert(kLatinExtendedA.size() == 0x80);

int windows1252ByteFor(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    if (cp >= 0x80 && cp <= 0x9F) return static_cast<int>(cp);
    for (size_t i = 0; i < kHighTable.size(); ++i)
        if (kHighTable[i] == cp) return static_cast<int>(0x80 + i);
    return -1;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one well-formed UTF-8 sequence at p (n bytes available). Returns its length
// and sets cp, or 0 when the bytes there are not a well-formed sequence.
size_t decodeUtf8(const unsigned char* p, size_t n, uint32_t& cp) {
    unsigned char b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    size_t len;
    uint32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (n < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// Transliterates one code point outside Windows-1252 through iconv; false when iconv
// has nothing for it.
bool transliterate(std::string& out, uint32_t cp) {
    thread_local Converter translit("WINDOWS-1252//TRANSLIT", "UTF-8");
    if (!translit.valid()) return false;
    std::string in;
    appendUtf8(in, cp);
    char buffer[32];
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t r = iconv(translit.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    translit.reset();
    if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
    if (outPtr == buffer) return false;
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    return true;
}

// UTF-8 to Windows-1252; malformed bytes are taken as Windows-1252 bytes.
void utf8ToWindows1252(std::string_view bytes, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    size_t i = 0;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) i = 3;
    out.reserve(out.size() + n);
    while (i < n) {
        size_t run = i;
        while (run < n && p[run] < 0x80) ++run;
        if (run > i) {
            out.append(bytes.data() + i, run - i);
            i = run;
            if (i >= n) break;
        }
        uint32_t cp = 0;
        size_t len = decodeUtf8(p + i, n - i, cp);
        if (len == 0) {
            out.push_back(static_cast<char>(p[i]));
            ++i;
            continue;
        }
        charsetAppendCodePoint(out, cp);
        i += len;
    }
}

// Any character set iconv knows to UTF-8 (lossless); unreadable bytes become "?".
bool toUtf8(std::string_view bytes, const std::string& from, std::string& out) {
    Converter* found = converterToUtf8(from);
    if (!found) return false;
    Converter& conv = *found;
    out.clear();
    out.reserve(bytes.size() * 2 + 16);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char chunk[65536];
    while (true) {
        char* outPtr = chunk;
        size_t outLeft = sizeof chunk;
        size_t r = inLeft ? iconv(conv.get(), &in, &inLeft, &outPtr, &outLeft)
                          : iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft);
        int err = errno;
        out.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (r != static_cast<size_t>(-1)) {
            if (inLeft == 0) {
                // Flush any shift state once more, then stop.
                outPtr = chunk;
                outLeft = sizeof chunk;
                iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft);
                out.append(chunk, static_cast<size_t>(outPtr - chunk));
                break;
            }
            continue;
        }
        if (err == E2BIG) continue;
        // EILSEQ or EINVAL: skip one byte of the source and go on.
        out.push_back('?');
        ++in;
        --inLeft;
        conv.reset();
        if (inLeft == 0) break;
    }
    return true;
}

}  // namespace

std::string charsetFromHtml(std::string_view html) {
    std::string_view head = html.substr(0, std::min(html.size(), kDeclarationWindow));
    size_t pos = 0;
    while ((pos = findCaseBlind(head, "<meta", pos)) != std::string_view::npos) {
        size_t end = head.find('>', pos);
        std::string_view tag =
            head.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        std::string name = charsetParameter(tag);
        if (!name.empty()) return name;
        if (end == std::string_view::npos) break;
        pos = end;
    }
    return {};
}

std::string charsetFromContentType(std::string_view contentType) {
    return charsetParameter(contentType);
}

bool charsetIsUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        uint32_t cp;
        size_t len = decodeUtf8(p + i, n - i, cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string charsetDecide(std::string_view declared, std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return "utf-8";
    if (bytes.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) return "utf-16le";
    if (bytes.size() >= 2 && p[0] == 0xFE && p[1] == 0xFF) return "utf-16be";
    std::string name = lowerCopy(declared);
    if (!name.empty()) {
        if (isWindows1252Family(name)) return "windows-1252";
        if (isUtf8Name(name)) return "utf-8";
        // UTF-16 and UTF-32 declarations in a file without a byte-order mark are
        // mistakes (the declaration itself was readable as single bytes).
        bool wide = name.rfind("utf-16", 0) == 0 || name.rfind("utf-32", 0) == 0 ||
                    name.rfind("ucs-", 0) == 0;
        if (!wide && converterToUtf8(name)) return name;
    }
    bool high = std::any_of(bytes.begin(), bytes.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (high && charsetIsUtf8(bytes)) return "utf-8";
    return "windows-1252";
}

std::string charsetToWindows1252(std::string_view bytes, std::string_view fromCharset) {
    std::string name = lowerCopy(fromCharset);
    std::string out;
    if (isWindows1252Family(name)) return std::string(bytes);
    if (isUtf8Name(name)) {
        utf8ToWindows1252(bytes, out);
        return out;
    }
    std::string utf8;
    if (!toUtf8(bytes, name, utf8)) return std::string(bytes);
    utf8ToWindows1252(utf8, out);
    return out;
}

std::string charsetDocumentToWindows1252(std::string_view bytes, std::string_view declared) {
    return charsetToWindows1252(bytes, charsetDecide(declared, bytes));
}

std::string charsetHtmlToWindows1252(std::string_view html) {
    return charsetDocumentToWindows1252(html, charsetFromHtml(html));
}

bool charsetAppendCodePoint(std::string& out, uint32_t codePoint) {
    if (codePoint == 0 || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return false;
    int byte = windows1252ByteFor(codePoint);
    if (byte >= 0) {
        out.push_back(static_cast<char>(byte));
        return true;
    }
    if (codePoint >= 0x100 && codePoint <= 0x17F) {
        out.push_back(kLatinExtendedA[codePoint - 0x100]);
        return true;
    }
    if (!transliterate(out, codePoint)) out.push_back('?');
    return true;
}
