// Date parsing by template over arbitrary input: the bytes up to the first line feed
// are the template, the rest is the text. Each template is also used for formatting.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "support/dateutil.h"

namespace {

const char* const kLong[] = {"", "X", "LONGMONTH"};
const char* const kShort[] = {"1", "ST"};
const char* const kEndings[] = {"", "TH", "."};
const DateNames kOddNames = {3, kLong, 2, kShort, 3, kEndings, 0, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool zoneSet = [] {
        setenv("TZ", "UTC", 1);
        tzset();
        return true;
    }();
    (void)zoneSet;

    // Exact-length copies (zero-terminated) so any overread past either part is seen.
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* nl = std::memchr(bytes, '\n', size);
    size_t cut = nl ? static_cast<size_t>(static_cast<const char*>(nl) - bytes) : size;
    std::string tmpl(bytes, cut);
    std::string text = nl ? std::string(bytes + cut + 1, size - cut - 1) : std::string();

    int64_t seconds = 0;
    dateParse(nullptr, text.c_str(), tmpl.c_str(), &seconds);
    dateParse(&kOddNames, text.c_str(), tmpl.c_str(), &seconds);

    char* out = dateFormat(tmpl.c_str(), seconds);
    if (out) memFree(out);
    return 0;
}
