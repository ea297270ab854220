// The client's reader of IDX text into a ContentRecord over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "contentrecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ContentRecord* record = nullptr;
    if (ixoContentTextToRecord(reinterpret_cast<const char*>(data), size, &record) != 1) return 0;
    // Every text the record holds lies within the input's length.
    size_t total = 0;
    for (int32_t i = 0; i < record->fieldCount; ++i)
        total += std::strlen(record->fieldNames[i]) + std::strlen(record->fieldValues[i]);
    if (record->content) total += std::strlen(record->content);
    if (total > size) std::abort();
    ixoDestroyContentRecord(record);
    return 0;
}
