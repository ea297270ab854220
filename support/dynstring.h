/* Growable zero-terminated text. The record and its buffer belong to whoever created
 * it; dynStringDestroy releases both, dynStringDetach hands the buffer over. */
#ifndef SAPIOLUX_DYNSTRING_H
#define SAPIOLUX_DYNSTRING_H

#include <stdarg.h>
#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DynString {
    char* text;       /* always zero-terminated; capacity + 1 bytes */
    int32_t capacity; /* usable bytes in text */
    int32_t length;   /* bytes in use, without the terminator */
} DynString;

/* An empty string with text (may be null) appended. Null when memory ran out. */
SAPIOLUX_EXPORT DynString* dynStringCreate(const char* text);
/* A buffer of capacity + 1 zeroed bytes, then text (may be null) appended. */
SAPIOLUX_EXPORT DynString* dynStringCreateWithCapacity(int32_t capacity, const char* text);
/* printf-style formatting into a fresh string of capacity 1024 (grown when needed). */
SAPIOLUX_EXPORT DynString* dynStringCreateFormatted(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

/* Appends a zero-terminated text. Returns 0, or -1 when growing failed (the string
 * then keeps its old content). */
SAPIOLUX_EXPORT int dynStringAppend(DynString* s, const char* text);
/* Appends n bytes, which may include zero bytes. Returns 0 or -1 as above. */
SAPIOLUX_EXPORT int dynStringAppendBytes(DynString* s, const void* bytes, int32_t n);
SAPIOLUX_EXPORT int dynStringAppendFormatted(DynString* s, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
SAPIOLUX_EXPORT int dynStringAppendFormattedV(DynString* s, const char* format, va_list args);

/* Length 0, empty text; the buffer stays allocated. */
SAPIOLUX_EXPORT void dynStringClear(DynString* s);
/* Reallocates the buffer to capacity usable bytes (the text is cut to fit). */
SAPIOLUX_EXPORT int dynStringResize(DynString* s, int32_t capacity);
/* Hands the text buffer to the caller (release with memFree), releases the record
 * and sets *s to null. */
SAPIOLUX_EXPORT char* dynStringDetach(DynString** s);
/* Releases buffer and record and sets *s to null; null is harmless. */
SAPIOLUX_EXPORT void dynStringDestroy(DynString** s);

#ifdef __cplusplus
}
#endif

#endif
