// Results text: parsing arbitrary replies in both forms never reads outside the
// reply, every record text lies inside it, and writing the records and parsing that
// text again gives the same records. Also the block and field-value helpers and the
// simple output filter.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ixo_results.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool inside(const IxoQueryResult& r, const char* p) {
    return p >= r.text && p <= r.text + r.textLength;
}

bool same(const char* a, const char* b) {
    return std::strcmp(a ? a : "", b ? b : "") == 0;
}

void parseAndCheck(const char* data, size_t size, int32_t fullForm) {
    char* reply = memStrNDup(data, size);
    IxoQueryResult r;
    int32_t rc = ixoGetResultsFromBuffer(&r, reply, fullForm);
    if (rc != 1) {
        check(rc == -5 && r.text == nullptr && r.hitCount == 0);
        memFree(reply);
        return;
    }
    check(r.hitCount >= 0 && r.text == reply);
    for (int32_t i = 0; i < r.hitCount; ++i) {
        const IxoResultRecord& rec = r.records[i];
        check(inside(r, rec.name) && inside(r, rec.title));
        check(fullForm ? inside(r, rec.links) : rec.links == nullptr);
        for (int32_t j = 0; j < rec.fieldCount; ++j)
            check(inside(r, rec.fields[j].name) && inside(r, rec.fields[j].value));
    }
    if (fullForm == 1 && r.hitCount > 0) {
        char* text = nullptr;
        check(ixoWriteResultsArrayToBuffer(r.hitCount, r.records, &text) == 1);
        IxoQueryResult again;
        check(ixoGetResultsFromBuffer(&again, text, 1) == 1);
        check(again.hitCount == r.hitCount);
        for (int32_t i = 0; i < r.hitCount; ++i) {
            const IxoResultRecord& a = r.records[i];
            const IxoResultRecord& b = again.records[i];
            check(same(a.name, b.name) && same(a.title, b.title) && same(a.links, b.links));
            check(a.docId == b.docId && a.weight == b.weight && a.database == b.database);
            check(a.fieldCount == b.fieldCount);
            for (int32_t j = 0; j < a.fieldCount; ++j)
                check(same(a.fields[j].name, b.fields[j].name) &&
                      same(a.fields[j].value, b.fields[j].value));
        }
        ixoDestroyQueryResult(&again);
    }
    ixoDestroyQueryResult(&r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    parseAndCheck(text, size, 1);
    parseAndCheck(text, size, 0);

    std::string copy(text, size);
    const char* s = copy.c_str();
    ixoGetResultsNumber(s);
    for (int32_t i = 0; i < 3; ++i) {
        char* block = ixoGetResultsRecord(s, i, "Doc_name=");
        if (!block) break;
        char* value = ixoGetResultsFieldValue(block, "URL_title");
        if (value) memFree(value);
        value = ixoGetResultsFieldValue(block, "links");
        if (value) memFree(value);
        memFree(block);
    }

    std::string filtered = copy;
    int32_t n = ixoSimpleOutputFilterText(filtered.data());
    check(n >= 0 && static_cast<size_t>(n) <= std::strlen(s));
    // The buffer form reads and writes only the bytes it is given.
    if (size > 0) {
        char* buffer = static_cast<char*>(std::malloc(size));
        std::memcpy(buffer, data, size);
        n = ixoSimpleOutputFilterBuffer(buffer, static_cast<int32_t>(size));
        check(n >= 0 && static_cast<size_t>(n) < size && buffer[n] == '\0');
        std::free(buffer);
    }
    return 0;
}
