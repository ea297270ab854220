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

// Terms the key may normalise: letters, digits, the weight mark '~' and the blank
// and '+' that separate terms. The server splits the query text at '+' and blanks,
// upper-cases each piece and passes it through the same word filter (stop words,
// stemming) as the key does, so for such texts the key's case folding, filtering and
// sorting change nothing the server reads. Any other character (punctuation, escapes,
// accented letters) would make the two disagree, and the terms are then kept as sent.
bool normalisable(std::string_view terms) {
    return std::all_of(terms.begin(), terms.end(), [](char c) {
        return isAlnum(static_cast<unsigned char>(c)) || c == '~' || c == '+' || c == ' ';
    });
}

// The normalised terms of a key, each followed by ':'. Every term the server reads
// stays in the key: the number, digit and one-character bits of the key mode no
// longer drop terms, as "apple+1999" and "apple+2001" (or the document numbers of a
// terms request) are different requests.
std::string normaliseTerms(std::string_view terms, int32_t keyMode) {
    std::vector<std::string> words;
    for (size_t start = 0; start <= terms.size();) {
        size_t end = terms.find_first_of("+ ", start);
        if (end == std::string_view::npos) end = terms.size();
        std::string piece(terms.substr(start, end - start));
        start = end + 1;
        for (char& c : piece) c = upper(c);
        if (piece.empty()) continue;
        if (keyMode & IXO_CACHE_WORDFILTER) {
            // The filter works in place and never lengthens a word.
            if (ixoWordFilter(piece.data()) != 1) continue;
            piece.resize(std::strlen(piece.c_str()));
        }
        if (!piece.empty()) words.push_back(std::move(piece));
    }
    if (keyMode & IXO_CACHE_SORT) {
        std::sort(words.begin(), words.end());
        words.erase(std::unique(words.begin(), words.end()), words.end());
    }
    std::string out;
    for (const std::string& word : words) {
        out += word;
        out += ':';
    }
    return out;
}

}  // namespace

std::string makeKey(std::string_view request, int32_t keyMode) {
    std::string_view text = request;
    if (size_t at = request.find("/qmethod="); at != std::string_view::npos) {
        text = request.substr(at + 9);
    }
    // A literal key is the text itself behind 'L', a normalised one begins with 'N', so
    // the two kinds can never meet.
    static constexpr std::string_view kQueryText = "&querytext=";
    const size_t queryAt = text.find(kQueryText);
    if (keyMode == 0 || queryAt == std::string_view::npos) return "L" + std::string(text);

    const std::string_view query = text.substr(queryAt + kQueryText.size());
    if (hasOperators(query) || request.find("parse") != std::string_view::npos) {
        return "L" + std::string(text);
    }

    // The terms end at "+QNUM" or at the first '&', whichever comes first: a parameter
    // placed before "+QNUM" (document restrictions, paging) stays literal in the key
    // instead of being mixed into the terms.
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
    if (!normalisable(terms)) return "L" + std::string(text);

    // The method letter and "&querytext", the terms, then every other parameter (the
    // server reads them all, so IXO_CACHE_NO_PARAMETERS cannot leave them out). Zero
    // bytes, which no request holds, keep the three parts apart.
    std::string key = "N";
    key += text.substr(0, queryAt + kQueryText.size() - 1);
    key += '\0';
    key += normaliseTerms(terms, keyMode);
    key += '\0';
    key += rest;
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
