#include "support/dynstring.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Reallocates the buffer to hold newCapacity usable bytes plus the terminator.
bool grow(DynString* s, int64_t newCapacity) {
    if (newCapacity > INT32_MAX - 1) return false;
    auto* text = static_cast<char*>(memRealloc(s->text, static_cast<size_t>(newCapacity) + 1));
    if (!text) return false;
    std::memset(text + s->length, 0, static_cast<size_t>(newCapacity - s->length) + 1);
    s->text = text;
    s->capacity = static_cast<int32_t>(newCapacity);
    return true;
}

DynString* createEmpty(int32_t capacity) {
    if (capacity < 0) capacity = 0;
    auto* s = static_cast<DynString*>(memAlloc(sizeof(DynString)));
    if (!s) return nullptr;
    s->text = static_cast<char*>(memAlloc(static_cast<size_t>(capacity) + 1));
    if (!s->text) {
        memFree(s);
        return nullptr;
    }
    s->capacity = capacity;
    s->length = 0;
    return s;
}

}  // namespace

extern "C" {

DynString* dynStringCreate(const char* text) { return dynStringCreateWithCapacity(0, text); }

DynString* dynStringCreateWithCapacity(int32_t capacity, const char* text) {
    DynString* s = createEmpty(capacity);
    if (s && text && dynStringAppend(s, text) != 0) dynStringDestroy(&s);
    return s;
}

DynString* dynStringCreateFormatted(const char* format, ...) {
    DynString* s = createEmpty(1024);
    if (!s) return nullptr;
    va_list args;
    va_start(args, format);
    int rc = dynStringAppendFormattedV(s, format, args);
    va_end(args);
    if (rc != 0) dynStringDestroy(&s);
    return s;
}

int dynStringAppend(DynString* s, const char* text) {
    if (!s || !text) return -1;
    size_t n = std::strlen(text);
    if (n > INT32_MAX) return -1;
    auto len = static_cast<int64_t>(n);
    if (s->length + len + 10 >= s->capacity &&
        !grow(s, (static_cast<int64_t>(s->capacity) + len) * 2 + 20))
        return -1;
    std::memcpy(s->text + s->length, text, n + 1);
    s->length += static_cast<int32_t>(len);
    return 0;
}

int dynStringAppendBytes(DynString* s, const void* bytes, int32_t n) {
    if (!s || n < 0 || (n > 0 && !bytes)) return -1;
    if (static_cast<int64_t>(s->length) + n > s->capacity &&
        !grow(s, (static_cast<int64_t>(s->capacity) + n) * 2 + 20))
        return -1;
    if (n > 0) std::memcpy(s->text + s->length, bytes, static_cast<size_t>(n));
    s->length += n;
    s->text[s->length] = '\0';
    return 0;
}

int dynStringAppendFormattedV(DynString* s, const char* format, va_list args) {
    if (!s || !format) return -1;
    // Format straight into the spare room; when it does not fit, grow to the needed
    // length and format again.
    va_list copy;
    va_copy(copy, args);
    int64_t room = static_cast<int64_t>(s->capacity) - s->length + 1;
    int needed = std::vsnprintf(s->text + s->length, static_cast<size_t>(room), format, copy);
    va_end(copy);
    if (needed < 0) {
        s->text[s->length] = '\0';
        return -1;
    }
    if (needed >= room) {
        s->text[s->length] = '\0';
        if (!grow(s, static_cast<int64_t>(s->length) + needed + 1)) return -1;
        std::vsnprintf(s->text + s->length, static_cast<size_t>(needed) + 1, format, args);
    }
    s->length += needed;
    return 0;
}

int dynStringAppendFormatted(DynString* s, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int rc = dynStringAppendFormattedV(s, format, args);
    va_end(args);
    return rc;
}

void dynStringClear(DynString* s) {
    if (!s) return;
    s->length = 0;
    if (s->text) s->text[0] = '\0';
}

int dynStringResize(DynString* s, int32_t capacity) {
    if (!s || capacity < 0) return -1;
    auto* text = static_cast<char*>(memRealloc(s->text, static_cast<size_t>(capacity) + 1));
    if (!text) return -1;
    if (capacity > s->capacity)
        std::memset(text + s->capacity, 0, static_cast<size_t>(capacity - s->capacity) + 1);
    s->text = text;
    s->capacity = capacity;
    if (s->length > capacity) s->length = capacity;
    s->text[s->length] = '\0';
    return 0;
}

char* dynStringDetach(DynString** s) {
    if (!s || !*s) return nullptr;
    char* text = (*s)->text;
    (*s)->text = nullptr;
    memFree(*s);
    return text;
}

void dynStringDestroy(DynString** s) {
    if (!s || !*s) return;
    memFree((*s)->text);
    memFree(*s);
}

}  // extern "C"
