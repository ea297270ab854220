/* Language support: the conversion of accented and typographic Latin-1 characters to
 * plain ASCII that text passes through before it is cut into words, and the
 * process-wide stop list.
 *
 * The stop list starts as the built-in list of 103 entries. Loading a stop-list file
 * replaces it for the rest of the process (or until lang2ResetStoplist). It is not
 * locked: load it before other threads look words up. */
#ifndef SAPIOLUX_LANG2UTIL_H
#define SAPIOLUX_LANG2UTIL_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Buckets of the loaded stop list: A to Z and one for every other initial. */
#define LANG2_STOPLIST_BUCKETS 27
#define LANG2_STOPLIST_BUCKET_WORDS 1000
#define LANG2_STOPWORD_MAX 31

/* The conversion of one byte: bytes below 127 are themselves; others their table
 * entry (a blank unless listed). second receives the second letter of the two-letter
 * forms (0xDF "ss", 0xE4 "ae", ...) or 0. */
SAPIOLUX_EXPORT char lang2ConvertChar(unsigned char c, char* second);

/* Converts input into *buffer, which holds *size bytes (may be null / 0; a block from
 * memAlloc). When 2 * length + 5 bytes do not fit, the buffer is replaced by one of
 * 2 * length + 25 bytes and *size updated. The output is terminated. Returns the
 * output length, or -1 for null arguments or when memory ran out. */
SAPIOLUX_EXPORT int32_t lang2ConvertText(const char* input, char** buffer, int32_t* size);

/* Converts length bytes of input into output (outputSize bytes, at least
 * 2 * length + 1 for a complete result); output is always terminated when outputSize
 * is above 0 and conversion stops before a character that does not fit. Returns the
 * output length. */
SAPIOLUX_EXPORT int32_t lang2ConvertBytes(const char* input, int32_t length, char* output,
                                          int32_t outputSize);

/* Loads a stop-list file: entries separated by line feeds, carriage returns and tabs,
 * each converted, upper-cased, trimmed of blanks and tabs and cut to 31 characters.
 * A full bucket drops the entry with "Warning: too many words in stoplist\n" on the
 * standard output. The built-in list is off afterwards. 0, or -1 when the file cannot
 * be read (nothing changes then). */
SAPIOLUX_EXPORT int32_t lang2LoadStoplist(const char* fileName);

/* 1 when word (upper case, exact match) is a stop word: the built-in list while it is
 * in force, then the loaded bucket of the word's initial. 0 otherwise or for null. */
SAPIOLUX_EXPORT int32_t lang2IsStopWord(const char* word);

/* Empties the loaded list and puts the built-in list back in force. */
SAPIOLUX_EXPORT void lang2ResetStoplist(void);

/* 1 while the built-in list is in force. */
SAPIOLUX_EXPORT int32_t lang2BuiltinStoplistActive(void);

/* The built-in list (103 entries, duplicates included); *count receives 103. */
SAPIOLUX_EXPORT const char* const* lang2BuiltinStoplist(int32_t* count);

/* Words held in a bucket of the loaded list (0 to 26); 0 for another index. */
SAPIOLUX_EXPORT int32_t lang2StoplistBucketSize(int32_t bucket);

#ifdef __cplusplus
}
#endif

#endif
