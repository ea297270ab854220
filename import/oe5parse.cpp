// Reader of the single-file message store (".dbx").
//
// Layout (little-endian):
//   file header: signature CF AD 12 FE, 32-bit position of the root index node at 0xE4 (0: no
//   messages); index node: 24-byte header (+8 first child node, +17 entry count), then 12-byte
//     entries (+0 message information position, +4 child node position); the tree is
//     walked in order: first child, then each entry's message followed by its child;
//   message information: 12-byte header (+4 length of what follows, +10 entry count),
//     then 4-byte entries (+0 id, bit 0x80 set when the other three bytes are the value
//     itself, else they are an offset into the data after the entries), then the data.
//     Id 2 is the message time (FILETIME), 4 the position of the message text, 5 the
//     subject;
//   message text: a chain of blocks, each a 16-byte header (+8 data length, +12 next
//     block, 0 ends) and its data.
#include "import/oe5parse.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "import/mailstore.h"
#include "support/diaglog.h"

namespace {

using mailstore::le32;
using mailstore::le64;

constexpr uint32_t kSignature = 0xFE12ADCF;  // first four bytes of every store file
constexpr uint64_t kRootPointerAt = 0xE4;
constexpr uint64_t kNodeHeaderSize = 24;
constexpr uint64_t kNodeEntrySize = 12;
constexpr uint64_t kInfoHeaderSize = 12;
constexpr uint32_t kMaxInfoLength = 1u << 20;  // information records are a few hundred bytes
constexpr uint64_t kBlockHeaderSize = 16;

constexpr unsigned kIdTime = 0x02;
constexpr unsigned kIdBody = 0x04;
constexpr unsigned kIdSubject = 0x05;

struct WalkItem {
    bool isNode;
    uint32_t position;
};

}  // namespace

struct Oe5Mailbox {
    std::string folder;  // the path without extension, as given
    mailstore::StoreFile file;
    std::vector<WalkItem> stack;          // work still to do, last item next
    std::unordered_set<uint64_t> queued;  // node and message positions already queued
    bool hasCurrent = false;
    std::string subject;
    Oe5Message current{};
};

namespace {

// Whether a position may be walked: inside the file and not met before. Positions
// outside the file are logged and dropped.
bool admit(Oe5Mailbox& box, bool isNode, uint32_t position) {
    if (position == 0) return false;
    uint64_t need = isNode ? kNodeHeaderSize : kInfoHeaderSize;
    if (!box.file.contains(position, need)) {
        if (isNode)
            diagLog("Error: Unable to seek to block %ld\n", static_cast<long>(position));
        else
            diagLog("Error: Could not seek to message header %ld\n", static_cast<long>(position));
        return false;
    }
    // Nodes and messages are keyed apart so that a message position can never hide a node.
    uint64_t key = isNode ? position : (uint64_t{1} << 32) | position;
    return box.queued.insert(key).second;
}

void queue(Oe5Mailbox& box, bool isNode, uint32_t position) {
    if (admit(box, isNode, position)) box.stack.push_back({isNode, position});
}

void expandNode(Oe5Mailbox& box, uint32_t position) {
    unsigned char header[kNodeHeaderSize];
    if (!box.file.readAt(position, header, sizeof header)) {
        diagLog("Error: Unable to read index block header\n");
        return;
    }
    unsigned count = header[17];
    std::vector<unsigned char> entries(count * kNodeEntrySize);
    if (count && !box.file.readAt(position + kNodeHeaderSize, entries.data(), entries.size())) {
        diagLog("Error: Unable to read index block entries\n");
        return;
    }
    // In order: first child, message 0, child 0, message 1, ...; a position met twice
    // keeps its first place. Pushed in reverse so that popping gives that order.
    std::vector<WalkItem> items;
    items.reserve(2 * count + 1);
    auto add = [&](bool isNode, uint32_t p) {
        if (admit(box, isNode, p)) items.push_back({isNode, p});
    };
    add(true, le32(header + 8));
    for (unsigned i = 0; i < count; ++i) {
        const unsigned char* e = &entries[i * kNodeEntrySize];
        add(false, le32(e));
        add(true, le32(e + 4));
    }
    box.stack.insert(box.stack.end(), items.rbegin(), items.rend());
}

// Reads the information record at position into box.current; an OE5_ result.
int readInfo(Oe5Mailbox& box, uint32_t position) {
    unsigned char header[kInfoHeaderSize];
    if (!box.file.readAt(position, header, sizeof header)) {
        diagLog("Error: Could not read message header\n");
        return OE5_ERROR;
    }
    uint32_t length = le32(header + 4);
    unsigned count = header[10];
    if (length > kMaxInfoLength || length < count * 4u ||
        !box.file.contains(position + kInfoHeaderSize, length)) {
        diagLog("Error: Could not read message header\n");
        return OE5_ERROR;
    }
    std::vector<unsigned char> record(length);
    if (!box.file.readAt(position + kInfoHeaderSize, record.data(), length)) {
        diagLog("Error: Could not read message header\n");
        return OE5_ERROR;
    }
    const unsigned char* data = record.data() + count * 4u;
    const size_t dataLength = length - count * 4u;

    bool haveBody = false, haveSubject = false;
    uint32_t body = 0;
    int64_t time = 0;
    std::string subject;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned char* item = &record[i * 4u];
        unsigned id = item[0] & 0x7F;
        bool direct = (item[0] & 0x80) != 0;
        uint32_t value = item[1] | (item[2] << 8) | (static_cast<uint32_t>(item[3]) << 16);
        if (id == kIdBody && !haveBody) {
            if (direct) {
                body = value;
            } else {
                if (value > dataLength || dataLength - value < 4) {
                    diagLog("Error: Invalid 4 byte message pointer in message header\n");
                    return OE5_ERROR;
                }
                body = le32(data + value);
            }
            haveBody = true;
        } else if (id == kIdSubject && !direct && !haveSubject) {
            if (value >= dataLength) {
                diagLog("Error: Invalid subject in message header\n");
                return OE5_ERROR;
            }
            const char* start = reinterpret_cast<const char*>(data + value);
            const void* end = std::memchr(start, 0, dataLength - value);
            size_t n = end ? static_cast<const char*>(end) - start : dataLength - value;
            subject.assign(start, n);
            haveSubject = true;
        } else if (id == kIdTime && !direct && value <= dataLength && dataLength - value >= 8) {
            time = mailrefFileTimeToUnix(le64(data + value));
        }
    }
    if (!haveBody) {
        diagLog("Error: Could not find message body pointer\n");
        return OE5_ERROR;
    }
    box.subject = std::move(subject);
    box.current.time = time;
    box.current.subject = box.subject.c_str();
    box.current.infoPosition = position;
    box.current.bodyPosition = body;
    box.hasCurrent = true;
    return OE5_OK;
}

int nextMessage(Oe5Mailbox& box) {
    box.hasCurrent = false;
    while (!box.stack.empty()) {
        WalkItem item = box.stack.back();
        box.stack.pop_back();
        if (item.isNode) {
            expandNode(box, item.position);
            continue;
        }
        return readInfo(box, item.position);
    }
    return OE5_END;
}

// Appends the chain of blocks from position to text. Each block is read once and the
// text can never outgrow the file, so a chain that loops or runs outside the file ends.
int readBody(const Oe5Mailbox& box, uint32_t position, std::string& text) {
    std::unordered_set<uint32_t> seen;
    while (position != 0) {
        if (!seen.insert(position).second) {
            diagLog("Error: Could not read message block header\n");
            return OE5_ERROR;
        }
        unsigned char header[kBlockHeaderSize];
        if (!box.file.readAt(position, header, sizeof header)) {
            diagLog(box.file.contains(position, 0) ? "Error: Could not read message block header\n"
                                                   : "Error: Could not seek in dbx file\n");
            return OE5_ERROR;
        }
        uint32_t length = le32(header + 8);
        if (!box.file.contains(position + kBlockHeaderSize, length) ||
            text.size() + length > box.file.size()) {
            diagLog("Error: Could not read message block\n");
            return OE5_ERROR;
        }
        size_t at = text.size();
        text.resize(at + length);
        if (!box.file.readAt(position + kBlockHeaderSize, text.data() + at, length)) {
            text.resize(at);
            diagLog("Error: Could not read message block\n");
            return OE5_ERROR;
        }
        position = le32(header + 12);
    }
    return OE5_OK;
}

}  // namespace

extern "C" {

int oe5Open(const char* path, Oe5Mailbox** mailbox) {
    if (!mailbox) return OE5_BAD_ARGUMENT;
    *mailbox = nullptr;
    if (!path || !*path) return OE5_BAD_ARGUMENTS;
    try {
        auto box = std::make_unique<Oe5Mailbox>();
        box->folder = path;
        if (!box->file.open(box->folder + ".dbx")) return OE5_CANNOT_OPEN;
        uint32_t signature = 0, root = 0;
        if (!box->file.readU32(0, signature) || signature != kSignature ||
            !box->file.readU32(kRootPointerAt, root)) {
            diagLog("Error: \"%s.dbx\" is not a message store\n", path);
            return OE5_ERROR;
        }
        queue(*box, true, root);
        *mailbox = box.release();
        return OE5_OK;
    } catch (const std::bad_alloc&) {
        diagLog("Error: Out of memory\n");
        return OE5_ERROR;
    } catch (...) {
        return OE5_ERROR;
    }
}

int oe5NextMessage(Oe5Mailbox* mailbox) {
    if (!mailbox) return OE5_BAD_ARGUMENTS;
    try {
        return nextMessage(*mailbox);
    } catch (const std::bad_alloc&) {
        diagLog("Error: Out of memory\n");
        mailbox->hasCurrent = false;
        return OE5_ERROR;
    } catch (...) {
        mailbox->hasCurrent = false;
        return OE5_ERROR;
    }
}

const Oe5Message* oe5CurrentMessage(const Oe5Mailbox* mailbox) {
    return mailbox && mailbox->hasCurrent ? &mailbox->current : nullptr;
}

char* oe5MessageReference(const Oe5Mailbox* mailbox) {
    if (!mailbox || !mailbox->hasCurrent) return nullptr;
    return mailrefFormat(OE5_TAG, mailbox->folder.c_str(), mailbox->subject.c_str(),
                         mailbox->current.time);
}

int oe5CopyMessage(Oe5Mailbox* mailbox, const char* fileName) {
    if (!mailbox) return OE5_BAD_ARGUMENTS;
    if (!fileName || !*fileName) return OE5_BAD_ARGUMENT;
    if (!mailbox->hasCurrent) return OE5_END;
    try {
        std::string text;
        int result = readBody(*mailbox, mailbox->current.bodyPosition, text);
        if (!mailstore::writeFile(fileName, "w+b", text.data(), text.size())) {
            diagLog("Error: Could not write to file \"%s\"\n", fileName);
            return OE5_ERROR;
        }
        return result;
    } catch (const std::bad_alloc&) {
        diagLog("Error: Out of memory\n");
        return OE5_ERROR;
    } catch (...) {
        return OE5_ERROR;
    }
}

int oe5FindAndCopy(const char* reference, const char* fileName) {
    if (!reference) return OE5_BAD_ARGUMENTS;
    if (!fileName || !*fileName) return OE5_BAD_ARGUMENT;
    char* folder = nullptr;
    char* key = nullptr;
    int64_t time = 0;
    int parsed = mailrefParse(reference, OE5_TAG, nullptr, &folder, &key, &time);
    if (parsed == MAILREF_MEMORY) return OE5_ERROR;
    if (parsed != MAILREF_OK) return OE5_NOT_REFERENCE;
    Oe5Mailbox* box = nullptr;
    int result = oe5Open(folder, &box);
    if (result == OE5_OK) {
        result = OE5_NOT_FOUND;
        int step;
        while ((step = oe5NextMessage(box)) != OE5_END) {
            if (step != OE5_OK) continue;
            const Oe5Message* m = oe5CurrentMessage(box);
            if (m->time == time && std::strcmp(m->subject, key) == 0) {
                result = oe5CopyMessage(box, fileName);
                break;
            }
        }
        oe5Close(&box);
    }
    memFree(folder);
    memFree(key);
    return result;
}

char** oe5ListMailboxes(const char* directory, int32_t* count) {
    if (count) *count = 0;
    if (!directory) return nullptr;
    try {
        return mailstore::toOwnedList(mailstore::listWithExtension(directory, "dbx"), count);
    } catch (...) {
        return nullptr;
    }
}

void oe5Close(Oe5Mailbox** mailbox) {
    if (!mailbox || !*mailbox) return;
    delete *mailbox;
    *mailbox = nullptr;
}

}  // extern "C"
