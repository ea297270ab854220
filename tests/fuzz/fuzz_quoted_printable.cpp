// Quoted-printable decoding of arbitrary bytes: the output stays within its bound, is
// terminated, and decoding twice gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/strparse.h"

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
    char* again = nullptr;
    int32_t m = strDecodeQuotedPrintable(input, length, crlf, &again);
    if (m != n || std::memcmp(out, again, static_cast<size_t>(n)) != 0) std::abort();
    memFree(again);
    memFree(out);
    return 0;
}
