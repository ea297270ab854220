/* A growable vector of untyped word-sized items (pointers, or integers cast to
 * pointers) with a caller-supplied comparison. The vector never owns what its items
 * point to. */
#ifndef SAPIOLUX_PTRVECTOR_H
#define SAPIOLUX_PTRVECTOR_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0 means "equal". */
typedef int32_t (*PtrVectorCompare)(const void* item, const void* key);
typedef void (*PtrVectorVisit)(void* item, void* context);

typedef struct PtrVector {
    PtrVectorCompare compare; /* null: items equal the key when they are the same word */
    uint32_t capacity;        /* slots allocated */
    uint32_t count;           /* items held */
    void** items;             /* owned array of capacity slots */
} PtrVector;

/* Capacity taken by the first append to a vector without slots. */
#define PTRVECTOR_DEFAULT_CAPACITY 8

/* Sets up a vector in place with room for capacity items (0: none until the first
 * append). 0, or -1 for a null vector or when memory ran out. */
SAPIOLUX_EXPORT int ptrVectorInit(PtrVector* v, uint32_t capacity, PtrVectorCompare compare);
/* A new vector; release with ptrVectorDestroy. Null when memory ran out. */
SAPIOLUX_EXPORT PtrVector* ptrVectorCreate(uint32_t capacity, PtrVectorCompare compare);
/* Releases the item array and the record and sets *v to null; null is harmless. */
SAPIOLUX_EXPORT void ptrVectorDestroy(PtrVector** v);

/* Stores item at the end, doubling the item array when it is full (an array without
 * slots gets PTRVECTOR_DEFAULT_CAPACITY). Returns the item's index, -1 for a null
 * vector. */
SAPIOLUX_EXPORT int32_t ptrVectorAppend(PtrVector* v, void* item);
/* The item at index; null when index is not below the count. */
SAPIOLUX_EXPORT void* ptrVectorGet(const PtrVector* v, uint32_t index);
/* Replaces the item at index: 0, -2 when index is not below the count, -1 for a null
 * vector. */
SAPIOLUX_EXPORT int32_t ptrVectorSet(PtrVector* v, uint32_t index, void* item);
/* Removes the item at index and closes the gap: 0, -2 for a bad index, -1 for a null
 * vector. */
SAPIOLUX_EXPORT int32_t ptrVectorRemove(PtrVector* v, uint32_t index);
/* Index of the first item from start on that compares equal to key; -2 when none. */
SAPIOLUX_EXPORT int32_t ptrVectorFind(const PtrVector* v, const void* key, uint32_t start);
/* 1 when some item compares equal to key, else 0. */
SAPIOLUX_EXPORT int ptrVectorContains(const PtrVector* v, const void* key);
/* Calls visit with each item in order. */
SAPIOLUX_EXPORT void ptrVectorForEach(const PtrVector* v, PtrVectorVisit visit, void* context);
/* Items held (0 for a null vector). */
SAPIOLUX_EXPORT uint32_t ptrVectorCount(const PtrVector* v);
/* Releases the item array; count and capacity become 0. The vector stays usable. */
SAPIOLUX_EXPORT void ptrVectorClear(PtrVector* v);

#ifdef __cplusplus
}
#endif

#endif
