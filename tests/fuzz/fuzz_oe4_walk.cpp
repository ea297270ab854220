// The index-and-data store reader on arbitrary bytes: the first two bytes give the
// length of the index file, the rest after it is the data file; both signatures are put
// in place so the records get read. Every walk must end within the record count.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_mailstore.h"
#include "import/outlookparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t split = static_cast<size_t>(data[0] | (data[1] << 8));
    std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    if (split > rest.size()) split = rest.size();
    std::string idx = rest.substr(0, split), mbx = rest.substr(split);
    if (idx.size() >= 4) idx.replace(0, 4, "JMF9");
    if (mbx.size() >= 4) mbx.replace(0, 4, "JMF6");
    fuzzmail::write("box.idx", idx);
    fuzzmail::write("box.mbx", mbx);
    Oe4Mailbox* box = nullptr;
    if (oe4Open(fuzzmail::path("box").c_str(), nullptr, &box) != OE4_OK) return 0;
    std::string out = fuzzmail::path("out.eml");
    int64_t steps = 0, limit = oe4MessageCount(box);
    int rc;
    while ((rc = oe4NextMessage(box)) != OE4_END) {
        if (++steps > limit + 1) std::abort();
        if (rc != OE4_OK) continue;
        char* ref = oe4MessageReference(box);
        if (!ref) std::abort();
        memFree(ref);
        oe4CopyMessage(box, out.c_str(), static_cast<int32_t>(steps & 1) * 64);
    }
    oe4Close(&box);
    return 0;
}
