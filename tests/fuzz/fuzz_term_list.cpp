// Term-list, document-id-list and stop-list replies: arbitrary bytes never make the
// parsers read outside the reply, and every entry points into it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ixo_results.h"
#include "ixo_text.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool inside(const char* base, size_t length, const char* p) {
    return p >= base && p <= base + length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const char* text = reinterpret_cast<const char*>(data);

    for (int32_t weights = 0; weights < 2; ++weights) {
        char* reply = memStrNDup(text, size);
        size_t length = std::strlen(reply);
        IxoTermList list;
        int32_t rc = ixoParseTermList(&list, reply, weights);
        if (rc == 1) {
            check(list.count > 0 && list.text == reply);
            for (int32_t i = 0; i < list.count; ++i) {
                check(inside(reply, length, list.terms[i].term));
                check(weights || list.terms[i].weight == -1);
            }
            ixoDestroyTermList(&list);
        } else {
            check(rc == -6 && list.text == nullptr);
            memFree(reply);
        }
    }

    char* reply = memStrNDup(text, size);
    size_t length = std::strlen(reply);
    IxoDocIdList ids;
    check(ixoParseDocIdList(&ids, reply) == 1);
    for (int32_t i = 0; i < ids.count; ++i) {
        const IxoDocIdEntry& e = ids.entries[i];
        check(inside(reply, length, e.term) && inside(reply, length, e.text));
        check(e.idCount >= 0 && (e.idCount == 0 || e.ids != nullptr));
        int64_t sum = 0;
        for (int32_t j = 0; j < e.idCount; ++j) sum += e.ids[j];
        (void)sum;
    }
    ixoDestroyDocIdList(&ids);

    char* copy = memStrNDup(text, size);
    int32_t count = 0;
    char** words = nullptr;
    int32_t rc = ixoParseStoplist(copy, &count, &words);
    check(rc == 1 || rc == -9);
    for (int32_t i = 0; i < count; ++i) check(words[i] && words[i][0] != '\0');
    ixoFreeStoplist(&words, count);
    memFree(copy);
    return 0;
}
