// HTML scanner and character-set edge: any bytes scan without reading out of bounds,
// the counters match what was collected, anchors point into the body, and the
// conversion to Windows-1252 accepts anything.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "import/charset.h"
#include "import/htmlparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (int flags : {0, kHtmlDecodeReferences, kHtmlDecodeReferences | kHtmlKeepLines}) {
        HtmlParseRecord record;
        if (htmlParse(input, flags, record) != kHtmlParseOk) std::abort();
        if (record.bodyLength != static_cast<long>(record.body.size()) ||
            record.titleLength != static_cast<long>(record.title.size()) ||
            record.linkLength > record.bodyLength || record.headingCount > 4 ||
            record.metaNames.size() != record.metaValues.size())
            std::abort();
        for (const HtmlAnchorSection& anchor : record.anchors)
            if (anchor.offset < 0 || static_cast<size_t>(anchor.offset) > record.body.size())
                std::abort();
        if (!record.body.empty() && (record.body.back() == ' ' || record.body.back() == '\n'))
            std::abort();
    }
    std::string converted = charsetHtmlToWindows1252(input);
    if (charsetIsUtf8(input) && converted.size() > size * 4 + 16) std::abort();
    std::string decoded;
    size_t used = htmlDecodeReference(input, decoded);
    if (used > size || (used == 0 && !decoded.empty())) std::abort();
    return 0;
}
