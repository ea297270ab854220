// HTML to text: any fragment gives a terminated plain text without markup runs of white
// space, and decoding references never makes the text longer than transliteration allows.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "import/htmlparse.h"
#include "memutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (int flags : {0, kHtmlDecodeReferences, kHtmlDecodeReferences | kHtmlKeepLines}) {
        char* plain = htmlToText(text.c_str(), flags);
        if (plain == nullptr) std::abort();
        const size_t n = std::strlen(plain);
        if (n > 0 && (plain[0] == ' ' || plain[n - 1] == ' ' || plain[n - 1] == '\n')) std::abort();
        if (std::strstr(plain, "  ") != nullptr) std::abort();
        if (!(flags & kHtmlKeepLines) && std::strchr(plain, '\n') != nullptr) std::abort();
        memFree(plain);
    }
    return 0;
}
