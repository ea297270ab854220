#include "support/ptrvector.h"

#include <cstring>

namespace {

// The vector's invariants; a failure prints the condition and ends the process.
#define VECTOR_CHECK(condition, text) ((condition) ? (void)0 : assertFailed(text))

bool isFull(const PtrVector* v) {
    return v->count >= v->capacity;
}

bool itemsEqual(const PtrVector* v, const void* item, const void* key) {
    return v->compare ? v->compare(item, key) == 0 : item == key;
}

// Doubles the item array; an array without slots gets the default capacity.
void expand(PtrVector* v) {
    uint32_t grown = v->capacity ? v->capacity * 2 : PTRVECTOR_DEFAULT_CAPACITY;
    // A capacity that no longer doubles within 32 bits counts as a failed allocation.
    void** larger = grown > v->capacity
                        ? static_cast<void**>(memRealloc(v->items, sizeof(void*) * size_t{grown}))
                        : nullptr;
    VECTOR_CHECK(larger != nullptr, "new_elmts != NULL");
    std::memset(larger + v->capacity, 0, sizeof(void*) * size_t{grown - v->capacity});
    v->items = larger;
    v->capacity = grown;
    VECTOR_CHECK(!isFull(v), "! _CHECK_EXPAND( v )");
}

}  // namespace

extern "C" {

int ptrVectorInit(PtrVector* v, uint32_t capacity, PtrVectorCompare compare) {
    if (!v) return -1;
    v->compare = compare;
    v->capacity = 0;
    v->count = 0;
    v->items = nullptr;
    if (capacity > 0) {
        v->items = static_cast<void**>(memAlloc(sizeof(void*) * size_t{capacity}));
        if (!v->items) return -1;
        v->capacity = capacity;
    }
    return 0;
}

PtrVector* ptrVectorCreate(uint32_t capacity, PtrVectorCompare compare) {
    PtrVector* v = static_cast<PtrVector*>(memAlloc(sizeof(PtrVector)));
    if (!v) return nullptr;
    if (ptrVectorInit(v, capacity, compare) != 0) {
        memFree(v);
        return nullptr;
    }
    return v;
}

void ptrVectorDestroy(PtrVector** v) {
    if (!v || !*v) return;
    if ((*v)->items) memFree((*v)->items);
    memFree(*v);
}

int32_t ptrVectorAppend(PtrVector* v, void* item) {
    if (!v) return -1;
    if (isFull(v)) expand(v);
    v->items[v->count] = item;
    return static_cast<int32_t>(v->count++);
}

void* ptrVectorGet(const PtrVector* v, uint32_t index) {
    if (!v || index >= v->count) return nullptr;
    return v->items[index];
}

int32_t ptrVectorSet(PtrVector* v, uint32_t index, void* item) {
    if (!v) return -1;
    if (index >= v->count) return -2;
    v->items[index] = item;
    return 0;
}

int32_t ptrVectorRemove(PtrVector* v, uint32_t index) {
    if (!v) return -1;
    if (index >= v->count) return -2;
    std::memmove(v->items + index, v->items + index + 1,
                 sizeof(void*) * size_t{v->count - index - 1});
    v->items[--v->count] = nullptr;
    return 0;
}

int32_t ptrVectorFind(const PtrVector* v, const void* key, uint32_t start) {
    if (!v) return -2;
    for (uint32_t i = start; i < v->count; ++i) {
        if (itemsEqual(v, v->items[i], key)) return static_cast<int32_t>(i);
    }
    return -2;
}

int ptrVectorContains(const PtrVector* v, const void* key) {
    return ptrVectorFind(v, key, 0) >= 0 ? 1 : 0;
}

void ptrVectorForEach(const PtrVector* v, PtrVectorVisit visit, void* context) {
    if (!v || !visit) return;
    for (uint32_t i = 0; i < v->count; ++i) visit(v->items[i], context);
}

uint32_t ptrVectorCount(const PtrVector* v) {
    return v ? v->count : 0;
}

void ptrVectorClear(PtrVector* v) {
    if (!v) return;
    if (!v->items) {
        VECTOR_CHECK(v->count == 0, "v -> num_elmts == 0");
    } else {
        memFree(v->items);
    }
    v->count = 0;
    v->capacity = 0;
}

}  // extern "C"
