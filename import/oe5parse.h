/* Reader of the single-file message store (".dbx"), client tag "oe5".
 *
 * The store is a tree of index nodes whose entries point at message information
 * records (time, subject, position of the message text); the message text is a chain
 * of blocks. The reader walks the tree in order, reads each record and copies the text
 * of a message out as a plain RFC 822 file. The store is opened for reading only;
 * every position and length taken from it is checked against the file's size, and
 * positions already handled are never read again, so damaged or looping stores end
 * with an error instead of a crash or a hang.
 *
 * Results: 0 success; 1 or 2 bad arguments; 3 memory, file or format error; 4 the file
 * cannot be opened; 5 end of the mailbox; 6 message not found; 7 not a reference of
 * this client. Errors are written to the diagnostic log. */
#ifndef SAPIOLUX_OE5PARSE_H
#define SAPIOLUX_OE5PARSE_H

#include <stdint.h>

#include "import/mailref.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OE5_TAG "oe5"

#define OE5_OK 0
#define OE5_BAD_ARGUMENTS 1
#define OE5_BAD_ARGUMENT 2
#define OE5_ERROR 3
#define OE5_CANNOT_OPEN 4
#define OE5_END 5
#define OE5_NOT_FOUND 6
#define OE5_NOT_REFERENCE 7

typedef struct Oe5Mailbox Oe5Mailbox;

/* The current message. The texts belong to the mailbox. */
typedef struct Oe5Message {
    int64_t time;          /* seconds since 1970; 0 when the record has none */
    const char* subject;   /* the subject, empty when the record has none */
    uint32_t infoPosition; /* position of the message information record */
    uint32_t bodyPosition; /* position of the first block of the message text */
} Oe5Message;

/* Opens path + ".dbx" (path is the mailbox without its extension) and reads the
 * position of the root index node. No message is current until oe5NextMessage. */
SAPIOLUX_EXPORT int oe5Open(const char* path, Oe5Mailbox** mailbox);
/* Makes the next message in tree order current and reads its information: 0, 5 at the
 * end, 3 when that message's record is damaged (the walk goes on with the next call). */
SAPIOLUX_EXPORT int oe5NextMessage(Oe5Mailbox* mailbox);
/* The current message, or null before the first and after the last. */
SAPIOLUX_EXPORT const Oe5Message* oe5CurrentMessage(const Oe5Mailbox* mailbox);
/* The mail reference of the current message, owned by the caller; null without one. */
SAPIOLUX_EXPORT char* oe5MessageReference(const Oe5Mailbox* mailbox);
/* Writes the text of the current message to fileName (opened "w+b"). A chain that
 * breaks off still writes what was read and returns 3. */
SAPIOLUX_EXPORT int oe5CopyMessage(Oe5Mailbox* mailbox, const char* fileName);
/* Opens the mailbox named by the reference and copies the first message whose time and
 * subject equal the reference's: 0, 7 for a reference of another kind, 4 when the
 * mailbox cannot be opened, 6 when no message matches. */
SAPIOLUX_EXPORT int oe5FindAndCopy(const char* reference, const char* fileName);
/* The mailboxes of a directory: the name without extension of every "*.dbx" file
 * (extension compared without regard to case), sorted. Null when there is none;
 * release with mailrefFreeList. */
SAPIOLUX_EXPORT char** oe5ListMailboxes(const char* directory, int32_t* count);
/* Closes the mailbox, frees everything and sets *mailbox to null. */
SAPIOLUX_EXPORT void oe5Close(Oe5Mailbox** mailbox);

#ifdef __cplusplus
}
#endif

#endif
