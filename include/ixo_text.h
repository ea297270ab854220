/* libixo: query-text processing. Free text becomes query text for the retrieval
 * server: words are cut out, stop words dropped, the rest normalised and stemmed,
 * duplicates removed and the words joined with '+'. Texts are single-byte; words are
 * compared in upper case. The stop list is process-wide (support/lang2util.h): the
 * built-in list until a stop-list file is loaded. */
#ifndef SAPIOLUX_IXO_TEXT_H
#define SAPIOLUX_IXO_TEXT_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

struct IXO;

/* Room that ixoProcessQueryText normally needs: pieces are added while the output
 * holds at most this many bytes (terminator included). */
#define IXO_QUERY_TEXT_LIMIT 2048

/* Normalises a query text into out (outSize bytes): leading line feeds, carriage
 * returns, tabs, blanks and '+' are skipped, '&' dropped, the blank-separated pieces
 * joined with '+', and line feeds, carriage returns, tabs, blanks, '=' and ';' turned
 * into '+'. Pieces are added while the output (with its terminator) holds at most
 * 2048 bytes and while the piece fits in outSize; out is always terminated.
 * 1; 0 for a null text, a null out or an outSize below 1. */
SAPIOLUX_EXPORT int32_t ixoProcessQueryText(const char* text, char* out, int32_t outSize);

/* Weighted query terms of a free text, each word followed by "~+" (at most 200
 * distinct words, each cut to 256 characters), as a new text in *out owned by the
 * caller. 1; -5 for a null or empty text or a null out (*out stays null); -7 when
 * memory ran out. A text without usable words gives an empty text. */
SAPIOLUX_EXPORT int32_t ixoProcessContentToQuery(const char* text, char** out);

/* The same with words cut to maxWordLength characters and no limit on the number of
 * words. -5 also for a maxWordLength below 1. */
SAPIOLUX_EXPORT int32_t ixoProcessContentToQueryWithTruncate(const char* text,
                                                             int32_t maxWordLength, char** out);

/* Stems an upper-case English word in place (it never grows). 1; -5 for null. */
SAPIOLUX_EXPORT int32_t ixoStem(char* word);

/* The word filter, in place: keeps letters, digits and '~'; rejects an empty word or a
 * stop word; a word holding '~' is cut there and kept unstemmed (rejected when
 * nothing is left); any other word is stemmed. 1 kept, 0 rejected (or null). */
SAPIOLUX_EXPORT int32_t ixoWordFilter(char* word);

/* Asks the server (query port, "/qmethod=n") for its stop list. On 1, *count words in
 * *words, an owned array of owned texts (release each, then the array; or use
 * ixoFreeStoplist). -5 for null arguments, -3 when the request fails, -9 when a count
 * was announced but no word could be read. Fewer words than announced give the words
 * read. */
SAPIOLUX_EXPORT int32_t ixoGetStoplist(struct IXO* ixo, int32_t* count, char*** words);
/* Parses a stop-list reply: the count, then one word per line after the first line
 * feed. Results and ownership as ixoGetStoplist (without -3). */
SAPIOLUX_EXPORT int32_t ixoParseStoplist(const char* reply, int32_t* count, char*** words);
/* Releases an array from ixoGetStoplist and its words; sets *words to null. */
SAPIOLUX_EXPORT void ixoFreeStoplist(char*** words, int32_t count);

/* Words over a text pool, used to turn free text into query terms and cache keys. */
typedef struct WordList {
    int32_t count;        /* words held */
    int32_t capacity;     /* slots in words; starts at 1024, grows by 1024 */
    char** words;         /* owned array of pointers into pool */
    int32_t poolCapacity; /* bytes in pool; starts at 16384, grows by 16384 */
    int32_t poolUsed;     /* bytes used in pool */
    char* pool;           /* owned; the words, each zero-terminated */
    int32_t sorted;       /* 1 once words has been sorted */
} WordList;

/* Flag bits of ixoWordListBuildQuery. */
#define IXO_WORDS_SORT_UNIQUE \
    1                          /* sort; skip a word whose first 20 characters equal the last kept */
#define IXO_WORDS_NO_DIGITS 2  /* skip words holding a digit (ignored with IXO_WORDS_NO_NUMBERS) */
#define IXO_WORDS_NO_NUMBERS 4 /* skip words that read as a non-zero number */
#define IXO_WORDS_NO_SINGLE 8  /* skip words of one character */

/* An empty list; null when memory ran out. Release with ixoWordListDestroy. */
SAPIOLUX_EXPORT WordList* ixoWordListCreate(void);
/* Splits text at any of the separator characters and adds every piece that holds a
 * letter or digit. 1; -5 for null arguments; -7 when memory ran out. */
SAPIOLUX_EXPORT int32_t ixoWordListAddText(WordList* list, const char* text,
                                           const char* separators);
/* Adds one word as it is (the word filter may have changed it). 1, -5 or -7. */
SAPIOLUX_EXPORT int32_t ixoWordListAddWord(WordList* list, const char* word);
/* Sorts the words in byte order. 1; -5 for null. */
SAPIOLUX_EXPORT int32_t ixoWordListSort(WordList* list);
/* The kept words, each followed by joiner, as a new text owned by the caller (empty
 * when no word is kept); null for null arguments or when memory ran out. */
SAPIOLUX_EXPORT char* ixoWordListBuildQuery(WordList* list, const char* joiner, int32_t flags);
/* Releases the list and sets *list to null; null is harmless. */
SAPIOLUX_EXPORT void ixoWordListDestroy(WordList** list);

/* The separator set of text suggestions: blank, line feed, tab, carriage return,
 * !"$%^*&()_-+={}[]~#:;@'<>,.?/`|\ and the bytes 0xFA and 0xBC. */
SAPIOLUX_EXPORT const char* ixoSuggestSeparators(void);

#ifdef __cplusplus
}
#endif

#endif
