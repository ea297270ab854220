// The import reader over arbitrary bytes; what it reads is written again (plain and
// broken into sections) and must read back with the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import/idxreader.h"
#include "import/srcfile_spec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SrcFileSpec spec;
    idxReadDocument(&spec, reinterpret_cast<const char*>(data), size);

    std::string text;
    srcFileSpecBuildText(&spec, text);
    SrcFileSpec again;
    idxReadDocument(&again, text);
    if (again.fieldNames != spec.fieldNames || again.fieldValues != spec.fieldValues ||
        again.section != spec.section)
        std::abort();

    srcFileSpecAddSection(&spec, static_cast<int32_t>(size / 2), "anchor", "Heading");
    srcFileSpecAddSection(&spec, static_cast<int32_t>(size / 3), nullptr, nullptr);
    IdxBreakOptions breaking;
    breaking.lowerWords = 3;
    breaking.upperWords = 8;
    breaking.maxSections = 64;
    breaking.addAnchorNames = 1;
    srcFileSpecSetOutputForm(&spec, static_cast<int>(size & 1));
    srcFileSpecBuildText(&spec, text, &breaking);
    return 0;
}
