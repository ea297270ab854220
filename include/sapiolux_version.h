/* Version of the exported libraries (libixo, libimex and the support library), for
 * callers that must tell releases apart at compile time:
 *
 *   #if SAPIOLUX_VERSION_NUMBER >= SAPIOLUX_MAKE_VERSION(0, 2, 0)
 *   ... ixoSetMaxReplySize(&ixo, limit); ...
 *   #endif */
#ifndef SAPIOLUX_VERSION_H
#define SAPIOLUX_VERSION_H

#define SAPIOLUX_VERSION_MAJOR 0
#define SAPIOLUX_VERSION_MINOR 2
#define SAPIOLUX_VERSION_PATCH 0
#define SAPIOLUX_VERSION "0.2.0"

#define SAPIOLUX_MAKE_VERSION(major, minor, patch) ((major)*10000 + (minor)*100 + (patch))
#define SAPIOLUX_VERSION_NUMBER \
    SAPIOLUX_MAKE_VERSION(SAPIOLUX_VERSION_MAJOR, SAPIOLUX_VERSION_MINOR, SAPIOLUX_VERSION_PATCH)

#endif
