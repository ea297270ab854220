// The news article parser over arbitrary bytes: never crashes, and a body is only
// found between the header end and the end marker.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import/nntpparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string raw(reinterpret_cast<const char*>(data), size);
    NntpArticle a = nntpParseArticle(raw);
    if (a.body && raw.find("\n.") == std::string::npos) std::abort();
    return 0;
}
