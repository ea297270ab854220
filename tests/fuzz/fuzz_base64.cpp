// Base64: encoding then decoding gives the input back, with and without line feeds;
// decoding arbitrary text never reads or writes out of bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/strutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    for (int lineBreaks = 0; lineBreaks < 2; ++lineBreaks) {
        char* text = strBase64Encode(data, static_cast<int32_t>(size), lineBreaks);
        if (size == 0) {
            if (text) std::abort();
            continue;
        }
        if (!text) std::abort();
        size_t groups = (size + 2) / 3, lines = lineBreaks ? (size + 50) / 51 : 0;
        if (std::strlen(text) != groups * 4 + lines) std::abort();
        int32_t n = -2;
        unsigned char* back = strBase64Decode(text, &n);
        if (!back || n != static_cast<int32_t>(size) || std::memcmp(back, data, size) != 0 ||
            back[n] != 0)
            std::abort();
        memFree(back);
        memFree(text);
    }

    // The input itself as Base64 text.
    std::string text(reinterpret_cast<const char*>(data), size);
    int32_t n = -2;
    unsigned char* decoded = strBase64Decode(text.c_str(), &n);
    if (decoded) {
        if (n <= 0 || static_cast<size_t>(n) > size || decoded[n] != 0) std::abort();
        memFree(decoded);
    } else if (n != 0 && n != -1) {
        std::abort();
    }
    return 0;
}
