/* Decoders of transfer encodings. */
#ifndef SAPIOLUX_STRPARSE_H
#define SAPIOLUX_STRPARSE_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes quoted-printable input of length bytes into a new text (*out, owned by the
 * caller, zero-terminated after its length bytes); line ends are written as CR LF when
 * crlf is non-zero, else LF, and blanks before a line end are dropped. Returns the
 * length of the result; 0 and *out null for an empty input (an input that decodes to
 * nothing gives an empty text). Bad input is decoded as well as it can be and one
 * warning per call goes to the diagnostic log. */
SAPIOLUX_EXPORT int32_t strDecodeQuotedPrintable(const char* input, int32_t length, int crlf,
                                                 char** out);

#ifdef __cplusplus
}
#endif

#endif
