/* Summaries of texts, as the import library makes them for its documents. */
#ifndef SAPIOLUX_IMEX_SUMMARY_H
#define SAPIOLUX_IMEX_SUMMARY_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The summary of text: its first `sentences` sentences (a sentence ends at '.', ';',
 * '?', '!' or ':', the last end itself left out), or its first 8 * (wordLimit / 8)
 * words when it has no sentence end or its first sentence has more than wordLimit
 * words. White space is folded first. A new text owned by the caller (memFree), or null
 * for a null or empty text, sentences below 1 or wordLimit below 8. */
SAPIOLUX_EXPORT char* imexGetSummary(const char* text, int32_t sentences, int32_t wordLimit);

#ifdef __cplusplus
}
#endif

#endif
