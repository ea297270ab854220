/* Mail references and what the mailbox readers share.
 *
 * A mail reference names one message of one mailbox of one mail program:
 *   "email://" tag "&" folder "&" key "&" time
 * where folder (the mailbox path without its extension) and key (the message's subject
 * or index key) are URL-encoded so that "&" can only be a separator, and time is the
 * message time in seconds since 1970, in decimal. */
#ifndef SAPIOLUX_MAILREF_H
#define SAPIOLUX_MAILREF_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MAILREF_PREFIX "email://"

/* URL encoding: ASCII letters, digits and "-_.*" stay, a blank becomes '+', every other
 * byte '%' and two upper-case hexadecimal digits. Owned by the caller; null for null. */
SAPIOLUX_EXPORT char* mailrefUrlEncode(const char* text);
/* URL decoding: '+' becomes a blank, '%' and two hexadecimal digits that byte; a '%'
 * without two digits stays as it is. Null for null, and null when the text would
 * decode to a zero byte (which would cut the text short). Owned by the caller. */
SAPIOLUX_EXPORT char* mailrefUrlDecode(const char* text);

/* "email://" tag "&" encoded folder "&" encoded key "&" time. Owned by the caller; null
 * for a null or empty tag, a tag holding '&', or when memory ran out. A null folder or
 * key counts as empty. */
SAPIOLUX_EXPORT char* mailrefFormat(const char* tag, const char* folder, const char* key,
                                    int64_t time);

/* Results of mailrefParse. */
#define MAILREF_OK 0
#define MAILREF_BAD_ARGUMENTS (-1)
#define MAILREF_NOT_A_REFERENCE (-2) /* no "email://", wrong item count, bad number */
#define MAILREF_OTHER_CLIENT (-3)    /* the tag is not the one asked for */
#define MAILREF_MEMORY (-4)

/* Splits a reference. It must begin with "email://" exactly and hold four "&"-separated
 * items; the tag must equal tag without regard to case (a null tag accepts any and the
 * tag found is then returned in *foundTag when that is not null). folder and key are
 * decoded; time is a decimal number, optionally negative. Outputs that are not null
 * receive owned texts (or the time) only on success. */
SAPIOLUX_EXPORT int mailrefParse(const char* reference, const char* tag, char** foundTag,
                                 char** folder, char** key, int64_t* time);

/* Seconds since 1970 of a FILETIME (100-nanosecond units since 1601); 0 for a zero
 * FILETIME. */
SAPIOLUX_EXPORT int64_t mailrefFileTimeToUnix(uint64_t fileTime);

/* Where readers report failures meant for the import error list: module code, severity
 * (-1 to -4), message text and detail (usually the file name, may be null). */
typedef struct MailErrorSink {
    void (*add)(void* user, int32_t code, int32_t severity, const char* message,
                const char* detail);
    void* user;
} MailErrorSink;

/* Lists of mailbox names returned by the readers: an owned array of owned texts,
 * terminated by null as well. Releases the list and sets *list to null. */
SAPIOLUX_EXPORT void mailrefFreeList(char*** list, int32_t count);

#ifdef __cplusplus
}
#endif

#endif
