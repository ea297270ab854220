/* Small routines over single-byte zero-terminated texts. */
#ifndef SAPIOLUX_STRUTIL_H
#define SAPIOLUX_STRUTIL_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Copies src into dst, at most n bytes, stopping at src's terminator and filling the
 * rest of the n bytes with zeros; dst[n - 1] is always a terminator (nothing is written
 * when n is 0 or below; a null src gives an empty text). Returns dst. */
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

/* Splits text at every occurrence of separator into an owned array of owned copies
 * (empty pieces kept; an empty separator gives the whole text as one piece); *count
 * receives the number of pieces and the array is null-terminated as well. Release with
 * strFreeSplit, which sets *pieces to null. */
SAPIOLUX_EXPORT char** strSplit(const char* text, const char* separator, int32_t* count);
SAPIOLUX_EXPORT void strFreeSplit(char*** pieces, int32_t count);

/* '?' matches one character, '*' any run; other characters exactly. 1 or 0. */
SAPIOLUX_EXPORT int strWildcardMatch(const char* pattern, const char* text);
/* list holds patterns separated by any character of separators; each pattern may join
 * several wildcard patterns with " AND " (all must match). 1 when any pattern matches. */
SAPIOLUX_EXPORT int strPatternListMatch(const char* list, const char* separators, const char* text);
SAPIOLUX_EXPORT int strPatternListMatchCaseBlind(const char* list, const char* separators,
                                                 const char* text);

/* Runs of letters and digits within the first n characters. */
SAPIOLUX_EXPORT int32_t strWordCount(const char* text, int32_t n);
/* A text of at least six characters that has more words after its n-th word is cut at
 * the last blank, tab, carriage return or line feed at or before the end of that word
 * (or at the end of the word when there is none there) and "..." is written at the
 * cut; the buffer must have room for three more bytes. Words are runs of ASCII letters
 * and digits. Returns text. */
SAPIOLUX_EXPORT char* strTruncateAtWord(char* text, int32_t n);
/* A summary of the first 8192 characters, trimmed: the text up to the limit-th
 * separator (blank, ':', '/', '&'), or up to the last '.', '?' or '!' seen past half
 * the limit; "..." is appended after a cut without a sentence end when addEllipsis is
 * set. A text with fewer separators is kept whole. Owned by the caller; null when
 * shorter than three characters or limit is not positive. */
SAPIOLUX_EXPORT char* strCutSummary(const char* text, int32_t limit, int addEllipsis);
/* Runs of white space become one blank; leading white space is dropped. In place. */
SAPIOLUX_EXPORT char* strCollapseWhitespace(char* text);
/* 1 for line feed, carriage return, blank, tab, '"', '=', '\'', '.', ',', ';', ':',
 * '!', '-', '{', '}', '(' and ')'. */
SAPIOLUX_EXPORT int strIsDelimiter(int c);
/* h = h * 131 + c over the characters (signed bytes) in unsigned 32-bit arithmetic,
 * modulo tableSize (unreduced when tableSize is 0). */
SAPIOLUX_EXPORT uint32_t strHash(const char* text, uint32_t tableSize);

/* Base64 of length bytes, taken in blocks of 51 bytes (68 characters); with lineBreaks
 * every block, the last one too, is followed by a line feed. The buffer holds
 * 4 * length + 1024 zeroed bytes. Owned by the caller; null for null or empty input. */
SAPIOLUX_EXPORT char* strBase64Encode(const unsigned char* bytes, int32_t length, int lineBreaks);
/* Decodes Base64 text (line breaks and blanks ignored; the final padding may be left
 * out); *length receives the byte count. Null for null, empty or invalid input; *length
 * is then 0, or -1 when the input was invalid. The result is zero-terminated after its
 * bytes. */
SAPIOLUX_EXPORT unsigned char* strBase64Decode(const char* text, int32_t* length);

/* One character as text: '"' "&quot;", '&' "&amp;", '\'' "&apos;", '<' "&lt;",
 * '>' "&gt;"; others themselves. The result is a constant or buf (at least 2 bytes). */
SAPIOLUX_EXPORT const char* strEntityEscape(char c, char buf[2]);

#ifdef __cplusplus
}
#endif

#endif
