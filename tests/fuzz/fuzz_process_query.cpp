// Content to query: any text gives either nothing or a sequence of upper-case words
// each followed by "~+", without duplicates; the query-text normaliser stays inside
// the buffer it is given; the word list takes any text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ixo_text.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void checkTerms(const char* q, size_t maxWords, size_t maxLength) {
    std::set<std::string> seen;
    const char* p = q;
    while (*p) {
        const char* start = p;
        while ((*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9')) ++p;
        size_t length = static_cast<size_t>(p - start);
        check(length > 0 && length <= maxLength);
        check(p[0] == '~' && p[1] == '+');
        check(seen.insert(std::string(start, length)).second);
        p += 2;
    }
    check(seen.size() <= maxWords);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* s = text.c_str();

    char* q = nullptr;
    int32_t rc = ixoProcessContentToQuery(s, &q);
    if (*s == '\0') {
        check(rc == -5 && q == nullptr);
    } else {
        check(rc == 1 && q != nullptr);
        checkTerms(q, 200, 256);
        memFree(q);
        check(ixoProcessContentToQueryWithTruncate(s, 5, &q) == 1);
        checkTerms(q, SIZE_MAX, 5);
        memFree(q);
    }

    // A small buffer with guard bytes after it.
    std::vector<char> out(64 + 8, '#');
    check(ixoProcessQueryText(s, out.data(), 64) == 1);
    check(std::strlen(out.data()) < 64);
    for (size_t i = 64; i < out.size(); ++i) check(out[i] == '#');

    WordList* list = ixoWordListCreate();
    check(list != nullptr);
    check(ixoWordListAddText(list, s, ixoSuggestSeparators()) == 1);
    char* built = ixoWordListBuildQuery(list, "+", size % 16);
    check(built != nullptr);
    memFree(built);
    ixoWordListDestroy(&list);

    std::string word = text.substr(0, 600);
    ixoWordFilter(word.data());
    return 0;
}
