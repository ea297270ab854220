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

#ifdef __cplusplus
}
#endif

#endif
