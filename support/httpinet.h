/* HTTP exchanges through the system's proxy configuration or a named proxy, on
 * libcurl. httpRequestSend hands a request here when its proxy host is one of the two
 * special proxy names:
 *
 *   "ORVIQ_AUTOPROXY"          the proxy the system names for the request's URL (the
 *                              environment and the desktop's settings, read per URL
 *                              through libproxy), or none;
 *   "ORVIQ_CERNPROXY" + host   that proxy host at the proxy port;
 *   anything else              no proxy at all (the environment's http_proxy is never
 *                              used behind the caller's back).
 *
 * Through either proxy, local hosts go direct: names without a dot and loopback
 * addresses. A reply of 407 (proxy authentication required) is sent once more with
 * the proxy user and password as Basic credentials. Redirections are not followed:
 * a 3xx reply comes back like any other status and the caller decides.
 *
 * The response handed back is the header text of the last response (status line,
 * headers, blank line) followed by the body, as a socket would have received it, so
 * the caller splits it as any other response.
 *
 * A secure exchange ("https") verifies the server's certificate chain against the
 * system's certificate store (and the caller's CA file, when one is named) and the
 * certificate's names against the host; a failed check ends the exchange before any
 * request byte is sent. There is no clear-text fall-back and no way to switch the
 * checks off. Through an HTTP proxy the connection is tunnelled (CONNECT). */
#ifndef SAPIOLUX_HTTPINET_H
#define SAPIOLUX_HTTPINET_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Called after each chunk of the body (at most 4096 bytes) with the running total. */
typedef void (*InetProgressCallback)(void* arg, const char* chunk, int32_t chunkLength,
                                     int32_t total);

/* inetExchange's result when a secure connection could not be set up: the certificate
 * was not trusted or not issued for the host, the CA file could not be read, or the
 * TLS handshake failed. */
#define INET_ERR_TLS (-4)

/* Size of the error text buffer an exchange may be given. */
#define INET_ERROR_SIZE 256

/* One exchange. Texts may be null where said; nothing is kept after the call. */
typedef struct InetExchange {
    const char* agentName;     /* User-Agent; null or empty: none is sent */
    const char* host;          /* server host name or address (required) */
    int32_t port;              /* server port, 1 to 65535 */
    const char* proxyName;     /* a special proxy name, or null/anything else: direct */
    int32_t proxyPort;         /* port of a named proxy; below 1: the server port */
    const char* proxyUser;     /* sent after a 407 reply; null or empty: none */
    const char* proxyPassword; /* with proxyUser */
    const char* method;        /* null: "GET" */
    const char* version;       /* "HTTP/1.0" (also for null) or "HTTP/1.1" */
    const char* path;          /* path of the request line, or an absolute http URL */
    const char* extraHeaders;  /* lines ending in "\r\n", added as they are; may be null */
    const char* user;          /* server user (Basic); null or empty: none */
    const char* password;
    const char* body;              /* request body (may hold zero bytes) or null */
    int32_t bodyLength;            /* bytes of body */
    int32_t timeout;               /* seconds to connect, and without any progress; below 1: 60 */
    int32_t maxResponse;           /* largest response taken; below 1: HTTP_DEFAULT_MAX_RESPONSE */
    int32_t relaySocket;           /* with relay set: the response goes to this socket instead */
    int32_t relay;                 /* non-zero: relay the response to relaySocket */
    InetProgressCallback progress; /* may be null */
    void* progressArg;
    int32_t secure;     /* non-zero: "https" with the checks above; path must then be a path */
    const char* caFile; /* PEM certificates trusted besides the system's; null or empty: none */
    char* errorText;    /* null, or INET_ERROR_SIZE bytes that receive why the exchange failed */
} InetExchange;

/* Performs the exchange. 1 on success: *response (owned, zero-terminated) and
 * *responseLength hold the header text and the body (nothing in relay mode), and
 * *statusCode the status of the last response; an error status is still a success
 * here. 0 when the exchange failed (bad arguments, an unusable proxy name, no
 * connection, a time-out, a reply cut short, a failed relay send); -3
 * (HTTP_ERR_TOO_LARGE) when the response grew past maxResponse; -4 (INET_ERR_TLS) when
 * a secure connection could not be set up. Nothing is handed back unless 1; errorText,
 * when given, says why it failed (empty on success). */
SAPIOLUX_EXPORT int32_t inetExchange(const InetExchange* exchange, char** response,
                                     int32_t* responseLength, int32_t* statusCode);

/* The same exchange with its parts as arguments, no body and the default limits: 1 on
 * success, 0 on failure (a response past the default maximum included). */
SAPIOLUX_EXPORT int32_t inetRequest(const char* agentName, const char* host, int32_t port,
                                    const char* proxyName, int32_t proxyPort, const char* proxyUser,
                                    const char* proxyPassword, const char* method,
                                    const char* version, const char* path, const char* extraHeaders,
                                    const char* user, const char* password, char** response,
                                    int32_t* responseLength, int32_t* statusCode,
                                    int32_t relaySocket, int32_t relay,
                                    InetProgressCallback progress, void* progressArg);

/* 1 when host is local, so a proxy is never used for it: a name without a dot, or a
 * loopback address ("localhost", names ending in ".localhost", 127.0.0.0/8, ::1). */
SAPIOLUX_EXPORT int32_t inetIsLocalHost(const char* host);

/* The proxy an exchange with proxyName and proxyPort uses for host and port, as an
 * owned URL such as "http://cache.example:3128", "" for a direct connection, or null
 * when the proxy name is unusable (a named proxy whose host is empty or holds
 * characters no host name has) or memory ran out. */
SAPIOLUX_EXPORT char* inetChooseProxy(const char* proxyName, int32_t proxyPort, const char* host,
                                      int32_t port);

#ifdef __cplusplus
}
#endif

#endif
