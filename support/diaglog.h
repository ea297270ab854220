/* The process-wide diagnostic log. Off until a file name is set, by diagLogSetup or
 * by the environment variable SAPIOLUX_LOG (read on first use). Entries are stamped
 * with the local date and time; the file rotates to "<name>.old" past its size
 * limit; the latest entries can be kept in memory. */
#ifndef SAPIOLUX_DIAGLOG_H
#define SAPIOLUX_DIAGLOG_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the log file (null or empty turns logging off), the size limit in bytes
 * (0: no rotation) and the number of in-memory slots (0: none). */
SAPIOLUX_EXPORT void diagLogSetup(const char* fileName, int32_t sizeLimit, int32_t ringCapacity);
/* Writes one entry. */
SAPIOLUX_EXPORT void diagLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
/* The same, and writes the formatted message to copy too when it is not null. */
SAPIOLUX_EXPORT void diagLogWithCopy(FILE* copy, const char* format, va_list args);
/* Writes text followed by a line feed. */
SAPIOLUX_EXPORT void diagLogText(const char* text);

/* The in-memory copy of the latest entries. diagLogRingCount gives the number of
 * entries held (at most the ring capacity); diagLogRingGet copies entry index (0 is the
 * oldest held) into message and stamp (each cut to fit its size, always terminated;
 * either may be null) and returns 1, or 0 when there is no such entry. */
SAPIOLUX_EXPORT int32_t diagLogRingCount(void);
SAPIOLUX_EXPORT int diagLogRingGet(int32_t index, char* message, int32_t messageSize, char* stamp,
                                   int32_t stampSize);

struct tm;
/* Prints the time stamp of an entry for the broken-down time t into buf (size bytes):
 * "day/month/year  hh:mm:ss", the year being tm_year + 1900 above 99, tm_year + 2000
 * below 50 and tm_year itself otherwise. Returns buf. */
SAPIOLUX_EXPORT char* diagLogFormatStamp(const struct tm* t, char* buf, size_t size);

#ifdef __cplusplus
}
#endif

#endif
