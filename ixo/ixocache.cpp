// The client result cache: key normalisation, lookup with expiry, store with
// least-hits replacement, all slot access under the handle's cache lock.
#include "ixo/ixocache.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "ixo/ixocache_hook.h"
#include "ixo_text.h"

namespace ixo_cache {
namespace {

std::atomic<Clock> g_clock{nullptr};

bool isAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Characters that separate the terms of a key (besides the blank).
bool isTermSeparator(unsigned char c) {
    switch (c) {
        case ' ':
        case '+':
        case '{':
        case '}':
        case ':':
        case ';':
        case ',':
        case '.':
        case '@':
        case '!':
        case '$':
        case '^':
        case '&':
        case '%':
        case 0xA3:
            return true;
        default:
            return false;
    }
}

// Queries with grouping, phrases or operators mean what they say literally; their key
// is the request text itself.
bool hasOperators(std::string_view query) {
    if (query.find_first_of("()\"[]") != std::string_view::npos) return true;
    static constexpr std::string_view kOperators[] = {"+AND+",  "+OR+",    "+NOT+", "+XOR+",
                                                      "+NEAR+", "+WNEAR+", "+EOR+"};
    for (std::string_view op : kOperators) {
        if (query.find(op) != std::string_view::npos) return true;
    }
    return false;
}

// True when the word starts with an optionally signed run of digits whose value is
// not zero (the way a number reader would take it).
bool readsAsNonZeroNumber(std::string_view word) {
    size_t i = 0;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
        if (word[i] != '0') return true;
    }
    return false;
}

bool hasDigit(std::string_view word) {
    return std::any_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The normalised terms of a key, each followed by ':'. The terms are upper-cased into
// one buffer whose separators become zero bytes, so the word filter (stop words out,
// stemming in; it never lengthens a word) can work on each term in place.
std::string normaliseTerms(std::string_view terms, int32_t keyMode) {
    std::string buffer(terms.size() + 1, '\0');
    for (size_t i = 0; i < terms.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(terms[i]);
        buffer[i] = isTermSeparator(c) ? '\0' : upper(static_cast<char>(c));
    }

    std::vector<std::string_view> words;
    for (size_t start = 0; start < terms.size();) {
        char* piece = buffer.data() + start;
        const size_t length = std::strlen(piece);
        start += length + 1;
        if (!std::any_of(piece, piece + length,
                         [](char c) { return isAlnum(static_cast<unsigned char>(c)); })) {
            continue;
        }
        if ((keyMode & IXO_CACHE_WORDFILTER) && ixoWordFilter(piece) != 1) continue;
        std::string_view word(piece, std::strlen(piece));
        if (!word.empty()) words.push_back(word);
    }

    const bool sortUnique = keyMode & IXO_CACHE_SORT;
    if (sortUnique) std::sort(words.begin(), words.end());
    std::string out;
    out.reserve(terms.size() + words.size() + 1);
    std::string_view previous;
    bool havePrevious = false;
    for (std::string_view word : words) {
        if (sortUnique && havePrevious && previous.substr(0, 20) == word.substr(0, 20)) continue;
        if ((keyMode & IXO_CACHE_NO_SHORT) && word.size() == 1) continue;
        if (keyMode & IXO_CACHE_NO_NUMBERS) {
            if (readsAsNonZeroNumber(word)) continue;
        } else if ((keyMode & IXO_CACHE_NO_DIGITS) && hasDigit(word)) {
            continue;
        }
        out += word;
        out += ':';
        previous = word;
        havePrevious = true;
    }
    return out;
}

}  // namespace

std::string makeKey(std::string_view request, int32_t keyMode) {
    std::string_view text = request;
    if (size_t at = request.find("/qmethod="); at != std::string_view::npos) {
        text = request.substr(at + 9);
    }
    static constexpr std::string_view kQueryText = "&querytext=";
    const size_t queryAt = text.find(kQueryText);
    if (keyMode == 0 || queryAt == std::string_view::npos) return std::string(text);

    const std::string_view query = text.substr(queryAt + kQueryText.size());
    if (hasOperators(query) || request.find("parse") != std::string_view::npos) {
        return std::string(text);
    }

    // The terms end at "+QNUM" or at the first '&', whichever comes first: a parameter
    // placed before "+QNUM" (document restrictions, paging) stays literal in the key
    // instead of being mixed into the terms, where sorting and number removal would
    // merge requests that differ.
    std::string_view terms = query;
    std::string_view rest;
    const size_t qnum = query.find("+QNUM");
    const size_t amp = query.find('&');
    if (qnum != std::string_view::npos && (amp == std::string_view::npos || qnum < amp)) {
        terms = query.substr(0, qnum);
        rest = query.substr(qnum + 1);
    } else if (amp != std::string_view::npos) {
        terms = query.substr(0, amp);
        rest = query.substr(amp + 1);
    }

    // The method letter and "&querytext", the other parameters, then the terms.
    std::string key(text.substr(0, queryAt + kQueryText.size() - 1));
    if (!(keyMode & IXO_CACHE_NO_PARAMETERS)) key += rest;
    key += normaliseTerms(terms, keyMode);
    return key;
}

void setClock(Clock clock) {
    g_clock.store(clock);
}

int32_t now() {
    if (Clock clock = g_clock.load()) return clock();
    return static_cast<int32_t>(std::time(nullptr));
}

}  // namespace ixo_cache

namespace {

// Frees a cache and its lock handed over as raw handle fields.
void releaseCache(ClientCache* cache) {
    std::unique_ptr<ClientCache> owned(cache);
}
void releaseLock(IxoCacheLock* lock) {
    std::unique_ptr<IxoCacheLock> owned(lock);
}

}  // namespace

extern "C" {

SAPIOLUX_EXPORT int32_t ixoSetClientCache(IXO* ixo, int32_t capacity, int32_t lifetime,
                                          int32_t keyMode) {
    if (!ixo || capacity < 0) return IXO_ERR_PARAMETER;
    try {
        auto cache = std::make_unique<ClientCache>();
        cache->keyMode = keyMode;
        cache->lifetime = lifetime;
        cache->capacity = capacity;
        cache->slots.resize(static_cast<size_t>(capacity));
        if (!ixo->cacheLock) ixo->cacheLock = std::make_unique<IxoCacheLock>().release();

        ClientCache* old = nullptr;
        {
            std::lock_guard<std::mutex> guard(ixo->cacheLock->mutex);
            old = ixo->clientCache;
            ixo->clientCache = cache.release();
        }
        releaseCache(old);
        return IXO_OK;
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT int32_t ixoGetClientCacheTime(IXO* ixo) {
    if (!ixo || !ixo->clientCache) return 0;
    return ixo->clientCache->lifetime;
}

SAPIOLUX_EXPORT int32_t ixoGetClientCacheSize(IXO* ixo) {
    if (!ixo || !ixo->clientCache || !ixo->cacheLock) return 0;
    std::lock_guard<std::mutex> guard(ixo->cacheLock->mutex);
    return ixo->clientCache->used;
}

SAPIOLUX_EXPORT int32_t ixoCacheLookup(IXO* ixo, const char* request, char** reply) {
    if (reply) *reply = nullptr;
    if (!ixo || !request || !reply || !ixo->clientCache || !ixo->cacheLock) return 0;
    ClientCache* cache = ixo->clientCache;
    if (cache->capacity == 0) return 0;
    try {
        const std::string key = ixo_cache::makeKey(request, cache->keyMode);
        const int32_t now = ixo_cache::now();
        std::lock_guard<std::mutex> guard(ixo->cacheLock->mutex);
        CacheSlot* found = nullptr;
        for (int32_t i = 0; i < cache->used; ++i) {
            CacheSlot& slot = cache->slots[static_cast<size_t>(i)];
            if (static_cast<int64_t>(now) - slot.timeStored >= cache->lifetime) {
                slot.hits = 0;
                slot.timeStored = 0;
                continue;
            }
            if (slot.key == key) {
                if (slot.hits < INT32_MAX) ++slot.hits;
                found = &slot;
            }
        }
        if (!found) return 0;
        *reply = memStrDup(found->reply.c_str());
        return *reply ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

SAPIOLUX_EXPORT int32_t ixoCacheStore(IXO* ixo, const char* request, const char* reply) {
    if (!ixo || !request || !reply || !ixo->clientCache || !ixo->cacheLock) {
        return IXO_ERR_PARAMETER;
    }
    ClientCache* cache = ixo->clientCache;
    if (cache->capacity == 0) return IXO_ERR_PARAMETER;
    try {
        std::string key = ixo_cache::makeKey(request, cache->keyMode);
        std::string copy(reply);
        const int32_t now = ixo_cache::now();
        std::lock_guard<std::mutex> guard(ixo->cacheLock->mutex);
        CacheSlot* victim = nullptr;
        if (cache->used < cache->capacity) {
            victim = &cache->slots[static_cast<size_t>(cache->used++)];
        } else {
            victim = &cache->slots[0];
            for (CacheSlot& slot : cache->slots) {
                if (slot.hits < victim->hits ||
                    (slot.hits == victim->hits && slot.timeStored < victim->timeStored)) {
                    victim = &slot;
                }
            }
        }
        victim->hits = 1;
        victim->timeStored = now;
        victim->key = std::move(key);
        victim->reply = std::move(copy);
        return IXO_OK;
    } catch (...) {
        return IXO_ERR_MEMORY;
    }
}

SAPIOLUX_EXPORT void ixoCacheDestroy(IXO* ixo) {
    if (!ixo) return;
    releaseCache(ixo->clientCache);
    ixo->clientCache = nullptr;
    releaseLock(ixo->cacheLock);
    ixo->cacheLock = nullptr;
}

void ixoCacheDestroyForHandle(IXO* ixo) {
    ixoCacheDestroy(ixo);
}

}  // extern "C"
