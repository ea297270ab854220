// Internal side of the client result cache: the cache record, its lock, key building
// and a replaceable clock for tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ixo_cache.h"

// One stored reply. timeStored is 0 once the slot has expired.
struct CacheSlot {
    int32_t timeStored = 0;
    int32_t hits = 0;
    std::string key;
    std::string reply;
};

// The cache a handle owns (IXO::clientCache).
struct ClientCache {
    int32_t keyMode = 0;
    int32_t lifetime = 0;
    int32_t used = 0;      // slots in use; they are slots[0 .. used)
    int32_t capacity = 0;  // slots.size()
    std::vector<CacheSlot> slots;
};

// The lock that guards every access to a handle's slots (IXO::cacheLock).
struct IxoCacheLock {
    std::mutex mutex;
};

namespace ixo_cache {

// The cache key of a request under a key mode (bits IXO_CACHE_*).
std::string makeKey(std::string_view request, int32_t keyMode);

// Seconds since the epoch as the cache sees them. Tests may install their own clock;
// null restores the system clock.
using Clock = int32_t (*)();
void setClock(Clock clock);
int32_t now();

}  // namespace ixo_cache
