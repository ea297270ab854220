// Readers of mbox files and Maildir folders.
#include "import/mboxparse.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "import/mailstore.h"
#include "support/diaglog.h"

namespace {

constexpr size_t kScanChunk = 1 << 20;
constexpr size_t kFirstScanChunk = 16 * 1024;
constexpr size_t kHeaderLimit = 256 * 1024;  // headers are read from at most this much
constexpr size_t kSeparatorLimit = 1024;     // longest separator line looked at

bool startsCaseBlind(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

std::string trimmed(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return std::string(text.substr(b, e - b));
}

// The values of the Message-ID and Subject headers of a message's beginning, unfolded.
void readHeaders(std::string_view text, std::string& messageId, std::string& subject) {
    messageId.clear();
    subject.clear();
    std::string* target = nullptr;
    size_t at = 0;
    while (at < text.size()) {
        size_t eol = text.find('\n', at);
        std::string_view line = text.substr(at, eol == std::string_view::npos ? eol : eol - at);
        at = eol == std::string_view::npos ? text.size() : eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;  // end of the header block
        if (line[0] == ' ' || line[0] == '\t') {
            if (target) target->append(" ").append(trimmed(line));
            continue;
        }
        target = nullptr;
        if (messageId.empty() && startsCaseBlind(line, "message-id:")) {
            target = &messageId;
            *target = trimmed(line.substr(11));
        } else if (subject.empty() && startsCaseBlind(line, "subject:")) {
            target = &subject;
            *target = trimmed(line.substr(8));
        }
    }
}

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

struct MboxMailbox {
    std::string path;
    mailstore::StoreFile file;
    uint64_t next = 0;  // start of the next separator line; the file size at the end
    bool hasCurrent = false;
    std::string key, subject;
    UnixMailMessage current{};
};

struct MaildirMailbox {
    std::string path;
    std::vector<std::string> files;  // relative to path: "cur/NAME" or "new/NAME"
    size_t next = 0;
    bool hasCurrent = false;
    std::string key, subject, file;
    UnixMailMessage current{};
};

namespace {

// Position of the next separator line ("From " after a line feed) at or after from, or
// the file's size.
uint64_t findSeparator(const mailstore::StoreFile& file, uint64_t from) {
    std::string chunk;
    uint64_t at = from;
    // Messages are mostly a few kilobytes: start small and double up to the chunk size.
    size_t want = kFirstScanChunk;
    while (at < file.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(want, file.size() - at));
        want = std::min(want * 2, kScanChunk);
        chunk.resize(n);
        if (!file.readAt(at, chunk.data(), n)) return file.size();
        size_t hit = chunk.find("\nFrom ");
        if (hit != std::string::npos) return at + hit + 1;
        if (at + n >= file.size()) break;
        at += n > 5 ? n - 5 : n;  // keep an overlap so a separator across chunks is found
    }
    return file.size();
}

int mboxNext(MboxMailbox& box) {
    box.hasCurrent = false;
    if (box.next >= box.file.size()) return UNIXMAIL_END;
    const uint64_t separator = box.next;
    std::string line(
        static_cast<size_t>(std::min<uint64_t>(kSeparatorLimit, box.file.size() - separator)),
        '\0');
    if (!box.file.readAt(separator, line.data(), line.size())) {
        box.next = box.file.size();
        return UNIXMAIL_ERROR;
    }
    size_t eol = line.find('\n');
    uint64_t start = eol == std::string::npos ? separator + line.size() : separator + eol + 1;
    if (eol != std::string::npos) line.resize(eol);
    if (eol == std::string::npos && line.size() == kSeparatorLimit) {
        // A separator line longer than any real one: look for its end further on.
        uint64_t nextLine = findSeparator(box.file, separator + 1);
        box.next = nextLine;
        diagLog("Error: Invalid separator line at %llu in \"%s\"\n",
                static_cast<unsigned long long>(separator), box.path.c_str());
        return UNIXMAIL_ERROR;
    }
    uint64_t end = findSeparator(box.file, start > 0 ? start - 1 : 0);
    box.next = end;
    // The line feed before the next separator ends the separator's blank line.
    uint64_t length = end > start ? end - start : 0;
    std::string head(static_cast<size_t>(std::min<uint64_t>(length, kHeaderLimit)), '\0');
    if (!box.file.readAt(start, head.data(), head.size())) return UNIXMAIL_ERROR;
    if (length >= 2 && end < box.file.size()) {
        char tail[2];
        if (box.file.readAt(end - 2, tail, 2) && tail[0] == '\n' && tail[1] == '\n') --length;
    }
    std::string messageId;
    readHeaders(head, messageId, box.subject);
    box.key = messageId.empty() ? box.subject : messageId;
    box.current.time = mboxSeparatorTime(line.c_str());
    box.current.key = box.key.c_str();
    box.current.subject = box.subject.c_str();
    box.current.position = start;
    box.current.length = length;
    box.hasCurrent = true;
    return UNIXMAIL_OK;
}

bool copyRange(const mailstore::StoreFile& file, uint64_t position, uint64_t length,
               const char* fileName) {
    FILE* out = std::fopen(fileName, "wb");
    if (!out) return false;
    std::string chunk;
    bool ok = true;
    while (ok && length > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(kScanChunk, length));
        chunk.resize(n);
        ok = file.readAt(position, chunk.data(), n) && std::fwrite(chunk.data(), 1, n, out) == n;
        position += n;
        length -= n;
    }
    if (std::fclose(out) != 0) ok = false;
    return ok;
}

int maildirNext(MaildirMailbox& box) {
    box.hasCurrent = false;
    if (box.next >= box.files.size()) return UNIXMAIL_END;
    const std::string& relative = box.files[box.next++];
    mailstore::StoreFile file;
    if (!file.open(box.path + "/" + relative)) {
        diagLog("Error: Could not open message \"%s/%s\"\n", box.path.c_str(), relative.c_str());
        return UNIXMAIL_ERROR;
    }
    std::string head(static_cast<size_t>(std::min<uint64_t>(file.size(), kHeaderLimit)), '\0');
    if (!file.readAt(0, head.data(), head.size())) return UNIXMAIL_ERROR;
    std::string messageId;
    readHeaders(head, messageId, box.subject);
    std::string name = relative.substr(4);
    box.key = name.substr(0, name.find(':'));
    int64_t time = 0;
    for (size_t i = 0;
         i < box.key.size() && i < 15 && std::isdigit(static_cast<unsigned char>(box.key[i])); ++i)
        time = time * 10 + (box.key[i] - '0');
    box.file = relative;
    box.current.time = time;
    box.current.key = box.key.c_str();
    box.current.subject = box.subject.c_str();
    box.current.position = 0;
    box.current.length = file.size();
    box.hasCurrent = true;
    return UNIXMAIL_OK;
}

// Parses a reference of tag into folder, key and time: a UNIXMAIL_ result.
int parseReference(const char* reference, const char* tag, std::string& folder, std::string& key,
                   int64_t& time) {
    char* f = nullptr;
    char* k = nullptr;
    int parsed = mailrefParse(reference, tag, nullptr, &f, &k, &time);
    if (parsed == MAILREF_MEMORY) return UNIXMAIL_ERROR;
    if (parsed != MAILREF_OK) return UNIXMAIL_NOT_REFERENCE;
    folder = f;
    key = k;
    memFree(f);
    memFree(k);
    return UNIXMAIL_OK;
}

// Opens the mailbox a reference of tag names, walks it to the message with the
// reference's key and time and copies that message to fileName: a UNIXMAIL_ result,
// UNIXMAIL_NOT_FOUND when no message matches. Messages are matched by key and time
// rather than by position, so a message that moved inside its mailbox is still found.
template <typename Mailbox>
int findAndCopy(const char* reference, const char* fileName, const char* tag,
                int (*open)(const char*, Mailbox**), int (*next)(Mailbox*),
                int (*copy)(Mailbox*, const char*), void (*close)(Mailbox**)) {
    if (!reference) return UNIXMAIL_BAD_ARGUMENTS;
    if (!fileName || !*fileName) return UNIXMAIL_BAD_ARGUMENT;
    try {
        std::string folder, key;
        int64_t time = 0;
        int rc = parseReference(reference, tag, folder, key, time);
        if (rc != UNIXMAIL_OK) return rc;
        Mailbox* box = nullptr;
        rc = open(folder.c_str(), &box);
        if (rc != UNIXMAIL_OK) return rc;
        int result = UNIXMAIL_NOT_FOUND, step;
        while ((step = next(box)) != UNIXMAIL_END) {
            if (step == UNIXMAIL_OK && box->current.time == time && box->key == key) {
                result = copy(box, fileName);
                break;
            }
        }
        close(&box);
        return result;
    } catch (...) {
        return UNIXMAIL_ERROR;
    }
}

}  // namespace

extern "C" {

int64_t mboxSeparatorTime(const char* line) {
    if (!line) return 0;
    // The last five words: weekday, month, day, hh:mm:ss, year (a time zone may follow
    // the year in some writers; it is ignored).
    std::vector<std::string_view> words;
    std::string_view text(line);
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
        size_t end = at;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        if (end > at) words.push_back(text.substr(at, end - at));
        at = end;
    }
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (size_t i = 0; i + 3 < words.size(); ++i) {
        unsigned month = 0;
        for (unsigned m = 0; m < 12; ++m)
            if (words[i] == months[m]) month = m + 1;
        if (!month) continue;
        int day = 0, hh = 0, mm = 0, ss = 0, year = 0;
        std::string dayText(words[i + 1]), clock(words[i + 2]), yearText(words[i + 3]);
        char extra = 0;
        if (std::sscanf(dayText.c_str(), "%d%c", &day, &extra) != 1 ||
            std::sscanf(clock.c_str(), "%d:%d:%d%c", &hh, &mm, &ss, &extra) != 3 ||
            std::sscanf(yearText.c_str(), "%d%c", &year, &extra) != 1)
            continue;
        if (day < 1 || day > 31 || hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 60 ||
            year < 1970 || year > 9999)
            continue;
        return daysFromCivil(year, month, static_cast<unsigned>(day)) * 86400 + hh * 3600 +
               mm * 60 + ss;
    }
    return 0;
}

int mboxOpen(const char* path, MboxMailbox** mailbox) {
    if (!mailbox) return UNIXMAIL_BAD_ARGUMENT;
    *mailbox = nullptr;
    if (!path || !*path) return UNIXMAIL_BAD_ARGUMENTS;
    try {
        auto box = std::make_unique<MboxMailbox>();
        box->path = path;
        if (!box->file.open(box->path)) return UNIXMAIL_CANNOT_OPEN;
        char first[5];
        if (box->file.size() > 0 &&
            (!box->file.readAt(0, first, 5) || std::memcmp(first, "From ", 5) != 0)) {
            diagLog("Error: \"%s\" is not an mbox file\n", path);
            return UNIXMAIL_ERROR;
        }
        *mailbox = box.release();
        return UNIXMAIL_OK;
    } catch (...) {
        return UNIXMAIL_ERROR;
    }
}

int mboxNextMessage(MboxMailbox* mailbox) {
    if (!mailbox) return UNIXMAIL_BAD_ARGUMENTS;
    try {
        return mboxNext(*mailbox);
    } catch (...) {
        mailbox->hasCurrent = false;
        return UNIXMAIL_ERROR;
    }
}

const UnixMailMessage* mboxCurrentMessage(const MboxMailbox* mailbox) {
    return mailbox && mailbox->hasCurrent ? &mailbox->current : nullptr;
}

char* mboxMessageReference(const MboxMailbox* mailbox) {
    if (!mailbox || !mailbox->hasCurrent) return nullptr;
    return mailrefFormat(MBOX_TAG, mailbox->path.c_str(), mailbox->key.c_str(),
                         mailbox->current.time);
}

int mboxCopyMessage(MboxMailbox* mailbox, const char* fileName) {
    if (!mailbox) return UNIXMAIL_BAD_ARGUMENTS;
    if (!fileName || !*fileName) return UNIXMAIL_BAD_ARGUMENT;
    if (!mailbox->hasCurrent) return UNIXMAIL_END;
    try {
        if (!copyRange(mailbox->file, mailbox->current.position, mailbox->current.length,
                       fileName)) {
            diagLog("Error: Could not write to file \"%s\"\n", fileName);
            return UNIXMAIL_ERROR;
        }
        return UNIXMAIL_OK;
    } catch (...) {
        return UNIXMAIL_ERROR;
    }
}

int mboxFindAndCopy(const char* reference, const char* fileName) {
    return findAndCopy(reference, fileName, MBOX_TAG, mboxOpen, mboxNextMessage, mboxCopyMessage,
                       mboxClose);
}

void mboxClose(MboxMailbox** mailbox) {
    if (!mailbox || !*mailbox) return;
    delete *mailbox;
    *mailbox = nullptr;
}

int maildirOpen(const char* path, MaildirMailbox** mailbox) {
    if (!mailbox) return UNIXMAIL_BAD_ARGUMENT;
    *mailbox = nullptr;
    if (!path || !*path) return UNIXMAIL_BAD_ARGUMENTS;
    try {
        auto box = std::make_unique<MaildirMailbox>();
        box->path = path;
        bool any = false;
        std::vector<std::pair<std::string, std::string>> named;  // (name, relative path)
        for (const char* sub : {"cur", "new"}) {
            std::error_code ec;
            std::filesystem::path dir = std::filesystem::path(box->path) / sub;
            if (!std::filesystem::is_directory(dir, ec)) continue;
            any = true;
            std::filesystem::directory_iterator it(dir, ec), end;
            for (; !ec && it != end; it.increment(ec)) {
                std::error_code fileEc;
                if (!it->is_regular_file(fileEc)) continue;
                std::string name = it->path().filename().string();
                if (name.empty() || name[0] == '.') continue;
                named.emplace_back(name, std::string(sub) + "/" + name);
            }
        }
        if (!any) return UNIXMAIL_CANNOT_OPEN;
        std::sort(named.begin(), named.end());
        for (auto& n : named) box->files.push_back(std::move(n.second));
        *mailbox = box.release();
        return UNIXMAIL_OK;
    } catch (...) {
        return UNIXMAIL_ERROR;
    }
}

int maildirNextMessage(MaildirMailbox* mailbox) {
    if (!mailbox) return UNIXMAIL_BAD_ARGUMENTS;
    try {
        return maildirNext(*mailbox);
    } catch (...) {
        mailbox->hasCurrent = false;
        return UNIXMAIL_ERROR;
    }
}

const UnixMailMessage* maildirCurrentMessage(const MaildirMailbox* mailbox) {
    return mailbox && mailbox->hasCurrent ? &mailbox->current : nullptr;
}

char* maildirMessageReference(const MaildirMailbox* mailbox) {
    if (!mailbox || !mailbox->hasCurrent) return nullptr;
    return mailrefFormat(MAILDIR_TAG, mailbox->path.c_str(), mailbox->key.c_str(),
                         mailbox->current.time);
}

int maildirCopyMessage(MaildirMailbox* mailbox, const char* fileName) {
    if (!mailbox) return UNIXMAIL_BAD_ARGUMENTS;
    if (!fileName || !*fileName) return UNIXMAIL_BAD_ARGUMENT;
    if (!mailbox->hasCurrent) return UNIXMAIL_END;
    try {
        mailstore::StoreFile file;
        if (!file.open(mailbox->path + "/" + mailbox->file) ||
            !copyRange(file, 0, file.size(), fileName)) {
            diagLog("Error: Could not write to file \"%s\"\n", fileName);
            return UNIXMAIL_ERROR;
        }
        return UNIXMAIL_OK;
    } catch (...) {
        return UNIXMAIL_ERROR;
    }
}

int maildirFindAndCopy(const char* reference, const char* fileName) {
    // The message may have moved from new/ to cur/ and changed its flags: the key (its
    // unique name) and time find it wherever it is now.
    return findAndCopy(reference, fileName, MAILDIR_TAG, maildirOpen, maildirNextMessage,
                       maildirCopyMessage, maildirClose);
}

void maildirClose(MaildirMailbox** mailbox) {
    if (!mailbox || !*mailbox) return;
    delete *mailbox;
    *mailbox = nullptr;
}

}  // extern "C"
