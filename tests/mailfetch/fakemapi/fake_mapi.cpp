// A stand-in Simple MAPI library for the tests: the five entry points with the
// published flag values, serving three inbox messages, and a hook that reports how it
// was called (logons, logoffs, buffers not freed, the first seed, the flags seen).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mailfetch/smapi_abi.h"

namespace {

struct Message {
    const char* id;
    const char* subject;
    const char* body;
    const char* date;
};

const Message kMessages[] = {
    {"AAAA0001", "First #1", "Hello # world\r\n", "2010/12/13 05:42"},
    {"AAAA0002", "No date", "Second body", nullptr},
    {"AAAA0003", "Blank", " \r\n\t", "2010/12/14 06:00"},
    {"AAAA0004", "Two\r\n#IXOENDDOC\nlines", "Fourth <b>body</b> & <ORVIQSMAPISubject>",
     "2010/12/15 07:00"},
};
constexpr int kCount = 4;

int logons = 0, logoffs = 0, outstanding = 0, badFlags = 0;
int findCalls = 0, firstSeedNull = -1;
MapiUlong lastLogonFlags = 0;
const MapiSession kSession = 0x5e55;

// One block per read: the message record and everything it points at.
struct Block {
    MapiMessage message{};
    MapiRecipDesc originator{};
    MapiRecipDesc recips[3]{};
    std::vector<std::string> texts;
    char* keep(const std::string& s) {
        texts.push_back(s);
        return texts.back().data();
    }
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) MapiUlong MAPILogon(uintptr_t, char* profile, char*,
                                                           MapiUlong flags, MapiUlong,
                                                           MapiSession* session) {
    lastLogonFlags = flags;
    if (profile && std::strcmp(profile, "refuse") == 0) return smapi::kLoginFailure;
    ++logons;
    findCalls = 0;
    *session = kSession;
    return smapi::kSuccess;
}

__attribute__((visibility("default"))) MapiUlong MAPILogoff(MapiSession session, uintptr_t,
                                                            MapiUlong, MapiUlong) {
    if (session != kSession) return smapi::kInvalidSession;
    ++logoffs;
    return smapi::kSuccess;
}

__attribute__((visibility("default"))) MapiUlong MAPIFindNext(MapiSession session, uintptr_t,
                                                              char* type, char* seed,
                                                              MapiUlong flags, MapiUlong,
                                                              char* id) {
    if (session != kSession) return smapi::kInvalidSession;
    if (flags != smapi::kLongMessageIds || type) {
        ++badFlags;
        return smapi::kFailure;
    }
    if (findCalls++ == 0) firstSeedNull = seed == nullptr;
    int next = 0;
    if (seed) {
        next = -1;
        for (int i = 0; i < kCount; ++i)
            if (std::strcmp(seed, kMessages[i].id) == 0) next = i + 1;
        if (next < 0) return smapi::kInvalidMessage;
    }
    if (next >= kCount) return smapi::kNoMessages;
    std::strcpy(id, kMessages[next].id);
    return smapi::kSuccess;
}

__attribute__((visibility("default"))) MapiUlong MAPIReadMail(MapiSession session, uintptr_t,
                                                              char* id, MapiUlong flags, MapiUlong,
                                                              MapiMessage** out) {
    if (session != kSession) return smapi::kInvalidSession;
    if (flags != smapi::kReadFlags) {
        ++badFlags;
        return smapi::kFailure;
    }
    for (int i = 0; i < kCount; ++i) {
        if (std::strcmp(id, kMessages[i].id) != 0) continue;
        auto* b = new Block;
        b->texts.reserve(16);
        MapiMessage& m = b->message;
        m.lpszSubject = b->keep(kMessages[i].subject);
        m.lpszNoteText = b->keep(kMessages[i].body);
        m.lpszDateReceived = kMessages[i].date ? b->keep(kMessages[i].date) : nullptr;
        m.lpszMessageType = b->keep("IPM.Note");
        m.lpszConversationID = b->keep("conv-" + std::to_string(i));
        b->originator.lpszName = b->keep("Alice");
        b->originator.lpszAddress = b->keep("alice@example.org");
        m.lpOriginator = &b->originator;
        b->recips[0] = {0, 1, b->keep("Bob"), b->keep("bob@example.org"), 0, nullptr};
        b->recips[1] = {0, 2, b->keep("No address"), nullptr, 0, nullptr};
        b->recips[2] = {0, 2, b->keep("Carol"), b->keep("carol@example.org"), 0, nullptr};
        m.lpRecips = b->recips;
        m.nRecipCount = 3;
        ++outstanding;
        *out = &b->message;
        return smapi::kSuccess;
    }
    return smapi::kInvalidMessage;
}

__attribute__((visibility("default"))) MapiUlong MAPIFreeBuffer(void* buffer) {
    if (!buffer) return smapi::kFailure;
    --outstanding;
    delete reinterpret_cast<Block*>(buffer);  // the message record is the block's first member
    return smapi::kSuccess;
}

struct FakeMapiState {
    int logons, logoffs, outstanding, badFlags, firstSeedNull;
    MapiUlong lastLogonFlags;
};

__attribute__((visibility("default"))) void fakeMapiState(FakeMapiState* state) {
    *state = {logons, logoffs, outstanding, badFlags, firstSeedNull, lastLogonFlags};
}

}  // extern "C"
