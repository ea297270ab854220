/* One allocator for every library of the project, and its release operation.
 *
 * memAlloc gives zero-filled blocks and null for a size of 0. Every owned pointer is
 * released with memFree(p), which frees the block and sets p to null; releasing a
 * null pointer does nothing. Texts, arrays and records that a library function
 * returns are released by the caller the same way unless the function's own destroy
 * call says otherwise. */
#ifndef SAPIOLUX_MEMUTIL_H
#define SAPIOLUX_MEMUTIL_H

#include <stddef.h>

#include "sapiolux_version.h"

/* SAPIOLUX_EXPORT marks the exported functions. On Windows a library is built with
 * SAPIOLUX_BUILDING_LIBRARY defined (exports) and used without it (imports), or
 * everything with SAPIOLUX_STATIC when linked statically. Elsewhere GCC and Clang give
 * the functions default visibility in libraries built with hidden visibility; other
 * compilers export everything anyway. */
#ifndef SAPIOLUX_EXPORT
#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(SAPIOLUX_STATIC)
#define SAPIOLUX_EXPORT
#elif defined(SAPIOLUX_BUILDING_LIBRARY)
#define SAPIOLUX_EXPORT __declspec(dllexport)
#else
#define SAPIOLUX_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define SAPIOLUX_EXPORT __attribute__((visibility("default")))
#else
#define SAPIOLUX_EXPORT
#endif
#endif

/* A function that does not return. */
#if defined(__GNUC__) || defined(__clang__)
#define SAPIOLUX_NORETURN __attribute__((noreturn))
#elif defined(_MSC_VER)
#define SAPIOLUX_NORETURN __declspec(noreturn)
#else
#define SAPIOLUX_NORETURN
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Zero-filled block of size bytes; null when size is 0 or memory ran out. */
SAPIOLUX_EXPORT void* memAlloc(size_t size);
/* Resizes a block from memAlloc (null p allocates). The block's new tail is not
 * cleared. Null when memory ran out; p is then left untouched. */
SAPIOLUX_EXPORT void* memRealloc(void* p, size_t size);
/* Copies of a text (or its first n bytes, terminated); null for a null text. */
SAPIOLUX_EXPORT char* memStrDup(const char* text);
SAPIOLUX_EXPORT char* memStrNDup(const char* text, size_t n);
/* Frees *pointer and sets it to null. file and line name the caller for the notice
 * composed when *pointer is already null. */
SAPIOLUX_EXPORT void memRelease(void** pointer, const char* file, int line);

#define memFree(p) memRelease((void**)&(p), __FILE__, __LINE__)

/* Prints "ASSERT_a failed: %s\n" with the condition on standard error and ends the
 * process. */
SAPIOLUX_NORETURN SAPIOLUX_EXPORT void assertFailed(const char* condition);

#define ASSERT_a(condition) ((condition) ? (void)0 : assertFailed(#condition))

#ifdef __cplusplus
}
#endif

#endif
