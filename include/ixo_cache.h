/* libixo: the client result cache.
 *
 * A handle may own a small cache of server replies. Structure-returning queries look
 * their request up first and store successful replies on a miss; the ...ToFile and
 * ...ToBuffer calls never use it. Keys are normalised query texts (see the key-mode
 * bits), so the same words in another order or case find the same entry. Two requests
 * that differ in anything the server reads never share a key: every parameter and
 * every term stays in it, and only query texts made of letters, digits, '~', '+' and
 * blanks are normalised at all (others are keyed as sent). Entries
 * stop answering once their age reaches the lifetime; when every slot is taken, the
 * slot with the fewest hits (the earliest stored among equals) is replaced.
 *
 * All slot access happens under the handle's cache lock, so threads sharing one handle
 * may query at the same time. Setting the cache up, replacing it and destroying the
 * handle are not meant to run while other threads query through the handle. */
#ifndef SAPIOLUX_IXO_CACHE_H
#define SAPIOLUX_IXO_CACHE_H

#include <stdint.h>

#include "ixo_api.h"
#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Key-mode bits: how the terms of a key are normalised. Bits 4 to 32 once dropped
 * terms or parameters from the key, which let one request be answered with another's
 * reply; they are accepted and have no effect. Any non-zero mode upper-cases. */
#define IXO_CACHE_SORT 1           /* sort the terms and drop duplicates */
#define IXO_CACHE_WORDFILTER 2     /* drop stop words and stem, as the server does */
#define IXO_CACHE_NO_SHORT 4       /* no effect */
#define IXO_CACHE_NO_NUMBERS 8     /* no effect */
#define IXO_CACHE_NO_DIGITS 16     /* no effect */
#define IXO_CACHE_NO_PARAMETERS 32 /* no effect */
/* The desktop agent's mode: every bit but IXO_CACHE_NO_PARAMETERS. */
#define IXO_CACHE_AGENT_MODE 0xffffdf

/* Creates the handle's cache with capacity empty slots, the lifetime in seconds and
 * the key mode, and the lock when the handle has none yet. A cache set up before is
 * released first. 1; -5 for a null handle or a negative capacity; -7 when memory ran
 * out (the handle then has no cache). */
SAPIOLUX_EXPORT int32_t ixoSetClientCache(IXO* ixo, int32_t capacity, int32_t lifetime,
                                          int32_t keyMode);

/* The lifetime in seconds; 0 without a cache. */
SAPIOLUX_EXPORT int32_t ixoGetClientCacheTime(IXO* ixo);

/* The number of slots in use; 0 without a cache. */
SAPIOLUX_EXPORT int32_t ixoGetClientCacheSize(IXO* ixo);

/* Looks the request up. 1 and *reply an owned copy of the stored reply (release with
 * memFree) on a hit; 0 and *reply null on a miss, without a cache or for null
 * arguments. */
SAPIOLUX_EXPORT int32_t ixoCacheLookup(IXO* ixo, const char* request, char** reply);

/* Stores a copy of reply under the request's key. 1; -5 without a cache, with
 * capacity 0 or for null arguments; -7 when memory ran out. */
SAPIOLUX_EXPORT int32_t ixoCacheStore(IXO* ixo, const char* request, const char* reply);

/* Releases every slot, the cache and its lock, and clears both handle fields.
 * Harmless without a cache. */
SAPIOLUX_EXPORT void ixoCacheDestroy(IXO* ixo);

#ifdef __cplusplus
}
#endif

#endif
