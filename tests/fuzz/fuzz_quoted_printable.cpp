// Quoted-printable decoding of arbitrary bytes: the output stays within its bound, is
// terminated, and equals what a plain character-by-character decoder gives (the real
// decoder takes shortcuts for common text that must not change the result).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/strparse.h"

namespace {

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string reference(const std::string& in, bool crlf) {
    std::string out, held;
    size_t i = 0;
    while (i < in.size()) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == '=') {
            out += held;
            held.clear();
            size_t j = i + 1;
            if (j < in.size() && hexValue(static_cast<unsigned char>(in[j])) >= 0) {
                if (j + 1 < in.size() && hexValue(static_cast<unsigned char>(in[j + 1])) >= 0) {
                    out += static_cast<char>(hexValue(static_cast<unsigned char>(in[j])) * 16 +
                                             hexValue(static_cast<unsigned char>(in[j + 1])));
                    i = j + 2;
                } else {
                    out += in.substr(i, j + 1 - i);  // "=X", the next one read again
                    i = j + 1;
                }
                continue;
            }
            while (j < in.size() && (in[j] == '\r' || in[j] == ' ' || in[j] == '\t')) ++j;
            if (j < in.size() && in[j] == '\n') {
                i = j + 1;  // soft break
            } else {
                out += in.substr(i, j - i);
                i = j;
            }
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (held.size() == 100) {
                out += held;
                held.clear();
            }
            held += static_cast<char>(c);
        } else if (c == '\n') {
            held.clear();
            out += crlf ? "\r\n" : "\n";
        } else if (c == '\r') {
        } else if (c > 32 && c < 127) {
            out += held;
            held.clear();
            out += static_cast<char>(c);
        } else {
            out += held;
            held.clear();
            if (c >= 128) out += static_cast<char>(c);
        }
        ++i;
    }
    return out + held;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    int crlf = data[0] & 1;
    const char* input = reinterpret_cast<const char*>(data + 1);
    int32_t length = static_cast<int32_t>(size - 1);
    char* out = nullptr;
    int32_t n = strDecodeQuotedPrintable(input, length, crlf, &out);
    if (length == 0) {
        if (n != 0 || out) std::abort();
        return 0;
    }
    if (!out || n < 0 || n > 2 * length || out[n] != '\0') std::abort();
    if (!crlf && n > length) std::abort();
    if (std::string(out, static_cast<size_t>(n)) !=
        reference(std::string(input, static_cast<size_t>(length)), crlf != 0))
        std::abort();
    memFree(out);
    return 0;
}
