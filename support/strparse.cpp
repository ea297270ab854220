#include "support/strparse.h"

#include <array>
#include <cstring>

#include "support/diaglog.h"

namespace {

enum CharClass : uint8_t { kPrintable, kSpace, kEquals, kLineFeed, kReturn, kOther };

constexpr std::array<uint8_t, 256> makeClasses() {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = (c > 32 && c < 127) ? kPrintable : kOther;
    t[' '] = t['\t'] = kSpace;
    t['='] = kEquals;
    t['\n'] = kLineFeed;
    t['\r'] = kReturn;
    return t;
}

constexpr std::array<uint8_t, 256> makeHexValues() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = 255;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<uint8_t>(c - 'a' + 10);
    return t;
}

constexpr auto kClass = makeClasses();
constexpr auto kHex = makeHexValues();

// White space held back in case the line ends after it. A full hold is written out
// and holding starts again, so long runs of blanks are neither lost nor overflow.
constexpr int kMaxHeldSpace = 100;

enum State { kPlain, kAfterEquals, kAfterEqualsSpace, kAfterFirstDigit };

}  // namespace

extern "C" {

int32_t strDecodeQuotedPrintable(const char* input, int32_t length, int crlf, char** out) {
    if (out) *out = nullptr;
    if (!input || length <= 0 || !out) return 0;

    const auto* in = reinterpret_cast<const unsigned char*>(input);
    const size_t n = static_cast<size_t>(length);

    // Every input byte gives at most one output byte, except a line feed, which gives
    // two when line ends are written as CR LF: that bounds the output exactly.
    size_t lineFeeds = 0;
    if (crlf) {
        const unsigned char* end = in + n;
        for (const unsigned char* p = in;
             (p = static_cast<const unsigned char*>(std::memchr(p, '\n', end - p))); ++p)
            ++lineFeeds;
    }
    const size_t bound = n + lineFeeds + 1;
    auto* buf = static_cast<char*>(memAlloc(bound));
    if (!buf) return 0;
    char* o = buf;

    char held[kMaxHeldSpace];
    int heldCount = 0;
    size_t escapeStart = 0;  // position of the '=' that opened the pending escape
    State state = kPlain;
    bool bad = false;

    auto flushHeld = [&] {
        std::memcpy(o, held, static_cast<size_t>(heldCount));
        o += heldCount;
        heldCount = 0;
    };
    auto lineEnd = [&] {
        if (crlf) *o++ = '\r';
        *o++ = '\n';
    };
    auto writeEscape = [&](size_t upTo) {  // the escape's characters as they stood
        std::memcpy(o, in + escapeStart, upTo - escapeStart);
        o += upTo - escapeStart;
    };

    size_t i = 0;
    while (i < n) {
        if (state == kPlain && heldCount == 0) {
            // Fast path for the common shapes of ordinary text: printable characters,
            // single blanks between words, complete escapes, soft breaks "=\r\n" and
            // line ends. Anything else falls through to the state machine below.
            const unsigned char* p = in + i;
            const unsigned char* const end = in + n;
            while (p < end) {
                const unsigned char ch = *p;
                const uint8_t k = kClass[ch];
                if (k == kPrintable) {
                    *o++ = static_cast<char>(ch);
                    ++p;
                } else if (k == kSpace && p + 1 < end && kClass[p[1]] <= kEquals &&
                           kClass[p[1]] != kSpace) {
                    *o++ = static_cast<char>(ch);  // a blank followed by text is text
                    ++p;
                } else if (k == kEquals && end - p > 2 && (kHex[p[1]] | kHex[p[2]]) < 16) {
                    *o++ = static_cast<char>((kHex[p[1]] << 4) | kHex[p[2]]);
                    p += 3;
                } else if (k == kEquals && end - p > 2 && p[1] == '\r' && p[2] == '\n') {
                    p += 3;
                } else if (k == kLineFeed) {
                    lineEnd();
                    ++p;
                } else if (k == kReturn && end - p > 1 && p[1] == '\n') {
                    lineEnd();
                    p += 2;
                } else {
                    break;
                }
            }
            i = static_cast<size_t>(p - in);
            if (i == n) break;
        }
        const unsigned char c = in[i];
        switch (state) {
            case kPlain:
                switch (kClass[c]) {
                    case kPrintable:
                        if (heldCount) flushHeld();
                        *o++ = static_cast<char>(c);
                        // Runs of printable characters are the bulk of any input.
                        while (++i < n && kClass[in[i]] == kPrintable)
                            *o++ = static_cast<char>(in[i]);
                        continue;
                    case kSpace:
                        if (heldCount == kMaxHeldSpace) flushHeld();
                        held[heldCount++] = static_cast<char>(c);
                        break;
                    case kEquals:
                        if (heldCount) flushHeld();
                        escapeStart = i;
                        state = kAfterEquals;
                        break;
                    case kLineFeed:
                        heldCount = 0;  // blanks before a line end are not text
                        lineEnd();
                        break;
                    case kReturn:
                        break;
                    default:
                        if (heldCount) flushHeld();
                        bad = true;
                        if (c >= 128) *o++ = static_cast<char>(c);
                        break;
                }
                ++i;
                break;

            case kAfterEquals:
            case kAfterEqualsSpace:
                if (c == '\n') {  // soft line break: the lines join
                    state = kPlain;
                    ++i;
                } else if (c == '\r' || c == ' ' || c == '\t') {
                    state = kAfterEqualsSpace;
                    ++i;
                } else if (state == kAfterEquals && kHex[c] != 255) {
                    state = kAfterFirstDigit;
                    ++i;
                } else {
                    bad = true;
                    writeEscape(i);
                    state = kPlain;  // the character is read again
                }
                break;

            case kAfterFirstDigit:
                if (kHex[c] != 255) {
                    *o++ = static_cast<char>((kHex[in[i - 1]] << 4) | kHex[c]);
                    state = kPlain;
                    ++i;
                } else {
                    bad = true;
                    writeEscape(i);
                    state = kPlain;
                }
                break;
        }
    }
    if (state != kPlain) writeEscape(n);
    if (heldCount) flushHeld();
    *o = '\0';

    if (bad) diagLogText("Warning: bad input detected while decoding quoted printable buffer");

    const size_t produced = static_cast<size_t>(o - buf);
    if (produced + 1 < bound) {
        if (auto* smaller = static_cast<char*>(memRealloc(buf, produced + 1))) buf = smaller;
    }
    *out = buf;
    return static_cast<int32_t>(produced);
}

}  // extern "C"
