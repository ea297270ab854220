#include "support/strutil.h"

#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isAlnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

unsigned char upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Iterative wildcard match with one back-tracking point: on a mismatch after a '*',
// the star swallows one more character and matching resumes behind it. Runs of '*'
// behave like one. No recursion, so long patterns cannot exhaust the stack.
bool wildcard(std::string_view pattern, std::string_view text, bool fold) {
    size_t p = 0, t = 0;
    size_t starP = std::string_view::npos, starT = 0;
    auto same = [fold](char a, char b) {
        return fold ? upper(static_cast<unsigned char>(a)) == upper(static_cast<unsigned char>(b))
                    : a == b;
    };
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            while (p < pattern.size() && pattern[p] == '*') ++p;
            if (p == pattern.size()) return true;
            starP = p;
            starT = t;
            continue;
        }
        if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], text[t]))) {
            ++p;
            ++t;
            continue;
        }
        if (starP == std::string_view::npos) return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// One pattern of a list: wildcard patterns joined by " AND ", all of which must match.
bool matchAllParts(std::string_view pattern, std::string_view text, bool fold) {
    static constexpr std::string_view kAnd = " AND ";
    for (;;) {
        size_t at = pattern.find(kAnd);
        if (at == std::string_view::npos) return wildcard(pattern, text, fold);
        if (!wildcard(pattern.substr(0, at), text, fold)) return false;
        pattern.remove_prefix(at + kAnd.size());
    }
}

int patternList(const char* list, const char* separators, const char* text, bool fold) {
    if (!list || !text) return 0;
    std::string_view rest(list);
    std::string_view seps = separators ? std::string_view(separators) : std::string_view();
    std::string_view subject(text);
    while (!rest.empty()) {
        size_t end = seps.empty() ? std::string_view::npos : rest.find_first_of(seps);
        std::string_view pattern = rest.substr(0, end);
        if (!pattern.empty() && matchAllParts(pattern, subject, fold)) return 1;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return 0;
}

// Position just after the n-th run of letters and digits, or npos when the text has
// fewer runs.
size_t endOfWord(const char* text, int32_t n) {
    int32_t words = 0;
    size_t i = 0;
    while (text[i]) {
        while (text[i] && !isAlnum(static_cast<unsigned char>(text[i]))) ++i;
        if (!text[i]) break;
        while (isAlnum(static_cast<unsigned char>(text[i]))) ++i;
        if (++words == n) return i;
    }
    return std::string::npos;
}

bool hasWordFrom(const char* text) {
    for (; *text; ++text)
        if (isAlnum(static_cast<unsigned char>(*text))) return true;
    return false;
}

void trimString(std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && isBlank(static_cast<unsigned char>(s[e - 1]))) --e;
    s = s.substr(b, e - b);
}

bool isSummarySeparator(char c) {
    return c == ' ' || c == ':' || c == '/' || c == '&';
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoder classes: 0..63 alphabet values, kSkip for white space, kPad for '=', kBad.
constexpr int8_t kSkip = -2, kPad = -3, kBad = -1;

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = kBad;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64Alphabet[i])] = int8_t(i);
    t[' '] = t['\t'] = t['\r'] = t['\n'] = kSkip;
    t['='] = kPad;
    return t;
}
constexpr auto kDecodeTable = makeDecodeTable();

// Two output characters for every 12-bit value, so three input bytes take two lookups.
struct PairTable {
    char pairs[4096][2];
    constexpr PairTable() : pairs{} {
        for (int v = 0; v < 4096; ++v) {
            pairs[v][0] = kBase64Alphabet[v >> 6];
            pairs[v][1] = kBase64Alphabet[v & 63];
        }
    }
};
constexpr PairTable kPairs;

// Encodes n bytes (any n) at in into out; returns the characters written.
size_t encodeBlock(const unsigned char* in, size_t n, char* out) {
    char* o = out;
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(o, kPairs.pairs[v >> 12], 2);
        std::memcpy(o + 2, kPairs.pairs[v & 4095], 2);
        o += 4;
    }
    if (n - i == 1) {
        uint32_t v = uint32_t(in[i]) << 16;
        o[0] = kBase64Alphabet[v >> 18];
        o[1] = kBase64Alphabet[(v >> 12) & 63];
        o[2] = '=';
        o[3] = '=';
        o += 4;
    } else if (n - i == 2) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8);
        o[0] = kBase64Alphabet[v >> 18];
        o[1] = kBase64Alphabet[(v >> 12) & 63];
        o[2] = kBase64Alphabet[(v >> 6) & 63];
        o[3] = '=';
        o += 4;
    }
    return static_cast<size_t>(o - out);
}

}  // namespace

extern "C" {

char* strCopyBounded(char* dst, const char* src, int32_t n) {
    if (!dst || n <= 0) return dst;
    // Like a bounded copy that stops at the source's terminator and pads with zeros,
    // so a short source is never read past its end.
    size_t limit = static_cast<size_t>(n);
    size_t len = src ? strnlen(src, limit) : 0;
    if (len) std::memcpy(dst, src, len);
    if (len < limit) std::memset(dst + len, 0, limit - len);
    dst[limit - 1] = '\0';
    return dst;
}

char* strFindCaseBlind(const char* haystack, const char* needle) {
    if (!haystack || !needle) return nullptr;
    size_t nlen = std::strlen(needle);
    if (nlen == 0) return const_cast<char*>(haystack);
    unsigned char first = upper(static_cast<unsigned char>(needle[0]));
    for (const char* h = haystack; *h; ++h) {
        if (upper(static_cast<unsigned char>(*h)) != first) continue;
        size_t k = 1;
        while (k < nlen && h[k] &&
               upper(static_cast<unsigned char>(h[k])) ==
                   upper(static_cast<unsigned char>(needle[k])))
            ++k;
        if (k == nlen) return const_cast<char*>(h);
        if (!h[k]) return nullptr;  // haystack ran out: no later start can fit either
    }
    return nullptr;
}

char* strTrimEnd(char* text) {
    if (!text) return nullptr;
    size_t e = std::strlen(text);
    while (e > 0 && isBlank(static_cast<unsigned char>(text[e - 1]))) --e;
    text[e] = '\0';
    return text;
}

char* strTrimStart(char* text) {
    if (!text) return nullptr;
    size_t b = 0;
    while (text[b] && isBlank(static_cast<unsigned char>(text[b]))) ++b;
    // Moved to the front so the pointer stays the owner of the block.
    if (b) std::memmove(text, text + b, std::strlen(text + b) + 1);
    return text;
}

char* strTrim(char* text) {
    return strTrimStart(strTrimEnd(text));
}

char* strTokenize(char* text, const char* separators, char** save) {
    if (!save) return nullptr;
    char* p = text ? text : *save;
    if (!p) return nullptr;
    const char* seps = separators ? separators : "";
    p += std::strspn(p, seps);
    if (!*p) {
        *save = p;
        return nullptr;
    }
    char* end = p + std::strcspn(p, seps);
    if (*end) {
        *end = '\0';
        *save = end + 1;
    } else {
        *save = end;
    }
    return p;
}

char** strSplit(const char* text, const char* separator, int32_t* count) {
    if (count) *count = 0;
    if (!text || !count) return nullptr;
    std::string_view rest(text);
    std::string_view sep = separator ? std::string_view(separator) : std::string_view();
    int32_t capacity = 4, used = 0;
    // One spare slot keeps the array null-terminated as well as counted.
    auto** pieces = static_cast<char**>(memAlloc(sizeof(char*) * (capacity + 1)));
    if (!pieces) return nullptr;
    for (;;) {
        size_t at = sep.empty() ? std::string_view::npos : rest.find(sep);
        std::string_view piece = rest.substr(0, at);
        if (used == capacity) {
            if (capacity > INT32_MAX / 2 - 1) break;
            int32_t grown = capacity * 2;
            auto** bigger = static_cast<char**>(
                memRealloc(pieces, sizeof(char*) * (static_cast<size_t>(grown) + 1)));
            if (!bigger) break;  // keep what was split so far
            pieces = bigger;
            for (int32_t i = capacity; i <= grown; ++i) pieces[i] = nullptr;
            capacity = grown;
        }
        char* copy = memStrNDup(piece.data(), piece.size());
        if (!copy) break;
        pieces[used++] = copy;
        if (at == std::string_view::npos) break;
        rest.remove_prefix(at + sep.size());
    }
    pieces[used] = nullptr;
    *count = used;
    return pieces;
}

void strFreeSplit(char*** pieces, int32_t count) {
    if (!pieces || !*pieces) return;
    for (int32_t i = 0; i < count; ++i) memFree((*pieces)[i]);
    memFree(*pieces);
}

int strWildcardMatch(const char* pattern, const char* text) {
    if (!pattern || !text) return 0;
    return wildcard(pattern, text, false) ? 1 : 0;
}

int strPatternListMatch(const char* list, const char* separators, const char* text) {
    return patternList(list, separators, text, false);
}

int strPatternListMatchCaseBlind(const char* list, const char* separators, const char* text) {
    return patternList(list, separators, text, true);
}

int32_t strWordCount(const char* text, int32_t n) {
    if (!text || n <= 0) return 0;
    int32_t words = 0;
    bool inWord = false;
    for (int32_t i = 0; i < n && text[i]; ++i) {
        bool alnum = isAlnum(static_cast<unsigned char>(text[i]));
        if (alnum && !inWord) ++words;
        inWord = alnum;
    }
    return words;
}

char* strTruncateAtWord(char* text, int32_t n) {
    if (!text || n <= 0 || strnlen(text, 6) < 6) return text;
    size_t end = endOfWord(text, n);
    // Only a text that has more words after the n-th one is cut.
    if (end == std::string::npos || !hasWordFrom(text + end)) return text;
    size_t cut = end;
    while (cut > 0 && !isBlank(static_cast<unsigned char>(text[cut]))) --cut;
    if (!isBlank(static_cast<unsigned char>(text[cut]))) cut = end;
    // The cut never lies past the end of the text, so "..." needs at most three bytes
    // beyond the old terminator.
    std::memcpy(text + cut, "...", 4);
    return text;
}

char* strCutSummary(const char* text, int32_t limit, int addEllipsis) {
    if (!text || limit <= 0) return nullptr;
    std::string buf(text, strnlen(text, 8192));
    trimString(buf);
    size_t cut = std::string::npos, sentenceEnd = std::string::npos;
    int32_t separators = 0;
    for (size_t i = 0; i < buf.size(); ++i) {
        char c = buf[i];
        if (isSummarySeparator(c)) {
            if (++separators >= limit) {
                cut = i;
                break;
            }
        } else if ((c == '.' || c == '?' || c == '!') && separators > limit / 2) {
            sentenceEnd = i + 1;
        }
    }
    bool ellipsis = false;
    if (cut != std::string::npos) {
        if (sentenceEnd != std::string::npos) {
            buf.resize(sentenceEnd);
        } else {
            buf.resize(cut);
            trimString(buf);
            ellipsis = addEllipsis != 0;
        }
    }
    if (buf.size() < 3) return nullptr;
    if (ellipsis) buf += "...";
    return memStrNDup(buf.data(), buf.size());
}

char* strCollapseWhitespace(char* text) {
    if (!text) return nullptr;
    char* out = text;
    bool pending = false, started = false;
    for (const char* in = text; *in; ++in) {
        if (isBlank(static_cast<unsigned char>(*in))) {
            pending = started;
            continue;
        }
        if (pending) *out++ = ' ';
        pending = false;
        started = true;
        *out++ = *in;
    }
    if (pending) *out++ = ' ';
    *out = '\0';
    return text;
}

int strIsDelimiter(int c) {
    switch (c) {
        case '\n':
        case '\r':
        case ' ':
        case '\t':
        case '"':
        case '=':
        case '\'':
        case '.':
        case ',':
        case ';':
        case ':':
        case '!':
        case '-':
        case '{':
        case '}':
        case '(':
        case ')':
            return 1;
        default:
            return 0;
    }
}

uint32_t strHash(const char* text, uint32_t tableSize) {
    uint32_t h = 0;
    if (text)
        for (const char* p = text; *p; ++p)
            h = h * 131u +
                static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
    // A table size of 0 would divide by zero: the unreduced hash is returned instead.
    return tableSize ? h % tableSize : h;
}

char* strBase64Encode(const unsigned char* bytes, int32_t length, int lineBreaks) {
    if (!bytes || length <= 0) return nullptr;
    size_t n = static_cast<size_t>(length);
    auto* out = static_cast<char*>(memAlloc(4 * n + 1024));
    if (!out) return nullptr;
    constexpr size_t kBlock = 51;  // 68 characters of output per block
    char* o = out;
    for (size_t at = 0; at < n; at += kBlock) {
        size_t take = n - at < kBlock ? n - at : kBlock;
        o += encodeBlock(bytes + at, take, o);
        if (lineBreaks) *o++ = '\n';
    }
    return out;
}

unsigned char* strBase64Decode(const char* text, int32_t* length) {
    if (length) *length = 0;
    if (!text) return nullptr;
    size_t len = std::strlen(text);
    if (len > static_cast<size_t>(INT32_MAX)) {
        if (length) *length = -1;
        return nullptr;
    }
    auto* out = static_cast<unsigned char*>(memAlloc(len / 4 * 3 + 4));
    if (!out) return nullptr;
    size_t o = 0;
    uint32_t acc = 0;
    int have = 0, pads = 0;
    for (size_t i = 0; i < len; ++i) {
        int8_t v = kDecodeTable[static_cast<unsigned char>(text[i])];
        if (v == kSkip) continue;
        if (v == kPad) {
            ++pads;
            continue;
        }
        if (v == kBad || pads) {  // a character after padding is invalid too
            memFree(out);
            if (length) *length = -1;
            return nullptr;
        }
        acc = (acc << 6) | static_cast<uint32_t>(v);
        if (++have == 4) {
            out[o++] = static_cast<unsigned char>(acc >> 16);
            out[o++] = static_cast<unsigned char>(acc >> 8);
            out[o++] = static_cast<unsigned char>(acc);
            acc = 0;
            have = 0;
        }
    }
    // A final group of two or three characters carries one or two bytes (padding is
    // optional); one lone character, or padding where none fits, is invalid.
    bool valid = true;
    if (have == 1 || (have == 0 && pads > 0) || (have >= 2 && pads > 4 - have)) valid = false;
    if (valid && have == 2) {
        out[o++] = static_cast<unsigned char>(acc >> 4);
    } else if (valid && have == 3) {
        out[o++] = static_cast<unsigned char>(acc >> 10);
        out[o++] = static_cast<unsigned char>(acc >> 2);
    }
    if (!valid) {
        memFree(out);
        if (length) *length = -1;
        return nullptr;
    }
    if (o == 0) {
        memFree(out);
        return nullptr;
    }
    out[o] = 0;
    if (length) *length = static_cast<int32_t>(o);
    return out;
}

const char* strEntityEscape(char c, char buf[2]) {
    switch (c) {
        case '"':
            return "&quot;";
        case '&':
            return "&amp;";
        case '\'':
            return "&apos;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        default:
            if (!buf) return "";
            buf[0] = c;
            buf[1] = '\0';
            return buf;
    }
}

}  // extern "C"
