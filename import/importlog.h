// The import log: one process-wide file with a level. Level 1 "warnings", 2 "errors",
// 3 "full"; callers log a line only when the level is at least the one the line needs.
// Each entry opens the file in "a" mode, writes the local time stamp, ":" and the
// message, and closes it. Nothing is written while no file is set.
#pragma once

#include <cstdint>

// Sets the log file (1 to 299 characters): the file is opened once with "w" (or "a"
// when append is set) and closed. Null or empty turns the log off. 0, or -1 for a
// name that is too long or a file that cannot be opened (the log is then off).
int importLogSetFile(const char* name, int append);
void importLogSetLevel(int32_t level);
int32_t importLogLevel();
// The level named by word ("warnings" 1, "errors" 2, "full" 3, case-blind), or -1.
int32_t importLogLevelFromName(const char* word);
// Writes one entry when the log level is at least level. A null format writes "NULL\n".
void importLog(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
