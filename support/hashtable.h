/* A chained hash table of untyped word-sized keys and values with caller-supplied
 * hash and comparison. Keys and values belong to the caller; the table owns only its
 * entries and bucket array. Null keys are not allowed. */
#ifndef SAPIOLUX_HASHTABLE_H
#define SAPIOLUX_HASHTABLE_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0 means "equal". */
typedef int32_t (*HashTableCompare)(const void* a, const void* b);
typedef uint32_t (*HashTableHash)(const void* key);
typedef void (*HashTableVisit)(void* item, void* context);

typedef struct HashEntry {
    void* key;
    void* value;
    struct HashEntry* next;
} HashEntry;

typedef struct HashTable {
    int32_t sizeLimit;    /* largest bucket count allowed; -1: no limit */
    uint32_t bucketCount; /* 11 unless the creator gives another size */
    float maxLoadFactor;  /* 5.0 */
    int frozen;           /* set: the table does not grow */
    uint32_t count;       /* entries held */
    HashTableCompare compare;
    HashTableHash hash;
    HashEntry** buckets; /* owned array of bucketCount chain heads */
} HashTable;

#define HASHTABLE_DEFAULT_BUCKETS 11
#define HASHTABLE_MAX_LOAD_FACTOR 5.0f

/* A new table of bucketCount buckets (0 gives 11). A null compare orders the keys as
 * words; a null hash uses the key itself. Null when memory ran out. */
SAPIOLUX_EXPORT HashTable* hashTableCreate(uint32_t bucketCount, HashTableCompare compare,
                                           HashTableHash hash);
/* Releases all entries, the bucket array and the table and sets *ht to null. */
SAPIOLUX_EXPORT void hashTableDestroy(HashTable** ht);

/* Puts key and value at the head of the key's chain and returns 0; -1 when the key is
 * already present (its value is kept). After the insert the table grows to
 * 2 x buckets + 1 (never past the size limit) when the load factor exceeds the
 * maximum and the table is not frozen. */
SAPIOLUX_EXPORT int32_t hashTableInsert(HashTable* ht, void* key, void* value);
/* The value stored under key, or null. */
SAPIOLUX_EXPORT void* hashTableFind(const HashTable* ht, const void* key);
/* Removes the entry of key when there is one: 1 when removed, 0 when absent. */
SAPIOLUX_EXPORT int hashTableRemove(HashTable* ht, const void* key);
/* Calls visit with every key or every value, bucket by bucket, in chain order. */
SAPIOLUX_EXPORT void hashTableForEachKey(const HashTable* ht, HashTableVisit visit, void* context);
SAPIOLUX_EXPORT void hashTableForEachValue(const HashTable* ht, HashTableVisit visit,
                                           void* context);
/* Entries held (0 for a null table). */
SAPIOLUX_EXPORT uint32_t hashTableCount(const HashTable* ht);
/* Largest bucket count allowed (-1: no limit). */
SAPIOLUX_EXPORT void hashTableSetSizeLimit(HashTable* ht, int32_t limit);
/* A frozen table keeps its bucket count. */
SAPIOLUX_EXPORT void hashTableSetFrozen(HashTable* ht, int frozen);

/* Functions for keys that are zero-terminated texts: strHash of the text, and strcmp
 * order (case-sensitive). */
SAPIOLUX_EXPORT uint32_t hashTableStringHash(const void* key);
SAPIOLUX_EXPORT int32_t hashTableStringCompare(const void* a, const void* b);

#ifdef __cplusplus
}
#endif

#endif
