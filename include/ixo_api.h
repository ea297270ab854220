/* libixo: the client handle, its set-up and tear-down, the result codes of the whole
 * interface and the one request routine every request travels through.
 *
 * The handle is a plain record owned by the caller (it may be embedded in the
 * caller's own objects); ixoCreateIxo fills it and ixoDestroyIxo releases what the
 * handle owns, never the record itself. Every function returns 1 for success and a
 * negative code for failure; ixoGetError gives the text of a code. */
#ifndef SAPIOLUX_IXO_API_H
#define SAPIOLUX_IXO_API_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define IXO_OK 1
#define IXO_ERR_RETRIEVE (-3)     /* "Couldn't retrieve results." */
#define IXO_ERR_SOCKETS (-4)      /* "Couldn't initialize sockets." */
#define IXO_ERR_PARAMETER (-5)    /* "Bad parameter passed." */
#define IXO_ERR_FILE (-6)         /* "File not found." */
#define IXO_ERR_MEMORY (-7)       /* "Ran out of memory." */
#define IXO_ERR_NOT_IMPL (-8)     /* "Not implemented." */
#define IXO_ERR_FIELD (-9)        /* "Field not found." */
#define IXO_ERR_PORT (-10)        /* "Wrong port. Check Query/Index ports." */
#define IXO_ERR_INSTRUCTION (-11) /* "Unknown IXO instruction. Check IXO version." */

/* Sizes of the fixed text fields (each holds one character less plus a terminator). */
#define IXO_HOST_SIZE 50
#define IXO_USERPARAM_SIZE 100
#define IXO_PROXY_SIZE 50

/* The largest reply a handle takes unless ixoSetMaxReplySize says otherwise: 256 MB. */
#define IXO_DEFAULT_MAX_REPLY (256 * 1024 * 1024)

/* Port selectors of ixoRequestToDynBuffer2. */
#define IXO_QUERY_PORT_SELECTOR 0
#define IXO_INDEX_PORT_SELECTOR 1

/* Owned by the client cache code; opaque here. */
struct ClientCache;
struct IxoCacheLock;

typedef struct IXO {
    char host[IXO_HOST_SIZE];    /* host name; the address when no name was given */
    char address[IXO_HOST_SIZE]; /* IP address text; the host name when none was given */
    int32_t queryPort;           /* searches and information requests */
    int32_t indexPort;           /* index and administration commands */
    int32_t timeout;             /* send/receive wait in seconds (60) */
    int32_t secondTimeout;       /* carried to every exchange, unused there (1000) */
    char user[IXO_USERPARAM_SIZE];
    char password[IXO_USERPARAM_SIZE];
    char group[IXO_USERPARAM_SIZE];
    char domain[IXO_USERPARAM_SIZE];
    int32_t requestMethod; /* 0: GET unless there is a body; non-zero: always POST */
    char proxyHost[IXO_PROXY_SIZE];
    int32_t proxyPort;
    char proxyUser[IXO_PROXY_SIZE];
    char proxyPassword[IXO_PROXY_SIZE];
    int32_t* encryption;             /* owned scrambling mode or null; 1 scrambles paths */
    struct ClientCache* clientCache; /* owned client cache or null */
    struct IxoCacheLock* cacheLock;  /* owned lock of the client cache or null */
    int32_t maxReplyBytes;           /* largest reply taken (IXO_DEFAULT_MAX_REPLY) */
} IXO;

/* Fills the handle: host and address (either may be null or empty, not both; the
 * missing one copies the other), ports, timeouts 60 and 1000, no user parameters,
 * request method 0, no proxy, no scrambling, no cache, the default reply limit.
 * Nothing held before is released. 1, or -5 for a null handle, when neither text is
 * given, or when a text is longer than 49 characters or holds a blank or control
 * character (the handle is left as it was then). */
SAPIOLUX_EXPORT int32_t ixoCreateIxo(IXO* ixo, const char* hostName, const char* ipAddress,
                                     int32_t queryPort, int32_t indexPort);

/* A null proxy host leaves the handle as it is (result 1). Otherwise host and port
 * are stored, and user and password (empty or null clears them). -5, with the handle
 * unchanged, for a null handle, a proxy host, user or password longer than 49
 * characters, or a proxy host holding a blank or control character. */
SAPIOLUX_EXPORT int32_t ixoAddProxySettings(IXO* ixo, const char* proxyHost, int32_t proxyPort,
                                            const char* proxyUser, const char* proxyPassword);

/* Sets the handle up from section of a configuration file: host from "IxoHost", else
 * "Host", else "IPAddress" (passed to ixoCreateIxo as the host name); "QueryPort",
 * "IndexPort", "IxoRequestMethod" (0 when absent); when "IxoProxyHost" is present,
 * ixoAddProxySettings with it, "IxoProxyPort", "IxoProxyUser" and "IxoProxyPass".
 * Keys missing from the section are taken from section "DEFAULT". Returns what
 * ixoCreateIxo returns; -5 for null arguments, an unreadable file or no host. */
SAPIOLUX_EXPORT int32_t ixoCreateIxoFromConfigFile(IXO* ixo, const char* configFile,
                                                   const char* section);

/* Both values must be positive, else -5 and the handle keeps its time-outs. */
SAPIOLUX_EXPORT int32_t ixoSetHTTPTimeOut(IXO* ixo, int32_t timeout, int32_t secondTimeout);

/* Replaces the scrambling mode (mode 1 scrambles request paths); text is ignored. */
SAPIOLUX_EXPORT int32_t ixoSetEncryption(IXO* ixo, int32_t mode, const char* text);

/* Copies each text that is not null; null keeps the field. -5, with nothing changed,
 * for a null handle or when any text is longer than 99 characters. */
SAPIOLUX_EXPORT int32_t ixoSetUserParameters(IXO* ixo, const char* user, const char* password,
                                             const char* group, const char* domain);

/* The largest reply in bytes that requests through the handle take (at least 1; the
 * default is IXO_DEFAULT_MAX_REPLY, 256 MB). A longer reply, or a compressed one that
 * claims to inflate past it, fails with -3 and a note in the diagnostic log, without
 * the whole reply ever being held. -5 for a null handle or a size below 1. */
SAPIOLUX_EXPORT int32_t ixoSetMaxReplySize(IXO* ixo, int32_t maxBytes);

/* 30 plus the lengths of the four user parameters (30 for a null handle): the room
 * ixoDoUserParameters needs beyond the request text's own length. */
SAPIOLUX_EXPORT int32_t ixoGetUserParameterLength(const IXO* ixo);

/* Appends "&user=", "&pass=", "&group=", "&domain=" with the field, each only when
 * that field is not empty, in this order, unescaped. request must have room for
 * strlen(request) + ixoGetUserParameterLength(ixo) bytes. 1, or -5 for null input. */
SAPIOLUX_EXPORT int32_t ixoDoUserParameters(const IXO* ixo, char* request);

/* Clears the handle's texts, ports, user parameters, method and proxy, releases the
 * scrambling mode and, when there is a client cache, its lock and the cache. */
SAPIOLUX_EXPORT int32_t ixoDestroyIxo(IXO* ixo);

/* Reads "major.minor" from version and, after skipping leading ':' characters, from
 * version2 (null version2 gives zeros); a missing part gives 0. Null out-pointers are
 * skipped. 1, or -5 when version is null. */
SAPIOLUX_EXPORT int32_t ixoGetVersion(const char* version, const char* version2, int32_t* major,
                                      int32_t* minor, int32_t* major2, int32_t* minor2);

/* Constant text of a result code; not to be freed. */
SAPIOLUX_EXPORT const char* ixoGetError(int32_t code);

/* Sends request (scrambled when the handle asks for it) to the index port (selector
 * 1) or the query port (any other selector), as POST with postData as the body when
 * postData is not empty or the handle's request method is non-zero, else as GET.
 * Blanks and control characters in the request are sent percent-encoded, so a request
 * cannot add header lines. Inflates replies marked "binary/compressed", cuts the text
 * at "***Original Query". On 1, *reply is the reply text, owned by the caller
 * (release with memFree). -3 transport failure, an HTTP status outside 2xx (noted in
 * the diagnostic log), an empty or undecodable reply, or one past the handle's reply
 * limit; -5 bad arguments; -11 the server answered "Invalid Instruction". *reply is
 * null on every failure. */
SAPIOLUX_EXPORT int32_t ixoRequestToDynBuffer2(IXO* ixo, int32_t portSelector, const char* request,
                                               const char* postData, char** reply);

#ifdef __cplusplus
}
#endif

#endif
