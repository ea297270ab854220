// The single-file store reader on arbitrary bytes: the input (with the store signature
// put in front so the walk gets past the check) is opened, walked and every message
// copied. Every walk must end, and no copy may be larger than the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_mailstore.h"
#include "import/oe5parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.size() >= 4 && !(bytes[0] & 1)) bytes.replace(0, 4, "\xCF\xAD\x12\xFE");
    fuzzmail::write("store.dbx", bytes);
    Oe5Mailbox* box = nullptr;
    if (oe5Open(fuzzmail::path("store").c_str(), &box) != OE5_OK) return 0;
    std::string out = fuzzmail::path("out.eml");
    size_t steps = 0;
    int rc;
    while ((rc = oe5NextMessage(box)) != OE5_END) {
        if (++steps > 2 * size + 10) std::abort();  // every position is walked once
        if (rc != OE5_OK) continue;
        char* ref = oe5MessageReference(box);
        if (!ref) std::abort();
        memFree(ref);
        oe5CopyMessage(box, out.c_str());
    }
    oe5Close(&box);
    return 0;
}
