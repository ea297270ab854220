// Reader of the index-and-data store (".idx" plus ".mbx").
#include "import/outlookparse.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "import/importlog.h"
#include "import/mailstore.h"
#include "support/diaglog.h"

namespace {

using mailstore::le32;
using mailstore::le64;

constexpr uint32_t kIdxSignature = 0x39464D4A;  // "JMF9"
constexpr uint32_t kMbxSignature = 0x36464D4A;  // "JMF6"
constexpr uint64_t kTextOffset = 16;            // message text after its 16-byte prefix

void report(const MailErrorSink* errors, int32_t code, const char* message, const char* detail) {
    if (errors && errors->add) errors->add(errors->user, code, -2, message, detail);
}

}  // namespace

struct Oe4Mailbox {
    std::string folder;
    mailstore::StoreFile idx;
    mailstore::StoreFile mbx;
    uint32_t count = 0;
    uint32_t index = 0;                   // records read so far
    uint64_t next = OE4_IDX_HEADER_SIZE;  // position of the next record
    bool hasCurrent = false;
    std::string items[OE4_TEXT_ITEMS];
    Oe4Message current{};
};

namespace {

int readRecord(Oe4Mailbox& box) {
    const uint64_t at = box.next;
    const char* idxName = box.folder.c_str();
    unsigned char h[OE4_RECORD_HEADER_SIZE];
    if (at > UINT32_MAX || !box.idx.readAt(at, h, sizeof h)) {
        diagLog("Error: Record %u of \"%s.idx\" lies outside the file\n", box.index, idxName);
        return OE4_FILE_ERROR;
    }
    Oe4Message m{};
    m.recordPosition = static_cast<uint32_t>(at);
    m.recordLength = le32(h + 16);
    m.position = le32(h + 20);
    m.length = le32(h + 42);
    uint32_t timeOffset = le32(h + 46);
    m.entryCount = le32(h + 98);
    // A record shorter than its own header cannot be stepped over: the rest of the index
    // cannot be trusted, so the mailbox ends here.
    if (m.recordLength < OE4_RECORD_HEADER_SIZE || !box.idx.contains(at, m.recordLength)) {
        diagLog("Error: Record %u of \"%s.idx\" has an invalid length %lu\n", box.index, idxName,
                static_cast<unsigned long>(m.recordLength));
        return OE4_FILE_ERROR;
    }
    box.next = at + m.recordLength;
    uint64_t entriesEnd = at + OE4_RECORD_HEADER_SIZE + uint64_t{m.entryCount} * OE4_ENTRY_SIZE;
    uint64_t timeAt = at + 50 + uint64_t{timeOffset};
    unsigned char block[OE4_TIME_BLOCK_SIZE];
    if (!box.idx.contains(at, entriesEnd - at) || !box.idx.readAt(timeAt, block, sizeof block)) {
        diagLog("Error: Record %u of \"%s.idx\" points outside the file\n", box.index, idxName);
        return OE4_FILE_ERROR;
    }
    m.time = mailrefFileTimeToUnix(le64(block + 8));
    uint64_t itemAt = timeAt + OE4_TIME_BLOCK_SIZE;
    int32_t items = 0;
    for (; items < OE4_TEXT_ITEMS; ++items) {
        uint32_t length = 0;
        if (!box.idx.readU32(itemAt, length)) break;
        if (length > OE4_MAX_ITEM_LENGTH) break;
        std::string& text = box.items[items];
        text.assign(length, '\0');
        if (!box.idx.readAt(itemAt + 4, text.data(), length)) {
            diagLog("Error: Record %u of \"%s.idx\" has a text item outside the file\n", box.index,
                    idxName);
            return OE4_FILE_ERROR;
        }
        text.resize(std::strlen(text.c_str()));
        itemAt += 4 + uint64_t{length};
    }
    for (int32_t i = items; i < OE4_TEXT_ITEMS; ++i) box.items[i].clear();
    m.itemCount = items;
    for (int32_t i = 0; i < OE4_TEXT_ITEMS; ++i) m.items[i] = box.items[i].c_str();
    if (!box.mbx.contains(uint64_t{m.position} + kTextOffset, m.length)) {
        diagLog("Error: Message %u of \"%s.mbx\" lies outside the file (%lu bytes at %lu)\n",
                box.index, idxName, static_cast<unsigned long>(m.length),
                static_cast<unsigned long>(m.position));
        return OE4_FILE_ERROR;
    }
    box.current = m;
    box.hasCurrent = true;
    return OE4_OK;
}

}  // namespace

extern "C" {

int oe4Open(const char* path, const MailErrorSink* errors, Oe4Mailbox** mailbox) {
    if (!mailbox) return OE4_BAD_ARGUMENTS;
    *mailbox = nullptr;
    if (!path || !*path) return OE4_BAD_ARGUMENTS;
    try {
        auto box = std::make_unique<Oe4Mailbox>();
        box->folder = path;
        std::string idxName = box->folder + ".idx", mbxName = box->folder + ".mbx";
        if (!box->idx.open(idxName)) {
            report(errors, -6, "Parsing MBX file: no IDX file found", idxName.c_str());
            importLog(3, "IDX file for \"%s\" not found\n", path);
            return OE4_FILE_ERROR;
        }
        if (!box->mbx.open(mbxName)) {
            report(errors, -6, "Parsing MBX file: no file found", mbxName.c_str());
            importLog(3, "MBX file \"%s\" not found\n", mbxName.c_str());
            return OE4_FILE_ERROR;
        }
        unsigned char header[OE4_MBX_HEADER_SIZE];
        if (!box->idx.readAt(0, header, OE4_IDX_HEADER_SIZE) || le32(header) != kIdxSignature) {
            report(errors, -1, "Parsing MBX file: IDX file invalid", idxName.c_str());
            importLog(3, "IDX file \"%s\" invalid\n", idxName.c_str());
            return OE4_BAD_ARGUMENTS;
        }
        box->count = le32(header + 8);
        if (!box->mbx.readAt(0, header, OE4_MBX_HEADER_SIZE) || le32(header) != kMbxSignature) {
            report(errors, -1, "Parsing MBX file: MBX file invalid", mbxName.c_str());
            importLog(3, "MBX file \"%s\" invalid\n", mbxName.c_str());
            return OE4_BAD_ARGUMENTS;
        }
        *mailbox = box.release();
        return OE4_OK;
    } catch (...) {
        return OE4_MEMORY;
    }
}

int32_t oe4MessageCount(const Oe4Mailbox* mailbox) {
    if (!mailbox) return 0;
    return mailbox->count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mailbox->count);
}

int oe4MoreMessages(const Oe4Mailbox* mailbox) {
    return mailbox && mailbox->index < mailbox->count;
}

int oe4NextMessage(Oe4Mailbox* mailbox) {
    if (!mailbox) return OE4_BAD_ARGUMENTS;
    mailbox->hasCurrent = false;
    if (mailbox->index >= mailbox->count) return OE4_END;
    try {
        uint64_t before = mailbox->next;
        int result = readRecord(*mailbox);
        ++mailbox->index;
        // Without a trustworthy record length the following records cannot be found.
        if (result != OE4_OK && mailbox->next == before) mailbox->index = mailbox->count;
        return result;
    } catch (...) {
        mailbox->index = mailbox->count;
        return OE4_MEMORY;
    }
}

const Oe4Message* oe4CurrentMessage(const Oe4Mailbox* mailbox) {
    return mailbox && mailbox->hasCurrent ? &mailbox->current : nullptr;
}

char* oe4MessageReference(const Oe4Mailbox* mailbox) {
    if (!mailbox || !mailbox->hasCurrent) return nullptr;
    return mailrefFormat(OE4_TAG, mailbox->folder.c_str(), mailbox->items[0].c_str(),
                         mailbox->current.time);
}

int oe4CopyMessage(Oe4Mailbox* mailbox, const char* fileName, int32_t maxLength) {
    if (!mailbox || !fileName || !*fileName || !mailbox->hasCurrent) return OE4_BAD_ARGUMENTS;
    const Oe4Message& m = mailbox->current;
    if (maxLength > 0 && m.length > static_cast<uint32_t>(maxLength)) return OE4_SKIPPED;
    try {
        std::string text(m.length, '\0');
        if (!mailbox->mbx.readAt(uint64_t{m.position} + kTextOffset, text.data(), text.size()))
            return OE4_FILE_ERROR;
        if (!mailstore::writeFile(fileName, "wb", text.data(), text.size())) {
            diagLog("Error: Could not write to file \"%s\"\n", fileName);
            return OE4_FILE_ERROR;
        }
        return OE4_OK;
    } catch (...) {
        return OE4_MEMORY;
    }
}

int oe4FindAndCopy(const char* reference, const char* fileName) {
    if (!reference || !fileName || !*fileName) return OE4_BAD_ARGUMENTS;
    char* folder = nullptr;
    char* key = nullptr;
    int64_t time = 0;
    int parsed = mailrefParse(reference, OE4_TAG, nullptr, &folder, &key, &time);
    if (parsed == MAILREF_MEMORY) return OE4_MEMORY;
    if (parsed != MAILREF_OK) return OE4_NOT_REFERENCE;
    Oe4Mailbox* box = nullptr;
    int result = oe4Open(folder, nullptr, &box);
    if (result == OE4_OK) {
        while ((result = oe4NextMessage(box)) != OE4_END) {
            if (result != OE4_OK) continue;
            const Oe4Message* m = oe4CurrentMessage(box);
            if (m->time == time && std::strcmp(m->items[0], key) == 0) {
                result = oe4CopyMessage(box, fileName, 0);
                break;
            }
        }
        oe4Close(&box);
    }
    memFree(folder);
    memFree(key);
    return result;
}

char** oe4ListMailboxes(const char* directory, int32_t* count) {
    if (count) *count = 0;
    if (!directory) return nullptr;
    try {
        return mailstore::toOwnedList(mailstore::listWithExtension(directory, "idx"), count);
    } catch (...) {
        return nullptr;
    }
}

void oe4Close(Oe4Mailbox** mailbox) {
    if (!mailbox || !*mailbox) return;
    delete *mailbox;
    *mailbox = nullptr;
}

}  // extern "C"
