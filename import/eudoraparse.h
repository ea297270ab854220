/* Reader of the table-of-contents mailbox (".toc" index plus ".mbx" data), client tag
 * "eudora".
 *
 * F.toc holds a 104-byte header (mailbox name, message count) and one 218-byte entry
 * per message (position and length of the message in F.mbx, time, status, flags,
 * date text, sender, subject). Both files are opened for reading only. A table whose
 * size does not match its message count (a table of another layout or a damaged one)
 * is refused, and a message whose position and length leave F.mbx is reported as an
 * error for that message.
 *
 * Results: 0 success; 1 or 2 bad arguments; 3 memory, file or format error; 4 a file
 * cannot be opened; 5 end of the mailbox (also: no message matches a reference); 7 not
 * a reference of this client. Errors go to the diagnostic log. */
#ifndef SAPIOLUX_EUDORAPARSE_H
#define SAPIOLUX_EUDORAPARSE_H

#include <stdint.h>

#include "import/mailref.h"

#ifdef __cplusplus
extern "C" {
#endif

#define EUDORA_TAG "eudora"

#define EUDORA_OK 0
#define EUDORA_BAD_ARGUMENTS 1
#define EUDORA_BAD_ARGUMENT 2
#define EUDORA_ERROR 3
#define EUDORA_CANNOT_OPEN 4
#define EUDORA_END 5
#define EUDORA_NOT_REFERENCE 7

#define EUDORA_TOC_HEADER_SIZE 104
#define EUDORA_TOC_ENTRY_SIZE 218

/* One entry of the table. Texts are terminated. */
typedef struct EudoraMessage {
    uint32_t position; /* of the message in F.mbx */
    uint32_t length;
    int64_t time; /* seconds since 1970 */
    uint16_t status;
    uint8_t flags;     /* byte 14 */
    uint8_t moreFlags; /* bits 0, 1 and 6 of byte 15 */
    uint16_t value;    /* bytes 16-17 */
    char dateText[32]; /* bytes 18-49 */
    char sender[54];   /* bytes 50-103 */
    char subject[64];  /* bytes 114-177 */
} EudoraMessage;

typedef struct EudoraMailbox EudoraMailbox;

/* Opens path + ".toc" and path + ".mbx" (path without extension) and reads the table's
 * header. No message is current until eudoraNextMessage. */
SAPIOLUX_EXPORT int eudoraOpen(const char* path, EudoraMailbox** mailbox);
/* The mailbox name of the header (bytes 8-36) and its message count. */
SAPIOLUX_EXPORT const char* eudoraMailboxName(const EudoraMailbox* mailbox);
SAPIOLUX_EXPORT int32_t eudoraMessageCount(const EudoraMailbox* mailbox);
/* Makes the next entry current: 0, 5 at the end, 3 when that entry points outside
 * F.mbx (the walk goes on with the next call). */
SAPIOLUX_EXPORT int eudoraNextMessage(EudoraMailbox* mailbox);
/* The current entry, or null. */
SAPIOLUX_EXPORT const EudoraMessage* eudoraCurrentMessage(const EudoraMailbox* mailbox);
/* The mail reference of the current message (key: the subject), owned by the caller. */
SAPIOLUX_EXPORT char* eudoraMessageReference(const EudoraMailbox* mailbox);
/* Writes the current message to fileName ("wb"): all of it when wholeMessage is set,
 * else only what follows its header block. */
SAPIOLUX_EXPORT int eudoraCopyMessage(EudoraMailbox* mailbox, const char* fileName,
                                      int wholeMessage);
/* Opens the mailbox of the reference and copies the first message whose time and
 * subject equal the reference's: 0, 7, 4, or 5 when none matches. */
SAPIOLUX_EXPORT int eudoraFindAndCopy(const char* reference, const char* fileName,
                                      int wholeMessage);
/* Closes the mailbox, frees everything and sets *mailbox to null. */
SAPIOLUX_EXPORT void eudoraClose(EudoraMailbox** mailbox);

#ifdef __cplusplus
}
#endif

#endif
