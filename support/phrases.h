/* The capitalised-phrase extractor: the names and titles of a free text, found by their
 * capital letters, for building a query when no term weights are available. */
#ifndef SAPIOLUX_PHRASES_H
#define SAPIOLUX_PHRASES_H

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Returns a new text (released with memFree) holding the capitalised phrases of text,
 * each followed by ", ". A word is a run of ASCII letters and digits; it is capitalised
 * when it begins with a letter A..Z and its upper-case form is not an entry of
 * stoplist (entries separated by ','; compared without regard to case; null or empty
 * for none). Capitalised words separated only by blanks and tabs form one phrase, its
 * words joined by one blank. A phrase of one word that opens a sentence (first in the
 * text, or after '.', '!', '?' or an empty line) is left out: its capital says
 * nothing. Null for a null text or when memory ran out. */
SAPIOLUX_EXPORT char* strCapitalisedPhrases(const char* text, const char* stoplist);

#ifdef __cplusplus
}
#endif

#endif
