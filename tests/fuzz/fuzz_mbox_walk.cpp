// The mbox reader on arbitrary bytes: every message found lies inside the file, every
// walk ends, and separator lines of any shape give a time or 0.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_mailstore.h"
#include "import/mboxparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    mboxSeparatorTime(bytes.c_str());
    if (!(size & 1)) bytes.insert(0, "From ");
    fuzzmail::write("box", bytes);
    MboxMailbox* box = nullptr;
    if (mboxOpen(fuzzmail::path("box").c_str(), &box) != UNIXMAIL_OK) return 0;
    std::string out = fuzzmail::path("out.eml");
    size_t steps = 0;
    int rc;
    while ((rc = mboxNextMessage(box)) != UNIXMAIL_END) {
        if (++steps > bytes.size() + 1) std::abort();
        if (rc != UNIXMAIL_OK) continue;
        const UnixMailMessage* m = mboxCurrentMessage(box);
        if (m->position + m->length > bytes.size()) std::abort();
        char* ref = mboxMessageReference(box);
        if (!ref) std::abort();
        memFree(ref);
        mboxCopyMessage(box, out.c_str());
    }
    mboxClose(&box);
    return 0;
}
