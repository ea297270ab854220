// The table-of-contents reader on arbitrary bytes: the first two bytes give the length
// of the table, the rest after it is the data file. With the low bit of the first byte
// clear, the table's count is made to agree with its size so the entries get read.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_mailstore.h"
#include "import/eudoraparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t split = static_cast<size_t>(data[0] | (data[1] << 8));
    std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    if (split > rest.size()) split = rest.size();
    std::string toc = rest.substr(0, split), mbx = rest.substr(split);
    if (!(data[0] & 1) && toc.size() >= EUDORA_TOC_HEADER_SIZE) {
        size_t count = (toc.size() - EUDORA_TOC_HEADER_SIZE) / EUDORA_TOC_ENTRY_SIZE;
        toc.resize(EUDORA_TOC_HEADER_SIZE + count * EUDORA_TOC_ENTRY_SIZE);
        toc[102] = static_cast<char>(count & 0xff);
        toc[103] = static_cast<char>(count >> 8);
    }
    fuzzmail::write("box.toc", toc);
    fuzzmail::write("box.mbx", mbx);
    EudoraMailbox* box = nullptr;
    if (eudoraOpen(fuzzmail::path("box").c_str(), &box) != EUDORA_OK) return 0;
    std::string out = fuzzmail::path("out.htm");
    int rc;
    int whole = 0;
    while ((rc = eudoraNextMessage(box)) != EUDORA_END) {
        if (rc != EUDORA_OK) continue;
        const EudoraMessage* m = eudoraCurrentMessage(box);
        if (uint64_t{m->position} + m->length > mbx.size()) std::abort();
        char* ref = eudoraMessageReference(box);
        if (!ref) std::abort();
        memFree(ref);
        eudoraCopyMessage(box, out.c_str(), whole);
        whole ^= 1;
    }
    eudoraClose(&box);
    return 0;
}
