// The term weight file reader: any bytes either give no table or a table whose every
// lookup stays inside it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/texttoquery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto table = agent::TermWeightTable::parse(data, size);
    if (!table) return 0;
    static const char* kTerms[] = {"A", "APPLE", "INTERNATIONALISATION", "ZZZZZZZZZZ", ""};
    for (const char* term : kTerms) {
        int w = table->weight(term);
        if (w < 0 || w > 255) __builtin_trap();
    }
    // Terms taken from the input itself reach real entries.
    std::string tail(reinterpret_cast<const char*>(data), size > 24 ? 24 : size);
    table->weight(tail.c_str());
    return 0;
}
