/* Dates read out of free text by a template, dates written by a template, and the
 * local time stamp.
 *
 * Template elements (compared after upper-casing template and text):
 *   "LONGMONTH"  reads a long month name; writes the full month name
 *   "SHORTMONTH" reads a short month name; writes the abbreviated name ("%b")
 *   "MONTH"      writes the full month name ("%B")
 *   "LONGDAY"    reads a day number followed by a day-number ending (1ST, 22ND)
 *   "ZZZ"        reads three characters of time zone (GMT, PST and EST shift the hour)
 *   D, M, Y, H, N, S  day, month number, year, hour, minute, second: a letter repeated
 *                reads up to one digit per repetition (at most 10), a letter followed
 *                by '+' reads all the digits there; writing knows "DD", "MM", "YYYY",
 *                "YY", "HH", "NN", "SS" and the '+' forms
 *   "EPOCHSECONDS" as the whole template writes the seconds as a number
 *   anything else must appear at that place in the text, and is copied when writing. */
#ifndef SAPIOLUX_DATEUTIL_H
#define SAPIOLUX_DATEUTIL_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Four counted lists of upper-case words. Month lists are in calendar order, January
 * first. The weekday names are not used by parsing; they are there for callers that
 * name days. */
typedef struct DateNames {
    int32_t longMonthCount;
    const char* const* longMonths;
    int32_t shortMonthCount;
    const char* const* shortMonths;
    int32_t dayEndingCount;
    const char* const* dayEndings;
    int32_t dayNameCount;
    const char* const* dayNames;
} DateNames;

/* The built-in English names (JANUARY..., JAN..., ST ND RD TH, MONDAY...). */
SAPIOLUX_EXPORT const DateNames* dateBuiltinNames(void);

/* Finds the first place in text that fits template and converts what it read to
 * seconds since the epoch (local time; fields the template does not give are taken
 * from the current local time). names may be null for the built-in set. Two-digit
 * years below 70 are 20xx, 70 to 999 are years since 1900, and from 1000 on full
 * years. Returns 1 and sets *seconds, or 0 (leaving *seconds untouched) when no place
 * fits or an argument is null. */
SAPIOLUX_EXPORT int dateParse(const DateNames* names, const char* text, const char* format,
                              int64_t* seconds);

/* The local time of seconds written by template (see above). A new text owned by the
 * caller; null for a null template or a time that cannot be represented. */
SAPIOLUX_EXPORT char* dateFormat(const char* format, int64_t seconds);

/* The current local time as "day/month/year  hh:mm:ss" (the diagnostic log's stamp). A
 * new text owned by the caller. */
SAPIOLUX_EXPORT char* dateTimeStamp(void);

#ifdef __cplusplus
}
#endif

#endif
