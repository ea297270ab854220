/* File operations shared by the client, the support library and the import library:
 * whole-file reading and writing, copying, touching, temporary names, directory paths,
 * directory walks with name patterns, cutting a text file at a marker, and the marked
 * (scrambled) data files.
 *
 * Paths are ordinary paths; where a path is split, both '\\' and '/' separate
 * directories. Every operation given a null name returns its failure value without
 * touching the file system. Texts and buffers handed out belong to the caller, who
 * releases them with memFree. */
#ifndef SAPIOLUX_FILEUTIL_H
#define SAPIOLUX_FILEUTIL_H

#include <stdint.h>
#include <stdio.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The marker that opens a marked file: these 14 characters and their zero terminator
 * (FILE_MARKER_LENGTH bytes). */
#define FILE_MARKER_TEXT "HALVORANFILEX1"
#define FILE_MARKER_LENGTH 15

/* Reads the whole file (opened "rb") into *buffer: a zero-filled block of file size + 1
 * bytes, so the content is always zero-terminated. Returns the bytes read; 0 when the
 * file cannot be opened or memory ran out (*buffer is then null). An empty file gives
 * 0 and a buffer holding one zero byte. */
SAPIOLUX_EXPORT int64_t fileReadWhole(const char* fileName, char** buffer);

/* Creates or replaces the file ("wb") with length bytes. 1 when all were written and
 * the file was closed without error, else 0. A null bytes pointer is allowed only for
 * length 0. */
SAPIOLUX_EXPORT int fileWriteWhole(const char* fileName, const void* bytes, int64_t length);

/* Copies source to target opened with mode, which must contain 'w' or 'a' ('b' is
 * added when missing). 1 when the whole source was read and written (an empty source
 * included), else 0. A target that is the source itself (same device and inode: the
 * same name, a hard link or a symbolic link to it) is refused with 0 and left as it
 * is. */
SAPIOLUX_EXPORT int fileCopy(const char* source, const char* target, const char* mode);

/* Makes the file's modification time now without changing its content; a missing file
 * is created empty. 1 on success, else 0. */
SAPIOLUX_EXPORT int fileTouch(const char* fileName);

/* Size in bytes of an open file; its position is left where it was. -1 for null or
 * when the file cannot be positioned. */
SAPIOLUX_EXPORT int64_t fileSize(FILE* file);

/* 0 when the file can be opened for reading, -1 otherwise. */
SAPIOLUX_EXPORT int fileExists(const char* fileName);

/* Last modification in seconds since the epoch; 0 when the file cannot be examined. */
SAPIOLUX_EXPORT int64_t fileModificationTime(const char* fileName);

/* 1 when the file was removed, else 0. */
SAPIOLUX_EXPORT int fileDelete(const char* fileName);

/* Renames oldName to newName. Fails (0) when newName already exists, as the Windows
 * move does; 1 on success. */
SAPIOLUX_EXPORT int fileMove(const char* oldName, const char* newName);

/* A new text: base, the process id, '-', a number of the calling thread, '-', a
 * process-wide sequence number and ".tmp". Never the same twice within a process,
 * whatever thread asks, and distinct between processes. Null for a null base. */
SAPIOLUX_EXPORT char* fileTempName(const char* base);

/* Creates every directory along path ('\\' and '/' separate; a leading separator
 * starts at the root), ignoring those that exist. 1 when the whole path is a directory
 * afterwards, else 0. */
SAPIOLUX_EXPORT int fileMakeDirectoryPath(const char* path);

/* Splits path into drive ("C:" or empty), directory (up to and including the last
 * separator), name, and extension (from the last '.' of the name, dot included). Each
 * non-null out pointer receives a new text, at least 3 (drive) or 256 bytes long and
 * longer when the part needs it. 0, or -1 for a null path or when memory ran out
 * (nothing is then handed out). */
SAPIOLUX_EXPORT int fileSplitPath(const char* path, char** drive, char** directory, char** name,
                                  char** extension);

/* Cuts the text file just before the first place where marker occurs and drops the
 * rest; a file without the marker keeps its content. The work goes through a temporary
 * file beside the original, which then replaces it. 1 on success; 0 when either file
 * cannot be opened or written (the original is then unchanged). */
SAPIOLUX_EXPORT int fileCutAtMarker(const char* fileName, const char* marker);

/* Called by fileWalkDirectory for each matching file (directory and file name) and,
 * after the last entry of each directory, once with an empty name. A nonzero return
 * stops the walk. */
typedef int (*FileWalkCallback)(const char* directory, const char* name, void* context);

/* Walks the entries of directory in name order. A file whose name matches patterns
 * (case-blind; patterns separated by ','; each a wildcard pattern or several joined by
 * " AND "; null or empty matches every file) goes to the callback; with recursive set,
 * each subdirectory (not "." or "..", not a symbolic link) is walked in turn, its path
 * being directory + '/' + name. After the last entry the callback gets the directory
 * and "". Returns 0 when the walk completed, 1 when the callback stopped it, -1 when
 * the directory cannot be read or an argument is null. */
SAPIOLUX_EXPORT int fileWalkDirectory(const char* directory, const char* patterns,
                                      FileWalkCallback callback, void* context, int recursive);

/* Writes a marked file ("wb"): the FILE_MARKER_LENGTH marker bytes, then every data
 * byte i combined by exclusive-or with i mod 254. The caller's bytes are left as they
 * were. 1 when all was written, else 0. */
SAPIOLUX_EXPORT int fileWriteMarked(const void* bytes, int64_t length, const char* fileName);

/* Reads a file written by fileWriteMarked, undoing the combination; a file that does
 * not begin with the marker is read unchanged. *buffer and the result as for
 * fileReadWhole (the data without the marker, zero-terminated). */
SAPIOLUX_EXPORT int64_t fileReadMarked(const char* fileName, char** buffer);

/* Undoes (or applies: the combination is its own inverse) the exclusive-or of marked
 * files on length bytes in place, byte i with i mod 254. */
SAPIOLUX_EXPORT void fileScrambleBytes(void* bytes, int64_t length);

#ifdef __cplusplus
}
#endif

#endif
