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

#ifdef __cplusplus
extern "C" {
#endif

#define SAPIOLUX_EXPORT __attribute__((visibility("default")))

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
SAPIOLUX_EXPORT void assertFailed(const char* condition) __attribute__((noreturn));

#define ASSERT_a(condition) ((condition) ? (void)0 : assertFailed(#condition))

#ifdef __cplusplus
}
#endif

#endif
