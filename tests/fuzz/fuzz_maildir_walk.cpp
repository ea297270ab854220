// The Maildir reader on arbitrary folders: the input is cut into message files (their
// names taken from the input too) in cur/ and new/; every walk ends, every message
// fits its file, the copy is the file, and each message's reference finds it again.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_mailstore.h"
#include "import/mboxparse.h"

namespace {

namespace fs = std::filesystem;

// The folder the Maildir is made in: in memory when the system offers a memory file
// system (a walk creates and removes several files per input), else the shared one.
const fs::path& baseFolder() {
    static const fs::path dir = [] {
        std::error_code ec;
        fs::path d = fs::path("/dev/shm") / ("sapiolux_fuzz_maildir_" + std::to_string(getpid()));
        if (fs::is_directory("/dev/shm", ec) && fs::create_directories(d, ec)) return d;
        return fuzzmail::folder();
    }();
    // Registered once the path exists, so it runs before the path is destroyed.
    static const bool cleanup = [] {
        if (dir.parent_path() == "/dev/shm")
            std::atexit([] {
                std::error_code e;
                fs::remove_all(dir, e);
            });
        return true;
    }();
    (void)cleanup;
    return dir;
}

void writeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file name made of the given bytes: no separators, no NUL, not "." or "..".
std::string fileName(const std::string& raw, size_t index) {
    std::string name;
    for (char c : raw)
        if (c != '/' && c != '\0') name += c;
    if (name.size() > 100) name.resize(100);
    if (name.empty() || name == "." || name == "..") name = "m";
    return name + "." + std::to_string(index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const fs::path box = baseFolder() / "Maildir";
    std::error_code ec;
    fs::remove_all(box, ec);
    fs::create_directories(box / "cur", ec);
    fs::create_directories(box / "new", ec);
    fs::create_directories(box / "tmp", ec);

    // Messages are separated by a 0xFF byte; each one's first line is its file name.
    std::vector<std::string> files;
    size_t start = 0;
    for (size_t index = 0; start <= bytes.size() && index < 8; ++index) {
        size_t end = bytes.find('\xff', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string chunk = bytes.substr(start, end - start);
        start = end + 1;
        const size_t nl = chunk.find('\n');
        const std::string name = fileName(chunk.substr(0, nl), index);
        const std::string body = nl == std::string::npos ? chunk : chunk.substr(nl + 1);
        const std::string rel = std::string(index & 1 ? "new/" : "cur/") + name;
        writeFile(box / rel, body);
        files.push_back(body);
    }

    MaildirMailbox* mailbox = nullptr;
    if (maildirOpen(box.c_str(), &mailbox) != UNIXMAIL_OK) return 0;
    const std::string out = (baseFolder() / "out.eml").string();
    const std::string again = (baseFolder() / "again.eml").string();
    size_t steps = 0;
    int rc;
    while ((rc = maildirNextMessage(mailbox)) != UNIXMAIL_END) {
        if (++steps > files.size() + 1) std::abort();
        if (rc != UNIXMAIL_OK) continue;
        const UnixMailMessage* m = maildirCurrentMessage(mailbox);
        if (!m || !m->key || !m->subject) std::abort();
        if (m->length > bytes.size()) std::abort();
        char* ref = maildirMessageReference(mailbox);
        if (!ref) std::abort();
        if (maildirCopyMessage(mailbox, out.c_str()) == UNIXMAIL_OK) {
            std::error_code e;
            if (fs::file_size(out, e) != m->length) std::abort();
            // The reference leads back to a message of the same key and time.
            if (maildirFindAndCopy(ref, again.c_str()) != UNIXMAIL_OK) std::abort();
        }
        memFree(ref);
    }
    maildirClose(&mailbox);
    return 0;
}
