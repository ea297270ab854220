/* One HTTP/1.0 exchange over a plain TCP socket: the request text is built here,
 * sent, the whole response collected until the peer closes or goes quiet, and split
 * into status code, header text and body. No connection is reused.
 *
 * Two special proxy names select the system-proxy path (support/httpinet.h) instead of
 * the socket: "ORVIQ_AUTOPROXY" (the whole value: the proxy the system names for the
 * URL) and any value beginning with "ORVIQ_CERNPROXY" (the rest is a proxy host, used
 * at the proxy port). That path sends the same method, URL, "Pragma: No-Cache" and body,
 * and its response is split the same way. */
#ifndef SAPIOLUX_HTTPREQUEST_H
#define SAPIOLUX_HTTPREQUEST_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HTTP_HOST_SIZE 512
#define HTTP_METHOD_SIZE 256
#define HTTP_VERSION_SIZE 32

#define HTTP_AUTOPROXY_NAME "ORVIQ_AUTOPROXY"
#define HTTP_CERNPROXY_PREFIX "ORVIQ_CERNPROXY"

typedef struct HttpRequest {
    char host[HTTP_HOST_SIZE]; /* server host name or dotted address */
    int32_t port;
    char proxyHost[HTTP_HOST_SIZE];  /* proxy host or a special proxy name; empty: none */
    int32_t proxyPort;               /* below 1: the server port is used */
    char* proxyUser;                 /* owned or null */
    char* proxyPassword;             /* owned or null */
    char method[HTTP_METHOD_SIZE];   /* "GET" */
    char version[HTTP_VERSION_SIZE]; /* "HTTP/1.0" */
    char* url;                       /* owned path or absolute URL of the request line */
    char* postData;                  /* owned body or null */
    int32_t useInet;                 /* set for the special proxy names */
    int32_t timeout;                 /* send/receive wait in seconds (60) */
    int32_t secondTimeout;           /* carried to the socket layer, unused there (600) */
    int32_t maxResponseBytes;        /* largest response taken (HTTP_DEFAULT_MAX_RESPONSE) */
} HttpRequest;

/* The largest response (status line, headers and body) an exchange takes unless
 * httpRequestSetMaxResponse says otherwise: 256 MB. */
#define HTTP_DEFAULT_MAX_RESPONSE (256 * 1024 * 1024)

/* httpRequestSend's result when the response grew past the request's maximum. */
#define HTTP_ERR_TOO_LARGE (-3)

/* Setters: 0, or -2 for a null request or a null/empty required text (nothing
 * changes then). */
SAPIOLUX_EXPORT int32_t httpRequestCreate(HttpRequest** request);
SAPIOLUX_EXPORT int32_t httpRequestDestroy(HttpRequest** request);
/* Copies at most 511 characters. A host holding a blank or a control character is
 * refused (-2), as it would end up in the request line through a proxy. */
SAPIOLUX_EXPORT int32_t httpRequestSetHost(HttpRequest* request, const char* host, int32_t port);
/* Copies at most 255 characters; a method holding a blank or control character is
 * refused (-2). */
SAPIOLUX_EXPORT int32_t httpRequestSetMethod(HttpRequest* request, const char* method);
/* A leading "GET " is skipped and the copy ends before the first " HTTP/1.", so a
 * whole request line may be passed. Blanks and control characters left in the URL are
 * sent percent-encoded ("%20", "%0D", ...), so the request line never carries them
 * raw and a URL cannot add header lines. */
SAPIOLUX_EXPORT int32_t httpRequestSetUrl(HttpRequest* request, const char* url);
SAPIOLUX_EXPORT int32_t httpRequestSetPostData(HttpRequest* request, const char* body);
/* The host is required; user and password are kept only when not empty. */
SAPIOLUX_EXPORT int32_t httpRequestSetProxy(HttpRequest* request, const char* proxyHost,
                                            int32_t proxyPort, const char* user,
                                            const char* password);
/* Both must be at least 1. */
SAPIOLUX_EXPORT int32_t httpRequestSetTimeouts(HttpRequest* request, int32_t timeout,
                                               int32_t secondTimeout);
/* The largest response in bytes that httpRequestSend takes (at least 1); a longer one
 * ends the exchange with HTTP_ERR_TOO_LARGE. */
SAPIOLUX_EXPORT int32_t httpRequestSetMaxResponse(HttpRequest* request, int32_t maxBytes);

/* The URL as the request line carries it: every blank, control character (below
 * 0x20) and DEL percent-encoded with two upper-case hexadecimal digits, all other
 * bytes unchanged. Owned by the caller; null for null input or when memory ran out. */
SAPIOLUX_EXPORT char* httpEncodeRequestTarget(const char* url);

/* The request text exactly as it goes on the wire (owned by the caller), null when
 * the request is incomplete (no host, port 0 or no URL). *length gets its size. */
SAPIOLUX_EXPORT char* httpRequestBuildText(const HttpRequest* request, int32_t* length);

/* Performs the exchange. On 0, *body (owned, zero-terminated, 20 spare bytes) and
 * *bodyLength hold the body, *headers (when asked for) the header text with its blank
 * line, and *statusCode the status (unchanged when the response has no "HTTP/").
 * An error status (404, 500, ...) is not a transport failure: it comes back with 0
 * and the caller decides. When the request is incomplete nothing is sent and 0 comes
 * back with no body. -1 when the transport failed, HTTP_ERR_TOO_LARGE when the
 * response grew past the request's maximum; nothing is handed back then. The body is
 * split off the received bytes in place, so a long response is held about once. */
SAPIOLUX_EXPORT int32_t httpRequestSend(HttpRequest* request, int32_t* statusCode, char** headers,
                                        char** body, int32_t* bodyLength);

/* Splits a raw response of length bytes (which may hold zero bytes). The body
 * starts after the first "\n\n" when that comes before any "\r\n\r\n", else after
 * the first "\r\n\r\n", else the whole response is the body. headers (optional) gets
 * everything before the body. *body is zero-filled 20 bytes past its end. 0, or -1
 * when memory ran out (nothing handed back then). */
SAPIOLUX_EXPORT int32_t httpSplitResponse(const char* response, int32_t length, int32_t* statusCode,
                                          char** headers, char** body, int32_t* bodyLength);
/* The integer eight characters after the first "HTTP/" of the response; *statusCode
 * stays as it is when there is none. */
SAPIOLUX_EXPORT void httpReadStatusCode(const char* response, int32_t length, int32_t* statusCode);

/* Host, port (443 for "https", else 80, unless one follows the host) and path
 * (without its leading '/') of an absolute URL; host and path are owned by the
 * caller. 1 on success, 0 on failure (nothing handed back). */
SAPIOLUX_EXPORT int32_t httpSplitUrl(const char* url, char** host, int32_t* port, char** path);

/* Socket layer. Socket handles are descriptors; -1 is invalid. */
#define SOCK_NONBLOCKING 1
#define SOCK_KEEPALIVE 2
#define SOCK_DONTLINGER 4
#define SOCK_REUSEADDR 8

/* A TCP stream socket with a 6193-byte receive buffer and the options of flags. */
SAPIOLUX_EXPORT int32_t sockOpen(int32_t flags);
/* Resolves host (dotted address first, then by name) and starts connecting; a
 * connection still in progress counts as success. 0 or -1. */
SAPIOLUX_EXPORT int32_t sockConnect(int32_t sock, const char* host, int32_t port);
/* Sends length bytes in chunks of at most 4096, waiting at most timeout seconds for
 * each chunk and giving up after timeout + 1 seconds without progress. 0 when all
 * was sent, else the last socket error (or -1). */
SAPIOLUX_EXPORT int32_t sockSendAll(int32_t sock, const char* bytes, int32_t length,
                                    int32_t timeout);
/* Receives until the peer closes, a wait of timeout seconds brings nothing, an error,
 * or timeout + 1 seconds without data. stopAtLineFeed ends after the first chunk with a
 * line feed; maxLength > 0 ends once that many bytes arrived. *buffer (owned,
 * zero-terminated) and *length are handed back in either case. 0 when data or a
 * clean close arrived, -1 otherwise (and when the buffer could not grow: nothing is
 * handed back then). */
SAPIOLUX_EXPORT int32_t sockReceiveAll(int32_t sock, char** buffer, int32_t* length,
                                       int32_t timeout, int32_t secondTimeout,
                                       int32_t stopAtLineFeed, int32_t maxLength);
/* Shuts both directions down and closes; *sock becomes -1. */
SAPIOLUX_EXPORT void sockClose(int32_t* sock);
/* Open (all options), connect, send, receive, close; stops at the first failure.
 * The receive result, or the failing step's non-zero result. */
SAPIOLUX_EXPORT int32_t sockExchange(const char* host, int32_t port, const char* request,
                                     int32_t requestLength, char** response,
                                     int32_t* responseLength, int32_t timeout,
                                     int32_t secondTimeout);

#ifdef __cplusplus
}
#endif

#endif
