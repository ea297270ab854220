// The Simple MAPI interface as this program calls it: the records, entry points, flags
// and result codes with their published values. The 32-bit ULONG of the interface is
// uint32_t here and a session handle is pointer-sized, so a library built for this
// platform and this header agree.
#pragma once

#include <cstdint>

extern "C" {

typedef uint32_t MapiUlong;
typedef uintptr_t MapiSession;

typedef struct MapiRecipDesc {
    MapiUlong ulReserved;
    MapiUlong ulRecipClass;  // 0 originator, 1 to, 2 cc, 3 bcc
    char* lpszName;
    char* lpszAddress;
    MapiUlong ulEIDSize;
    void* lpEntryID;
} MapiRecipDesc;

typedef struct MapiFileDesc {
    MapiUlong ulReserved;
    MapiUlong flFlags;
    MapiUlong nPosition;
    char* lpszPathName;
    char* lpszFileName;
    void* lpFileType;
} MapiFileDesc;

typedef struct MapiMessage {
    MapiUlong ulReserved;
    char* lpszSubject;
    char* lpszNoteText;
    char* lpszMessageType;
    char* lpszDateReceived;  // "YYYY/MM/DD HH:NN"
    char* lpszConversationID;
    MapiUlong flFlags;
    MapiRecipDesc* lpOriginator;
    MapiUlong nRecipCount;
    MapiRecipDesc* lpRecips;
    MapiUlong nFileCount;
    MapiFileDesc* lpFiles;
} MapiMessage;

typedef MapiUlong (*MapiLogonFn)(uintptr_t uiParam, char* profileName, char* password,
                                 MapiUlong flags, MapiUlong reserved, MapiSession* session);
typedef MapiUlong (*MapiLogoffFn)(MapiSession session, uintptr_t uiParam, MapiUlong flags,
                                  MapiUlong reserved);
typedef MapiUlong (*MapiFindNextFn)(MapiSession session, uintptr_t uiParam, char* messageType,
                                    char* seedMessageId, MapiUlong flags, MapiUlong reserved,
                                    char* messageId);
typedef MapiUlong (*MapiReadMailFn)(MapiSession session, uintptr_t uiParam, char* messageId,
                                    MapiUlong flags, MapiUlong reserved, MapiMessage** message);
typedef MapiUlong (*MapiFreeBufferFn)(void* buffer);

}  // extern "C"

namespace smapi {

constexpr MapiUlong kLogonUi = 0x1;
constexpr MapiUlong kNewSession = 0x2;
constexpr MapiUlong kLongMessageIds = 0x4000;          // 16384
constexpr MapiUlong kReadFlags = 0x80 | 0x40 | 0x800;  // peek, envelope only, no attachments
constexpr size_t kMessageIdSize = 512;                 // room for a long message id

constexpr MapiUlong kSuccess = 0;
constexpr MapiUlong kUserAbort = 1;
constexpr MapiUlong kFailure = 2;
constexpr MapiUlong kLoginFailure = 3;
constexpr MapiUlong kInsufficientMemory = 5;
constexpr MapiUlong kTooManySessions = 8;
constexpr MapiUlong kNoMessages = 16;
constexpr MapiUlong kInvalidMessage = 17;
constexpr MapiUlong kInvalidSession = 19;

}  // namespace smapi
