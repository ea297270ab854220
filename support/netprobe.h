/* The connectivity probe: is the machine on-line, and does a given server answer?
 *
 * On-line means a network interface other than loopback is up and has an address.
 * The server check is one GET of the URL with "Pragma: No-Cache" (so no cache
 * between answers for the server), through the proxy given as httpRequestSetProxy
 * takes it (a special proxy name included); any HTTP answer, whatever its status,
 * counts. Only the address the caller names is ever contacted. */
#ifndef SAPIOLUX_NETPROBE_H
#define SAPIOLUX_NETPROBE_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when an interface other than loopback is up and running with an IPv4 or IPv6
 * address, else 0. */
SAPIOLUX_EXPORT int32_t netHasOutsideInterface(void);

/* 1 when one no-cache GET of url ("http://host[:port]/path") brings any HTTP answer
 * within timeout seconds, else 0. proxyHost null or empty: direct; user and password
 * may be null. A null or empty URL gives 0: there is nothing to ask. */
SAPIOLUX_EXPORT int32_t netProbeUrl(const char* url, const char* proxyHost, int32_t proxyPort,
                                    const char* proxyUser, const char* proxyPassword,
                                    int32_t timeout);

/* The whole probe: netHasOutsideInterface, then netProbeUrl. */
SAPIOLUX_EXPORT int32_t netCheckConnection(const char* url, const char* proxyHost,
                                           int32_t proxyPort, const char* proxyUser,
                                           const char* proxyPassword, int32_t timeout);

#ifdef __cplusplus
}
#endif

#endif
