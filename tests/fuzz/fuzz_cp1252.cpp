// The command-line text edge: any bytes converted from UTF-8 to Windows-1252 never grow
// and never lose a byte that was not UTF-8; Windows-1252 text taken out to UTF-8 and
// back in is unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/cp1252.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string single = utf8ToCp1252(bytes);
    if (single.size() > bytes.size()) std::abort();
    // Plain ASCII passes unchanged.
    bool ascii = true;
    for (unsigned char c : bytes) ascii = ascii && c < 0x80;
    if (ascii && single != bytes) std::abort();
    // Out and back in: the same single-byte text, for the input as Windows-1252 and for
    // the converted text.
    if (utf8ToCp1252(cp1252ToUtf8(bytes)) != bytes) std::abort();
    if (utf8ToCp1252(cp1252ToUtf8(single)) != single) std::abort();
    return 0;
}
