#include "support/hashtable.h"

#include <cstdint>
#include <cstring>

#include "support/strutil.h"

namespace {

// The table's invariants; a failure prints the condition and ends the process.
#define TABLE_CHECK(condition, text) ((condition) ? (void)0 : assertFailed(text))

// Keys compare as words. A plain difference would be cut to 32 bits and could call two
// distinct 64-bit words equal, so the order is computed instead.
int32_t wordCompare(const void* a, const void* b) {
    auto x = reinterpret_cast<uintptr_t>(a);
    auto y = reinterpret_cast<uintptr_t>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

uint32_t wordHash(const void* key) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
}

uint32_t bucketOf(const HashTable* ht, const void* key) {
    return ht->hash(key) % ht->bucketCount;
}

float loadFactor(const HashTable* ht) {
    return static_cast<float>(ht->count) / static_cast<float>(ht->bucketCount);
}

bool belowLimit(const HashTable* ht) {
    return ht->sizeLimit < 0 || ht->bucketCount < static_cast<uint32_t>(ht->sizeLimit);
}

bool shouldGrow(const HashTable* ht) {
    return !ht->frozen && loadFactor(ht) > ht->maxLoadFactor && belowLimit(ht);
}

// Moves every entry into a bucket array of 2 x count + 1 buckets (at most the size
// limit). When the larger array cannot be had the table keeps its buckets: it still
// works, only with longer chains.
void grow(HashTable* ht) {
    TABLE_CHECK(shouldGrow(ht), "_HT_SHOULD_GROW( ht )");
    uint64_t wanted = uint64_t{ht->bucketCount} * 2 + 1;
    if (ht->sizeLimit >= 0 && wanted > static_cast<uint64_t>(ht->sizeLimit)) wanted = ht->sizeLimit;
    if (wanted > UINT32_MAX) wanted = UINT32_MAX;
    auto newCount = static_cast<uint32_t>(wanted);
    auto** fresh = static_cast<HashEntry**>(memAlloc(sizeof(HashEntry*) * size_t{newCount}));
    if (!fresh) return;

    for (uint32_t b = 0; b < ht->bucketCount; ++b) {
        HashEntry* e = ht->buckets[b];
        while (e) {
            HashEntry* next = e->next;
            uint32_t nb = ht->hash(e->key) % newCount;
            e->next = fresh[nb];
            fresh[nb] = e;
            e = next;
        }
    }
    memFree(ht->buckets);
    ht->buckets = fresh;
    ht->bucketCount = newCount;
}

void visitAll(const HashTable* ht, HashTableVisit visit, void* context, bool keys) {
    TABLE_CHECK(ht != nullptr, "ht != NULL");
    if (!visit) return;
    for (uint32_t b = 0; b < ht->bucketCount; ++b) {
        for (HashEntry* e = ht->buckets[b]; e; e = e->next)
            visit(keys ? e->key : e->value, context);
    }
}

}  // namespace

extern "C" {

HashTable* hashTableCreate(uint32_t bucketCount, HashTableCompare compare, HashTableHash hash) {
    auto* ht = static_cast<HashTable*>(memAlloc(sizeof(HashTable)));
    if (!ht) return nullptr;
    ht->sizeLimit = -1;
    ht->bucketCount = bucketCount ? bucketCount : HASHTABLE_DEFAULT_BUCKETS;
    ht->maxLoadFactor = HASHTABLE_MAX_LOAD_FACTOR;
    ht->frozen = 0;
    ht->count = 0;
    ht->compare = compare ? compare : wordCompare;
    ht->hash = hash ? hash : wordHash;
    ht->buckets = static_cast<HashEntry**>(memAlloc(sizeof(HashEntry*) * size_t{ht->bucketCount}));
    if (!ht->buckets) {
        memFree(ht);
        return nullptr;
    }
    return ht;
}

void hashTableDestroy(HashTable** ht) {
    if (!ht || !*ht) return;
    HashTable* t = *ht;
    for (uint32_t b = 0; b < t->bucketCount; ++b) {
        HashEntry* e = t->buckets[b];
        while (e) {
            HashEntry* next = e->next;
            memFree(e);
            e = next;
        }
    }
    memFree(t->buckets);
    memFree(*ht);
}

int32_t hashTableInsert(HashTable* ht, void* key, void* value) {
    TABLE_CHECK(ht != nullptr, "ht != NULL");
    TABLE_CHECK(key != nullptr, "key != NULL");
    uint32_t b = bucketOf(ht, key);
    for (HashEntry* e = ht->buckets[b]; e; e = e->next) {
        if (ht->compare(key, e->key) == 0) return -1;
    }
    auto* entry = static_cast<HashEntry*>(memAlloc(sizeof(HashEntry)));
    TABLE_CHECK(entry != nullptr, "hcode != NULL");
    entry->key = key;
    entry->value = value;
    entry->next = ht->buckets[b];
    ht->buckets[b] = entry;
    ++ht->count;
    if (shouldGrow(ht)) grow(ht);
    return 0;
}

void* hashTableFind(const HashTable* ht, const void* key) {
    TABLE_CHECK(ht != nullptr, "ht != NULL");
    TABLE_CHECK(key != nullptr, "key != NULL");
    for (HashEntry* e = ht->buckets[bucketOf(ht, key)]; e; e = e->next) {
        if (ht->compare(key, e->key) == 0) return e->value;
    }
    return nullptr;
}

int hashTableRemove(HashTable* ht, const void* key) {
    TABLE_CHECK(ht != nullptr, "ht != NULL");
    TABLE_CHECK(key != nullptr, "key != NULL");
    HashEntry** link = &ht->buckets[bucketOf(ht, key)];
    while (*link) {
        HashEntry* e = *link;
        if (ht->compare(key, e->key) == 0) {
            *link = e->next;
            memFree(e);
            --ht->count;
            return 1;
        }
        link = &e->next;
    }
    return 0;
}

void hashTableForEachKey(const HashTable* ht, HashTableVisit visit, void* context) {
    visitAll(ht, visit, context, true);
}

void hashTableForEachValue(const HashTable* ht, HashTableVisit visit, void* context) {
    visitAll(ht, visit, context, false);
}

uint32_t hashTableCount(const HashTable* ht) {
    return ht ? ht->count : 0;
}

void hashTableSetSizeLimit(HashTable* ht, int32_t limit) {
    TABLE_CHECK(ht != nullptr, "ht != NULL");
    ht->sizeLimit = limit < 0 ? -1 : limit;
}

void hashTableSetFrozen(HashTable* ht, int frozen) {
    TABLE_CHECK(ht != nullptr, "ht != NULL");
    ht->frozen = frozen ? 1 : 0;
}

uint32_t hashTableStringHash(const void* key) {
    return strHash(static_cast<const char*>(key), 0);
}

int32_t hashTableStringCompare(const void* a, const void* b) {
    return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

}  // extern "C"
