/* Reader of the index-and-data store (".idx" index plus ".mbx" data), client tag "oe4".
 *
 * F.idx: an 80-byte header (signature "JMF9", record count at 8) and message records
 * back to back from offset 80; each record has a 186-byte header (record length at 16,
 * message position at 20, message length at 42, time block offset at 46, entry count
 * at 98), its 92-byte entries, a 26-byte block holding the message time (a FILETIME at
 * bytes 8-15) at record + 50 + offset, and seven length-prefixed text items, the first
 * being the message key. F.mbx: an 84-byte header (signature "JMF6"); a message's text
 * is its length in bytes at its position + 16. Both files are opened for reading only
 * and every position, length and count is checked against the files' sizes.
 *
 * Results: 0 success; -1 bad arguments or a bad signature; -2 not an "email://"
 * reference of this client; -3 memory; -4 the message was skipped (longer than the
 * maximum length); -6 file error (missing, unreadable, or a record that leaves the
 * file); -7 no more messages. */
#ifndef SAPIOLUX_OUTLOOKPARSE_H
#define SAPIOLUX_OUTLOOKPARSE_H

#include <stdint.h>

#include "import/mailref.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OE4_TAG "oe4"

#define OE4_OK 0
#define OE4_BAD_ARGUMENTS (-1)
#define OE4_NOT_REFERENCE (-2)
#define OE4_MEMORY (-3)
#define OE4_SKIPPED (-4)
#define OE4_FILE_ERROR (-6)
#define OE4_END (-7)

#define OE4_IDX_HEADER_SIZE 80
#define OE4_MBX_HEADER_SIZE 84
#define OE4_RECORD_HEADER_SIZE 186
#define OE4_ENTRY_SIZE 92
#define OE4_TIME_BLOCK_SIZE 26
#define OE4_TEXT_ITEMS 7
#define OE4_MAX_ITEM_LENGTH 2048

/* The current message. Texts belong to the mailbox. */
typedef struct Oe4Message {
    uint32_t recordPosition; /* of the record in F.idx */
    uint32_t recordLength;
    uint32_t position; /* of the message in F.mbx (its text starts 16 bytes later) */
    uint32_t length;
    int64_t time; /* seconds since 1970 */
    uint32_t entryCount;
    int32_t itemCount;                 /* text items read (at most 7) */
    const char* items[OE4_TEXT_ITEMS]; /* the text items; items[0] is the key */
} Oe4Message;

typedef struct Oe4Mailbox Oe4Mailbox;

/* Opens path + ".idx" and path + ".mbx" (path without extension) and checks both
 * signatures. Failures are reported to errors (may be null) with the "Parsing MBX
 * file:" texts and, at import log level 3, to the import log. */
SAPIOLUX_EXPORT int oe4Open(const char* path, const MailErrorSink* errors, Oe4Mailbox** mailbox);
/* The record count of the index header (at most INT32_MAX). */
SAPIOLUX_EXPORT int32_t oe4MessageCount(const Oe4Mailbox* mailbox);
/* 1 while records remain. */
SAPIOLUX_EXPORT int oe4MoreMessages(const Oe4Mailbox* mailbox);
/* Reads the next record and makes it current: 0; -7 at the end; -6 when the record
 * leaves the file or cannot be stepped over (the mailbox then ends). */
SAPIOLUX_EXPORT int oe4NextMessage(Oe4Mailbox* mailbox);
/* The current message, or null. */
SAPIOLUX_EXPORT const Oe4Message* oe4CurrentMessage(const Oe4Mailbox* mailbox);
/* The mail reference of the current message (key: the first text item), owned by the
 * caller. */
SAPIOLUX_EXPORT char* oe4MessageReference(const Oe4Mailbox* mailbox);
/* Writes the current message's text to fileName ("wb"); with maxLength above 0 a longer
 * message is skipped (-4, no file written). */
SAPIOLUX_EXPORT int oe4CopyMessage(Oe4Mailbox* mailbox, const char* fileName, int32_t maxLength);
/* Opens the mailbox of the reference and copies the first message whose time and key
 * equal the reference's. Without a match the walk's last result (-7 after a full walk). */
SAPIOLUX_EXPORT int oe4FindAndCopy(const char* reference, const char* fileName);
/* Every "*.idx" file of a directory, name without extension, sorted; null when none.
 * Release with mailrefFreeList. */
SAPIOLUX_EXPORT char** oe4ListMailboxes(const char* directory, int32_t* count);
/* Closes the mailbox, frees everything and sets *mailbox to null. */
SAPIOLUX_EXPORT void oe4Close(Oe4Mailbox** mailbox);

#ifdef __cplusplus
}
#endif

#endif
