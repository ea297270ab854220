#include "support/dynstring.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

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

// Grows by the doubling rule, (capacity + n) * 2 + 20; near the size limit, where
// doubling is impossible, to just what is needed instead.
bool growFor(DynString* s, int64_t n, int64_t needed) {
    return grow(s, (static_cast<int64_t>(s->capacity) + n) * 2 + 20) || grow(s, needed);
}

// Appends n bytes. Text appends grow when length + n + 10 reaches the capacity, byte
// appends when length + n exceeds it. The bytes may lie inside the string's own buffer
// (appending a string to itself): they are located again after the buffer moved.
int appendRaw(DynString* s, const char* bytes, int64_t n, bool textRule) {
    int64_t needed = static_cast<int64_t>(s->length) + n;
    if (needed > INT32_MAX - 1) return -1;
    const char* base = s->text;
    bool inside = base && bytes >= base && bytes <= base + s->capacity;
    size_t offset = inside ? static_cast<size_t>(bytes - base) : 0;
    bool full = textRule ? needed + 10 >= s->capacity : needed > s->capacity;
    if (full && !growFor(s, n, needed)) return -1;
    if (inside) bytes = s->text + offset;
    if (n > 0) std::memmove(s->text + s->length, bytes, static_cast<size_t>(n));
    s->length = static_cast<int32_t>(needed);
    s->text[s->length] = '\0';
    return 0;
}

// printf-style formatting into out; false when the format is unusable.
bool formatInto(std::string& out, const char* format, va_list args) {
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return false;
    if (static_cast<size_t>(needed) < sizeof small) {
        out.assign(small, static_cast<size_t>(needed));
        return true;
    }
    out.assign(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(needed));
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

DynString* dynStringCreate(const char* text) {
    return dynStringCreateWithCapacity(0, text);
}

DynString* dynStringCreateWithCapacity(int32_t capacity, const char* text) {
    DynString* s = createEmpty(capacity);
    if (s && text && dynStringAppend(s, text) != 0) dynStringDestroy(&s);
    return s;
}

DynString* dynStringCreateFormatted(const char* format, ...) {
    if (!format) return nullptr;
    std::string text;
    va_list args;
    va_start(args, format);
    bool ok = false;
    try {
        ok = formatInto(text, format, args);
    } catch (...) {
    }
    va_end(args);
    if (!ok || text.size() > static_cast<size_t>(INT32_MAX) - 2) return nullptr;
    // Capacity 1024, or the needed length + 1 when the text does not fit in it.
    auto n = static_cast<int32_t>(text.size());
    DynString* s = createEmpty(n < 1024 ? 1024 : n + 1);
    if (!s) return nullptr;
    std::memcpy(s->text, text.data(), text.size());
    s->length = n;
    return s;
}

int dynStringAppend(DynString* s, const char* text) {
    if (!s || !text) return -1;
    // Grows when length + text length + 10 reaches the capacity.
    return appendRaw(s, text, static_cast<int64_t>(std::strlen(text)), true);
}

int dynStringAppendBytes(DynString* s, const void* bytes, int32_t n) {
    if (!s || n < 0 || (n > 0 && !bytes)) return -1;
    // Grows when length + n exceeds the capacity.
    return appendRaw(s, static_cast<const char*>(bytes), n, false);
}

int dynStringAppendFormattedV(DynString* s, const char* format, va_list args) {
    if (!s || !format) return -1;
    // Formatted apart first, so arguments may point into the string itself.
    std::string text;
    try {
        if (!formatInto(text, format, args)) return -1;
    } catch (...) {
        return -1;
    }
    return appendRaw(s, text.data(), static_cast<int64_t>(text.size()), true);
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
