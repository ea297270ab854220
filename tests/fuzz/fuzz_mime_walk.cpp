// The MIME walk over arbitrary bytes: parsing, document values and the attachment file
// names must never crash, read outside the input or produce unsafe names.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import/emlimport.h"
#include "import/emlparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string raw(reinterpret_cast<const char*>(data), size);
    EmlMessage m = emlParseMessage(raw);
    SrcFileSpec spec;
    emlSetImportDetails(nullptr, m, raw, &spec, nullptr);
    for (const EmlPart& part : m.parts) {
        if (!part.fileName) continue;
        const std::string safe = emlSafeFileName(*part.fileName);
        if (safe.find_first_of("/\\") != std::string::npos || safe == "." || safe == "..")
            std::abort();
        if (safe.size() > 150) std::abort();
    }
    emlDecodeHeaderText(raw);
    return 0;
}
