/* Readers of the two mail stores of Unix mail programs, client tags "mbox" and
 * "maildir".
 *
 * An mbox is one file per folder: every message starts with a separator line beginning
 * "From " (with the sender and the delivery time in the asctime form, "From - " in some
 * programs) at the start of the file or after a line feed. A Maildir is a folder whose
 * cur/ and new/ sub-folders hold one file per message, named after the delivery time.
 *
 * References have the shape of the other readers': "email://mbox&" + mbox path + "&" +
 * key + "&" + time, "email://maildir&" + Maildir path + "&" + key + "&" + time. The mbox
 * key is the Message-ID (the subject when there is none) and the time the separator
 * line's; the Maildir key is the file's unique name (without the ":2,FLAGS" part, which
 * changes when the message is read) and the time the number that starts it. Stores are
 * only read; every scan is bounded by the file's size.
 *
 * Results as the other readers: 0 success; 1 or 2 bad arguments; 3 memory, file or
 * format error; 4 cannot be opened; 5 end of the mailbox; 6 message not found; 7 not a
 * reference of this client. */
#ifndef SAPIOLUX_MBOXPARSE_H
#define SAPIOLUX_MBOXPARSE_H

#include <stdint.h>

#include "import/mailref.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MBOX_TAG "mbox"
#define MAILDIR_TAG "maildir"

#define UNIXMAIL_OK 0
#define UNIXMAIL_BAD_ARGUMENTS 1
#define UNIXMAIL_BAD_ARGUMENT 2
#define UNIXMAIL_ERROR 3
#define UNIXMAIL_CANNOT_OPEN 4
#define UNIXMAIL_END 5
#define UNIXMAIL_NOT_FOUND 6
#define UNIXMAIL_NOT_REFERENCE 7

/* The current message of either reader. Texts belong to the mailbox. */
typedef struct UnixMailMessage {
    int64_t time;        /* seconds since 1970; 0 when unknown */
    const char* key;     /* Message-ID (mbox) or unique file name (Maildir) */
    const char* subject; /* the Subject header, empty when missing */
    uint64_t position;   /* mbox: where the text starts (after the separator line) */
    uint64_t length;     /* length of the text */
} UnixMailMessage;

typedef struct MboxMailbox MboxMailbox;

/* Opens an mbox file; a file that does not begin with "From " is refused with 3 (an
 * empty file is an empty mailbox). */
SAPIOLUX_EXPORT int mboxOpen(const char* path, MboxMailbox** mailbox);
SAPIOLUX_EXPORT int mboxNextMessage(MboxMailbox* mailbox);
SAPIOLUX_EXPORT const UnixMailMessage* mboxCurrentMessage(const MboxMailbox* mailbox);
SAPIOLUX_EXPORT char* mboxMessageReference(const MboxMailbox* mailbox);
/* Writes the message without its separator line ("wb"). */
SAPIOLUX_EXPORT int mboxCopyMessage(MboxMailbox* mailbox, const char* fileName);
SAPIOLUX_EXPORT int mboxFindAndCopy(const char* reference, const char* fileName);
SAPIOLUX_EXPORT void mboxClose(MboxMailbox** mailbox);

typedef struct MaildirMailbox MaildirMailbox;

/* Opens a Maildir: a folder with a cur/ or new/ sub-folder (else 4). Messages are
 * walked in the order of their file names, cur/ and new/ together. */
SAPIOLUX_EXPORT int maildirOpen(const char* path, MaildirMailbox** mailbox);
SAPIOLUX_EXPORT int maildirNextMessage(MaildirMailbox* mailbox);
SAPIOLUX_EXPORT const UnixMailMessage* maildirCurrentMessage(const MaildirMailbox* mailbox);
SAPIOLUX_EXPORT char* maildirMessageReference(const MaildirMailbox* mailbox);
SAPIOLUX_EXPORT int maildirCopyMessage(MaildirMailbox* mailbox, const char* fileName);
SAPIOLUX_EXPORT int maildirFindAndCopy(const char* reference, const char* fileName);
SAPIOLUX_EXPORT void maildirClose(MaildirMailbox** mailbox);

/* Seconds since 1970 (UTC) of an asctime-form date at the end of an mbox separator line
 * ("From sender Tue Dec 14 12:26:20 2010"); 0 when it cannot be read. */
SAPIOLUX_EXPORT int64_t mboxSeparatorTime(const char* line);

#ifdef __cplusplus
}
#endif

#endif
