#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/hashtable.h"
#include "support/ptrvector.h"

namespace {

void* word(uintptr_t n) {
    return reinterpret_cast<void*>(n);
}
uintptr_t num(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

int32_t compareTexts(const void* item, const void* key) {
    return std::strcmp(static_cast<const char*>(item), static_cast<const char*>(key));
}

void collect(void* item, void* context) {
    static_cast<std::vector<uintptr_t>*>(context)->push_back(num(item));
}

// ---- Vector ---------------------------------------------------------------------

TEST(PtrVector, AppendDoublesAFullArrayAndKeepsOrder) {
    PtrVector* v = ptrVectorCreate(4, nullptr);
    ASSERT_NE(v, nullptr);
    for (uintptr_t i = 1; i <= 4; ++i) EXPECT_EQ(ptrVectorAppend(v, word(i)), int32_t(i - 1));
    EXPECT_EQ(v->capacity, 4u);
    EXPECT_EQ(ptrVectorAppend(v, word(5)), 4);
    EXPECT_EQ(v->capacity, 8u);
    for (uintptr_t i = 6; i <= 9; ++i) ptrVectorAppend(v, word(i));
    EXPECT_EQ(v->capacity, 16u);
    EXPECT_EQ(ptrVectorCount(v), 9u);

    std::vector<uintptr_t> seen;
    ptrVectorForEach(v, collect, &seen);
    EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ptrVectorDestroy(&v);
    EXPECT_EQ(v, nullptr);
    ptrVectorDestroy(&v);  // harmless
}

TEST(PtrVector, ClearedOrEmptyVectorTakesNewItems) {
    // A vector without slots (created so, or cleared) must still accept appends.
    PtrVector* v = ptrVectorCreate(0, nullptr);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(ptrVectorAppend(v, word(7)), 0);
    EXPECT_EQ(v->capacity, uint32_t{PTRVECTOR_DEFAULT_CAPACITY});
    ptrVectorClear(v);
    EXPECT_EQ(v->capacity, 0u);
    EXPECT_EQ(v->count, 0u);
    EXPECT_EQ(v->items, nullptr);
    ptrVectorClear(v);  // twice is fine
    EXPECT_EQ(ptrVectorAppend(v, word(8)), 0);
    EXPECT_EQ(num(ptrVectorGet(v, 0)), 8u);
    ptrVectorDestroy(&v);
}

TEST(PtrVector, IndexedAccessAndFindFromAStartIndex) {
    PtrVector v;
    ASSERT_EQ(ptrVectorInit(&v, 2, compareTexts), 0);
    const char* items[] = {"alpha", "beta", "alpha", "gamma"};
    for (const char* s : items) ptrVectorAppend(&v, const_cast<char*>(s));

    EXPECT_EQ(ptrVectorGet(&v, 4), nullptr);
    EXPECT_EQ(ptrVectorSet(&v, 4, nullptr), -2);
    EXPECT_EQ(ptrVectorSet(nullptr, 0, nullptr), -1);
    EXPECT_EQ(ptrVectorRemove(&v, 4), -2);

    std::string key = "alpha";  // equal text, different pointer
    EXPECT_EQ(ptrVectorFind(&v, key.c_str(), 1), 2);
    EXPECT_EQ(ptrVectorFind(&v, key.c_str(), 3), -2);
    EXPECT_EQ(ptrVectorRemove(&v, 0), 0);  // the gap closes
    EXPECT_STREQ(static_cast<const char*>(ptrVectorGet(&v, 0)), "beta");
    EXPECT_EQ(ptrVectorFind(&v, key.c_str(), 0), 1);
    EXPECT_EQ(ptrVectorContains(&v, "gamma"), 1);
    EXPECT_EQ(ptrVectorContains(&v, "delta"), 0);
    ptrVectorClear(&v);
}

TEST(PtrVectorDeathTest, ClearingACountWithoutItemsIsAnInvariantFailure) {
    PtrVector v{nullptr, 0, 3, nullptr};
    EXPECT_DEATH(ptrVectorClear(&v), "ASSERT_a failed: v -> num_elmts == 0");
}

// ---- Hash table -----------------------------------------------------------------

TEST(HashTable, DefaultsAndCollidingIntegerKeys) {
    HashTable* ht = hashTableCreate(0, nullptr, nullptr);
    ASSERT_NE(ht, nullptr);
    EXPECT_EQ(ht->bucketCount, 11u);
    EXPECT_EQ(ht->sizeLimit, -1);
    EXPECT_FLOAT_EQ(ht->maxLoadFactor, 5.0f);

    // 3 and 14 share bucket 3 of 11; both stay reachable.
    EXPECT_EQ(hashTableInsert(ht, word(3), word(300)), 0);
    EXPECT_EQ(hashTableInsert(ht, word(14), word(1400)), 0);
    EXPECT_EQ(num(hashTableFind(ht, word(3))), 300u);
    EXPECT_EQ(num(hashTableFind(ht, word(14))), 1400u);
    EXPECT_EQ(hashTableFind(ht, word(25)), nullptr);  // same bucket, absent

    // A second insert of a key is refused and the first value kept.
    EXPECT_EQ(hashTableInsert(ht, word(3), word(999)), -1);
    EXPECT_EQ(num(hashTableFind(ht, word(3))), 300u);
    EXPECT_EQ(hashTableCount(ht), 2u);

    // Removing the head of the shared chain leaves the rest intact.
    EXPECT_EQ(hashTableRemove(ht, word(14)), 1);
    EXPECT_EQ(hashTableRemove(ht, word(14)), 0);
    EXPECT_EQ(num(hashTableFind(ht, word(3))), 300u);
    EXPECT_EQ(hashTableCount(ht), 1u);
    hashTableDestroy(&ht);
    EXPECT_EQ(ht, nullptr);
}

TEST(HashTable, DefaultComparisonDoesNotConfuseWordsThatDifferAbove32Bits) {
    if (sizeof(void*) < 8) GTEST_SKIP();
    HashTable* ht = hashTableCreate(0, nullptr, nullptr);
    uintptr_t low = 5;
    uintptr_t high = (uintptr_t{1} << 32) + 5;  // same low word, same bucket
    EXPECT_EQ(hashTableInsert(ht, word(low), word(1)), 0);
    EXPECT_EQ(hashTableInsert(ht, word(high), word(2)), 0);
    EXPECT_EQ(num(hashTableFind(ht, word(high))), 2u);
    hashTableDestroy(&ht);
}

TEST(HashTable, GrowsPastTheLoadFactorUnlessFrozenOrLimited) {
    HashTable* ht = hashTableCreate(11, nullptr, nullptr);
    for (uintptr_t k = 1; k <= 55; ++k) hashTableInsert(ht, word(k), word(k * 10));
    EXPECT_EQ(ht->bucketCount, 11u);  // exactly 5.0 is not above the maximum
    hashTableInsert(ht, word(56), word(560));
    EXPECT_EQ(ht->bucketCount, 23u);
    for (uintptr_t k = 1; k <= 56; ++k) ASSERT_EQ(num(hashTableFind(ht, word(k))), k * 10);
    hashTableDestroy(&ht);

    HashTable* frozen = hashTableCreate(11, nullptr, nullptr);
    hashTableSetFrozen(frozen, 1);
    for (uintptr_t k = 1; k <= 200; ++k) hashTableInsert(frozen, word(k), word(k));
    EXPECT_EQ(frozen->bucketCount, 11u);
    hashTableSetFrozen(frozen, 0);
    hashTableInsert(frozen, word(201), word(201));  // grows once, no invariant failure
    EXPECT_EQ(frozen->bucketCount, 23u);
    for (uintptr_t k = 1; k <= 201; ++k) ASSERT_EQ(num(hashTableFind(frozen, word(k))), k);
    hashTableDestroy(&frozen);

    HashTable* limited = hashTableCreate(11, nullptr, nullptr);
    hashTableSetSizeLimit(limited, 15);
    for (uintptr_t k = 1; k <= 500; ++k) hashTableInsert(limited, word(k), word(k));
    EXPECT_EQ(limited->bucketCount, 15u);
    EXPECT_EQ(hashTableCount(limited), 500u);
    hashTableDestroy(&limited);
}

TEST(HashTable, StringKeysAndVisits) {
    HashTable* ht = hashTableCreate(3, hashTableStringCompare, hashTableStringHash);
    std::vector<std::string> keys;
    for (int i = 0; i < 40; ++i) keys.push_back("key" + std::to_string(i));
    for (int i = 0; i < 40; ++i) hashTableInsert(ht, keys[i].data(), word(uintptr_t(i) + 1));
    std::string probe = "key17";
    EXPECT_EQ(num(hashTableFind(ht, probe.c_str())), 18u);

    std::vector<uintptr_t> values;
    hashTableForEachValue(ht, collect, &values);
    EXPECT_EQ(std::set<uintptr_t>(values.begin(), values.end()).size(), 40u);
    hashTableDestroy(&ht);
}

TEST(HashTableDeathTest, NullTableAndKeyAreInvariantFailures) {
    HashTable* ht = hashTableCreate(0, nullptr, nullptr);
    EXPECT_DEATH(hashTableInsert(nullptr, word(1), word(1)), "ASSERT_a failed: ht != NULL");
    EXPECT_DEATH(hashTableInsert(ht, nullptr, word(1)), "ASSERT_a failed: key != NULL");
    EXPECT_DEATH(hashTableFind(nullptr, word(1)), "ASSERT_a failed: ht != NULL");
    hashTableDestroy(&ht);
}

}  // namespace
