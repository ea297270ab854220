/* Small routines over single-byte zero-terminated texts. */
#ifndef SAPIOLUX_STRUTIL_H
#define SAPIOLUX_STRUTIL_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Copies at most n bytes of src into dst and puts a terminator at dst[n - 1]
 * (nothing is written when n is 0). Returns dst. */
SAPIOLUX_EXPORT char* strCopyBounded(char* dst, const char* src, int32_t n);

/* First place of needle in haystack without regard to case; null when absent or when
 * either text is null. */
SAPIOLUX_EXPORT char* strFindCaseBlind(const char* haystack, const char* needle);

/* Remove blanks, tabs, carriage returns and line feeds in place: at both ends, only at
 * the end, only at the start. Return text. */
SAPIOLUX_EXPORT char* strTrim(char* text);
SAPIOLUX_EXPORT char* strTrimEnd(char* text);
SAPIOLUX_EXPORT char* strTrimStart(char* text);

/* Re-entrant tokeniser: pass the text on the first call and null afterwards; *save
 * keeps the position. Leading separators are skipped; the token is terminated in
 * place. Null at the end. */
SAPIOLUX_EXPORT char* strTokenize(char* text, const char* separators, char** save);

/* Splits text at every occurrence of separator into an owned array of owned copies;
 * *count receives the number of pieces. Release with strFreeSplit. */
SAPIOLUX_EXPORT char** strSplit(const char* text, const char* separator, int32_t* count);
SAPIOLUX_EXPORT void strFreeSplit(char*** pieces, int32_t count);

/* '?' matches one character, '*' any run; other characters exactly. 1 or 0. */
SAPIOLUX_EXPORT int strWildcardMatch(const char* pattern, const char* text);
/* list holds patterns separated by any character of separators; each pattern may join
 * several wildcard patterns with " AND " (all must match). 1 when any pattern matches. */
SAPIOLUX_EXPORT int strPatternListMatch(const char* list, const char* separators,
                                        const char* text);
SAPIOLUX_EXPORT int strPatternListMatchCaseBlind(const char* list, const char* separators,
                                                 const char* text);

/* Runs of letters and digits within the first n characters. */
SAPIOLUX_EXPORT int32_t strWordCount(const char* text, int32_t n);
/* Cuts a text that goes on after its n-th word and writes "..." after the cut; the
 * buffer must have room for three more bytes. Returns text. */
SAPIOLUX_EXPORT char* strTruncateAtWord(char* text, int32_t n);
/* A summary of at most limit separators (see the module); owned by the caller, null
 * when shorter than three characters. */
SAPIOLUX_EXPORT char* strCutSummary(const char* text, int32_t limit, int addEllipsis);
/* Runs of white space become one blank; leading white space is dropped. In place. */
SAPIOLUX_EXPORT char* strCollapseWhitespace(char* text);
/* 1 for line feed, carriage return, blank, tab, '"', '=', '\'', '.', ',', ';', ':',
 * '!', '-', '{', '}', '(' and ')'. */
SAPIOLUX_EXPORT int strIsDelimiter(int c);
/* h = h * 131 + c over the characters (signed bytes), modulo tableSize. */
SAPIOLUX_EXPORT uint32_t strHash(const char* text, uint32_t tableSize);

/* Base64 of length bytes; with lineBreaks every 68 output characters end with a line
 * feed. Owned by the caller. */
SAPIOLUX_EXPORT char* strBase64Encode(const unsigned char* bytes, int32_t length, int lineBreaks);
/* Decodes Base64 text (line breaks and blanks ignored); *length receives the byte
 * count. Null for invalid input. The result is zero-terminated after its bytes. */
SAPIOLUX_EXPORT unsigned char* strBase64Decode(const char* text, int32_t* length);

/* One character as text: '"' "&quot;", '&' "&amp;", '\'' "&apos;", '<' "&lt;",
 * '>' "&gt;"; others themselves. The result is a constant or buf (at least 2 bytes). */
SAPIOLUX_EXPORT const char* strEntityEscape(char c, char buf[2]);

#ifdef __cplusplus
}
#endif

#endif
