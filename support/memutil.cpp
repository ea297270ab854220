#include "memutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {

void* memAlloc(size_t size) {
    if (size == 0) return nullptr;
    return std::calloc(1, size);
}

void* memRealloc(void* p, size_t size) {
    if (size == 0) size = 1;
    return std::realloc(p, size);
}

char* memStrDup(const char* text) {
    if (!text) return nullptr;
    return memStrNDup(text, std::strlen(text));
}

char* memStrNDup(const char* text, size_t n) {
    if (!text) return nullptr;
    auto* copy = static_cast<char*>(memAlloc(n + 1));
    if (!copy) return nullptr;
    // Copy up to n bytes but stop at a terminator inside them.
    size_t len = 0;
    while (len < n && text[len]) ++len;
    std::memcpy(copy, text, len);
    return copy;
}

void memRelease(void** pointer, const char* file, int line) {
    if (!pointer || !*pointer) {
        // Releasing null is harmless: the notice is composed and dropped.
        char notice[512];
        std::snprintf(notice, sizeof notice, "memFree: tried to free NULL in %s at line %d\n",
                      file ? file : "?", line);
        (void)notice;
        return;
    }
    std::free(*pointer);
    *pointer = nullptr;
}

void assertFailed(const char* condition) {
    std::fprintf(stderr, "ASSERT_a failed: %s\n", condition ? condition : "");
    std::fflush(stderr);
    std::abort();
}

}  // extern "C"
