// Reader of the table-of-contents mailbox (".toc" plus ".mbx").
#include "import/eudoraparse.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "import/emlparse.h"
#include "import/mailstore.h"
#include "support/diaglog.h"

namespace {

using mailstore::le16;
using mailstore::le32;

constexpr uint64_t kCountAt = 102;
constexpr uint64_t kNameAt = 8;
constexpr size_t kNameLength = 29;

// Copies a fixed-size text field, keeping at most size - 1 characters.
void copyField(char* dst, size_t size, const unsigned char* src) {
    size_t n = 0;
    while (n + 1 < size && src[n]) ++n;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

// Where the text after the header block starts; text.size() when there is no header end.
size_t bodyStart(std::string_view text) {
    const EmlHeaderEnd end = emlFindHeaderEnd(text);
    return end.found ? end.bodyStart : text.size();
}

}  // namespace

struct EudoraMailbox {
    std::string folder;
    mailstore::StoreFile toc;
    mailstore::StoreFile mbx;
    char name[kNameLength + 1] = {};
    uint32_t count = 0;
    uint32_t next = 0;     // index of the entry the next call reads
    bool damaged = false;  // the table's size is off: reported once after its entries
    bool hasCurrent = false;
    EudoraMessage current{};
};

extern "C" {

int eudoraOpen(const char* path, EudoraMailbox** mailbox) {
    if (!mailbox) return EUDORA_BAD_ARGUMENT;
    *mailbox = nullptr;
    if (!path || !*path) return EUDORA_BAD_ARGUMENTS;
    try {
        auto box = std::make_unique<EudoraMailbox>();
        box->folder = path;
        if (!box->toc.open(box->folder + ".toc") || !box->mbx.open(box->folder + ".mbx")) {
            diagLog("Error: Could not open mailbox \"%s\"\n", path);
            return EUDORA_CANNOT_OPEN;
        }
        unsigned char header[EUDORA_TOC_HEADER_SIZE];
        if (!box->toc.readAt(0, header, sizeof header)) {
            diagLog("Error: Could not read table of contents \"%s.toc\"\n", path);
            return EUDORA_ERROR;
        }
        box->count = le16(header + kCountAt);
        // The table is its header and one entry per message. A size off by less than one
        // entry is a damaged table: the entries it holds are read and the rest is
        // reported once, as damage, after them. Any other size is a table of another
        // layout (or byte order), which is refused.
        const uint64_t size = box->toc.size();
        const uint64_t expected =
            EUDORA_TOC_HEADER_SIZE + uint64_t{box->count} * EUDORA_TOC_ENTRY_SIZE;
        const uint64_t off = size > expected ? size - expected : expected - size;
        if (off >= EUDORA_TOC_ENTRY_SIZE) {
            diagLog("Error: Table of contents \"%s.toc\" holds %llu bytes, %u messages need %llu\n",
                    path, static_cast<unsigned long long>(size), box->count,
                    static_cast<unsigned long long>(expected));
            return EUDORA_ERROR;
        }
        if (off != 0) {
            const uint64_t held = (size - EUDORA_TOC_HEADER_SIZE) / EUDORA_TOC_ENTRY_SIZE;
            box->count = static_cast<uint32_t>(std::min<uint64_t>(held, box->count));
            box->damaged = true;
            diagLog(
                "Error: Table of contents \"%s.toc\" holds %llu bytes, %llu needed; reading "
                "its %u whole entries\n",
                path, static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(expected), box->count);
        }
        copyField(box->name, sizeof box->name, header + kNameAt);
        *mailbox = box.release();
        return EUDORA_OK;
    } catch (...) {
        diagLog("Error: Out of memory\n");
        return EUDORA_ERROR;
    }
}

const char* eudoraMailboxName(const EudoraMailbox* mailbox) {
    return mailbox ? mailbox->name : nullptr;
}

int32_t eudoraMessageCount(const EudoraMailbox* mailbox) {
    return mailbox ? static_cast<int32_t>(mailbox->count) : 0;
}

int eudoraNextMessage(EudoraMailbox* mailbox) {
    if (!mailbox) return EUDORA_BAD_ARGUMENTS;
    mailbox->hasCurrent = false;
    if (mailbox->next >= mailbox->count) {
        if (!mailbox->damaged) return EUDORA_END;
        mailbox->damaged = false;
        diagLog("Error: The rest of table of contents \"%s.toc\" is damaged\n",
                mailbox->folder.c_str());
        return EUDORA_ERROR;
    }
    uint32_t index = mailbox->next++;
    unsigned char e[EUDORA_TOC_ENTRY_SIZE];
    if (!mailbox->toc.readAt(EUDORA_TOC_HEADER_SIZE + uint64_t{index} * EUDORA_TOC_ENTRY_SIZE, e,
                             sizeof e)) {
        diagLog("Error: Could not read message entry %u of \"%s.toc\"\n", index,
                mailbox->folder.c_str());
        return EUDORA_ERROR;
    }
    EudoraMessage m{};
    m.position = le32(e);
    m.length = le32(e + 4);
    m.time = le32(e + 8);
    m.status = le16(e + 12);
    m.flags = e[14];
    m.moreFlags = e[15] & 0x43;
    m.value = le16(e + 16);
    copyField(m.dateText, sizeof m.dateText, e + 18);
    copyField(m.sender, sizeof m.sender, e + 50);
    copyField(m.subject, sizeof m.subject, e + 114);
    if (!mailbox->mbx.contains(m.position, m.length)) {
        diagLog("Error: Message %u of \"%s.mbx\" lies outside the file (%lu bytes at %lu)\n", index,
                mailbox->folder.c_str(), static_cast<unsigned long>(m.length),
                static_cast<unsigned long>(m.position));
        return EUDORA_ERROR;
    }
    mailbox->current = m;
    mailbox->hasCurrent = true;
    return EUDORA_OK;
}

const EudoraMessage* eudoraCurrentMessage(const EudoraMailbox* mailbox) {
    return mailbox && mailbox->hasCurrent ? &mailbox->current : nullptr;
}

char* eudoraMessageReference(const EudoraMailbox* mailbox) {
    if (!mailbox || !mailbox->hasCurrent) return nullptr;
    return mailrefFormat(EUDORA_TAG, mailbox->folder.c_str(), mailbox->current.subject,
                         mailbox->current.time);
}

int eudoraCopyMessage(EudoraMailbox* mailbox, const char* fileName, int wholeMessage) {
    if (!mailbox) return EUDORA_BAD_ARGUMENTS;
    if (!fileName || !*fileName) return EUDORA_BAD_ARGUMENT;
    if (!mailbox->hasCurrent) return EUDORA_END;
    try {
        std::string text(mailbox->current.length, '\0');
        if (!mailbox->mbx.readAt(mailbox->current.position, text.data(), text.size())) {
            diagLog("Error: Could not read message from \"%s.mbx\"\n", mailbox->folder.c_str());
            return EUDORA_ERROR;
        }
        size_t from = wholeMessage ? 0 : bodyStart(text);
        if (!mailstore::writeFile(fileName, "wb", text.data() + from, text.size() - from)) {
            diagLog("Error: Could not write to file \"%s\"\n", fileName);
            return EUDORA_ERROR;
        }
        return EUDORA_OK;
    } catch (...) {
        diagLog("Error: Out of memory\n");
        return EUDORA_ERROR;
    }
}

int eudoraFindAndCopy(const char* reference, const char* fileName, int wholeMessage) {
    if (!reference) return EUDORA_BAD_ARGUMENTS;
    if (!fileName || !*fileName) return EUDORA_BAD_ARGUMENT;
    char* folder = nullptr;
    char* key = nullptr;
    int64_t time = 0;
    int parsed = mailrefParse(reference, EUDORA_TAG, nullptr, &folder, &key, &time);
    if (parsed == MAILREF_MEMORY) return EUDORA_ERROR;
    if (parsed != MAILREF_OK) return EUDORA_NOT_REFERENCE;
    EudoraMailbox* box = nullptr;
    int result = eudoraOpen(folder, &box);
    if (result == EUDORA_OK) {
        result = EUDORA_END;
        int step;
        while ((step = eudoraNextMessage(box)) != EUDORA_END) {
            if (step != EUDORA_OK) continue;
            const EudoraMessage* m = eudoraCurrentMessage(box);
            if (m->time == time && std::strcmp(m->subject, key) == 0) {
                result = eudoraCopyMessage(box, fileName, wholeMessage);
                break;
            }
        }
        eudoraClose(&box);
    }
    memFree(folder);
    memFree(key);
    return result;
}

void eudoraClose(EudoraMailbox** mailbox) {
    if (!mailbox || !*mailbox) return;
    delete *mailbox;
    *mailbox = nullptr;
}

}  // extern "C"
