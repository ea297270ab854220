// Internal side of the client handle and request transport, shared by the ixo
// modules: the reply-to-file and reply-to-buffer variants of the request routine,
// request scrambling and the reply post-processing (also reached by tests and fuzz
// targets).
#pragma once

#include <stdint.h>

#include "ixo_api.h"

extern "C" {

// The one-byte key XORed into scrambled request paths.
#define IXO_REQUEST_KEY 0x5A
// Marker after which the server echoes the query it received.
#define IXO_ORIGINAL_QUERY_MARKER "***Original Query"
#define IXO_INVALID_INSTRUCTION "Invalid Instruction"

// Sends request to port, which must be the handle's query port or index port (the
// index port selects the index-port path; any other port gives -10 and sends
// nothing). fileName is deleted first; a non-empty reply is written to it ("wb+"),
// ending before the first line that holds "***Original Query". Returns 1, or the
// request's failure code (-3, -5, -11) with no file written.
int32_t ixoRequestToFile(IXO* ixo, int32_t port, const char* request, const char* postData,
                         const char* fileName);

// Sends request like ixoRequestToDynBuffer2 (same port selector) and copies at most
// size bytes of the reply into buffer, whose last byte is then set to 0; the text is
// also terminated after its end when it is shorter. An empty or failed reply leaves
// an empty text. Returns the request's code; -5 for a null buffer or size < 1.
int32_t ixoRequestToBuffer(IXO* ixo, int32_t portSelector, const char* request,
                           const char* postData, char* buffer, int32_t size);

// The request text as it goes out: scrambled when the handle's mode is 1, else an
// unchanged copy. Owned by the caller; null for null input or when memory ran out.
char* ixoScrambleRequest(const IXO* ixo, const char* request);
// Scrambles text unconditionally (the mode-1 rule).
char* ixoScrambleText(const char* text);

// Turns a received body into the reply text: inflates a "binary/compressed" body,
// cuts at "***Original Query", rejects "Invalid Instruction". headers may be null.
// body (bodyLength bytes, terminated after them) stays the caller's. On 1, *reply is a
// new text owned by the caller; -3 when the body is empty or cannot be inflated, -7
// when memory ran out, -11 for "Invalid Instruction"; *reply is null then.
int32_t ixoProcessReply(const char* headers, const char* body, int32_t bodyLength, char** reply);

// ixoProcessReply over a body it takes over (released on failure, or handed back as
// the reply when it needs no inflating, so a long reply is not copied). A compressed
// body that claims more than maxBytes inflated is refused with -3.
int32_t ixoProcessReplyOwned(const char* headers, char* body, int32_t bodyLength, int32_t maxBytes,
                             char** reply);

// The request line's target: blanks and control characters percent-encoded, then
// scrambled when the handle asks for it. Owned by the caller; null for null input.
char* ixoRequestTarget(const IXO* ixo, const char* request);

// ixoRequestToDynBuffer2 without judging the HTTP status: *status gets the status
// read from the response (0 when there was none), and a reply with an error status is
// handed back like any other. The index commands use it to report the server's reason
// for a refusal.
int32_t ixoRequestWithStatus(IXO* ixo, int32_t portSelector, const char* request,
                             const char* postData, char** reply, int32_t* status);

// True for a status outside 2xx (0, no status read, is not an error).
bool ixoStatusIsError(int32_t status);
// Notes a refused request's status in the diagnostic log (host, port, status; never
// the request, which may hold the user parameters).
void ixoLogStatus(const IXO* ixo, int32_t portSelector, int32_t status);
}
