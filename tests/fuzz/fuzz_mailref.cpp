// Mail references: parsing arbitrary text never reads out of bounds, and whatever parses
// is built back into a reference that parses to the same parts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "import/mailref.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // references are zero-terminated texts
    char* tag = nullptr;
    char* folder = nullptr;
    char* key = nullptr;
    int64_t time = 0;
    if (mailrefParse(text.c_str(), nullptr, &tag, &folder, &key, &time) == MAILREF_OK) {
        char* again = mailrefFormat(tag, folder, key, time);
        if (!again) std::abort();
        char* tag2 = nullptr;
        char* folder2 = nullptr;
        char* key2 = nullptr;
        int64_t time2 = 0;
        if (mailrefParse(again, tag, &tag2, &folder2, &key2, &time2) != MAILREF_OK ||
            std::strcmp(folder, folder2) != 0 || std::strcmp(key, key2) != 0 || time != time2)
            std::abort();
        memFree(tag2);
        memFree(folder2);
        memFree(key2);
        memFree(again);
        memFree(tag);
        memFree(folder);
        memFree(key);
    }
    // Encoding then decoding any text gives it back.
    char* encoded = mailrefUrlEncode(text.c_str());
    char* decoded = mailrefUrlDecode(encoded);
    if (!decoded || std::strcmp(decoded, text.c_str()) != 0) std::abort();
    memFree(decoded);
    memFree(encoded);
    char* raw = mailrefUrlDecode(text.c_str());
    if (raw) memFree(raw);
    return 0;
}
