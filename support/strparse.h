/* Decoders of transfer encodings. */
#ifndef SAPIOLUX_STRPARSE_H
#define SAPIOLUX_STRPARSE_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes quoted-printable input of length bytes into a new text (*out, owned by the
 * caller); line ends are written as CR LF when crlf is non-zero, else LF. Returns the
 * length of the result; 0 and *out null for an empty input. Bad input is decoded as
 * well as it can be and logged once as a warning. */
SAPIOLUX_EXPORT int32_t strDecodeQuotedPrintable(const char* input, int32_t length, int crlf,
                                                 char** out);

#ifdef __cplusplus
}
#endif

#endif
