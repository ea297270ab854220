// The fetcher base (status map, status file, cancel flag), the store fetcher's loop and
// the fetcher factory.
#include "mailfetch/emailclient.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "import/importargs.h"
#include "import/mailref.h"
#include "mailfetch/fetchfiles.h"
#include "mailfetch/mailboxreader.h"
#include "mailfetch/simplemapiread.h"
#include "platform/shellopen.h"
#include "support/envcfgutil.h"

namespace mailfetch {

namespace {

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string configText(ConfigFile* config, const std::string& section, const char* key) {
    char* value = nullptr;
    envCfgGetText(config, section.c_str(), key, &value, "");
    std::string out = value ? value : "";
    if (value) memFree(value);
    return out;
}

const std::vector<std::string>& excludedFolders(const std::string& tag) {
    static const std::vector<std::string> none;
    static const std::vector<std::string> oe4 = {"OUTBOX", "DELETED ITEMS"};
    static const std::vector<std::string> oe5 = {"DELETED ITEMS", "FOLDERS", "OFFLINE", "OUTBOX",
                                                 "POP3UIDL"};
    static const std::vector<std::string> trash = {"TRASH"};
    if (tag == "oe4") return oe4;
    if (tag == "oe5") return oe5;
    if (tag == "eudora" || tag == "mbox" || tag == "maildir") return trash;
    return none;
}

}  // namespace

namespace {

// The first executable file called name in a folder of PATH, or empty.
std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    namespace fs = std::filesystem;
    const auto exec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;  // the current folder is never searched
        std::error_code ec;
        fs::path candidate = fs::path(folder) / name;
        auto status = fs::status(candidate, ec);
        if (!ec && fs::is_regular_file(status) && (status.permissions() & exec) != fs::perms::none)
            return candidate.string();
    }
    return {};
}

}  // namespace

bool openWithDesktop(const std::string& file) {
    // The desktop's opener is looked up on PATH: the platform layer starts programs by
    // their full path only.
    std::string opener = findOnPath("xdg-open");
    return !opener.empty() && platform::shellOpen(opener, {file}, "", true);
}

std::string singleLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

EmailClient::EmailClient() : opener_(openWithDesktop) {
    status_.reserve(4027);
}

EmailClient::~EmailClient() = default;

void EmailClient::reset() {
    if (!statusFile_.empty()) std::remove(statusFile_.c_str());
    status_.clear();
}

bool EmailClient::configure(ConfigFile* config, const std::string& section) {
    if (!config) return false;
    statusFile_ = configText(config, section, "EmailClientStatusFile");
    const bool ok = setFetchDirectory(configText(config, section, "EmailClientFetchDir"));
    const std::string why = error_;
    loadStatus();
    configureImport(config, section);
    error_ = why;
    return ok;
}

bool EmailClient::setFetchDirectory(const std::string& path) {
    fetchDir_ = path;
    error_.clear();
    if (path.empty()) {
        error_ = "no fetch folder given (EmailClientFetchDir is empty)";
        return false;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return true;
    if (std::filesystem::create_directories(path, ec)) return true;
    error_ = "cannot create the fetch folder \"" + path + "\"";
    return false;
}

bool EmailClient::requireFetchDirectory() {
    if (!fetchDir_.empty()) return true;
    error_ = "no fetch folder given (EmailClientFetchDir is empty)";
    finished_ = true;
    written_ = 0;
    return false;
}

// The status file holds two lines per message: the reference, then its time.
bool EmailClient::loadStatus() {
    if (statusFile_.empty()) return false;
    std::ifstream in(statusFile_, std::ios::binary);
    if (!in) return false;
    std::string reference, time;
    while (std::getline(in, reference) && std::getline(in, time)) {
        if (!reference.empty() && reference.back() == '\r') reference.pop_back();
        char* end = nullptr;
        long long value = std::strtoll(time.c_str(), &end, 10);
        if (reference.empty() || end == time.c_str()) continue;
        status_.emplace(reference, static_cast<int64_t>(value));
    }
    return true;
}

bool EmailClient::saveStatus() const {
    if (statusFile_.empty()) return false;
    FILE* f = std::fopen(statusFile_.c_str(), "w");
    if (!f) return false;
    bool ok = true;
    for (const auto& [reference, time] : status_)
        ok = ok &&
             std::fprintf(f, "%s\n%lld\n", reference.c_str(), static_cast<long long>(time)) > 0;
    return std::fclose(f) == 0 && ok;
}

void EmailClient::cancel() {
    std::lock_guard<std::mutex> guard(lock_);
    cancel_ = true;
}

bool EmailClient::cancelled() {
    std::lock_guard<std::mutex> guard(lock_);
    return cancel_;
}

void EmailClient::clearCancel() {
    std::lock_guard<std::mutex> guard(lock_);
    cancel_ = false;
}

bool EmailClient::isNew(const std::string& reference, int64_t time) {
    auto [it, inserted] = status_.emplace(reference, time);
    if (inserted) return true;
    return it->second == 0 || it->second > time + 60;
}

std::string EmailClient::temporaryFile(const char* stem, const char* extension) const {
    // A message handed to a viewer lives in a folder of this process's own (mode 0700,
    // made by mkdtemp), never directly in the shared temporary folder where another user
    // could guess its name or read it. The file must outlive this call, since the viewer
    // opens it later, so the folder is left for the system's temporary-file cleanup; it is
    // made again if it was removed or the temporary folder changed.
    static std::mutex dirLock;
    static std::string privateDir;
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec || base.empty()) return {};
    std::filesystem::path dir;
    {
        std::lock_guard<std::mutex> guard(dirLock);
        if (privateDir.empty() || std::filesystem::path(privateDir).parent_path() != base ||
            !std::filesystem::is_directory(privateDir, ec)) {
            std::string pattern = (base / "sapiolux-mail-XXXXXX").string();
            privateDir = ::mkdtemp(pattern.data()) ? pattern : std::string();
        }
        if (privateDir.empty()) return {};
        dir = privateDir;
    }
    // Created, not only looked up: whatever stands under a name is passed over and never
    // written through.
    for (int k = 0; k < 100000; ++k) {
        std::string p = (dir / (stem + std::to_string(k) + extension)).string();
        const int fd = createExclusive(p);
        if (fd >= 0) {
            ::close(fd);
            return p;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

StoreFetcher::StoreFetcher(std::string tag) : tag_(std::move(tag)) {}

StoreFetcher::~StoreFetcher() = default;

void StoreFetcher::restart() {
    reader_.reset();
    mailboxes_ = discoverMailboxes(tag_, stores_);
    const auto& excluded = excludedFolders(tag_);
    mailboxes_.erase(std::remove_if(mailboxes_.begin(), mailboxes_.end(),
                                    [&](const Mailbox& m) {
                                        return std::find(excluded.begin(), excluded.end(),
                                                         upper(m.displayName)) != excluded.end();
                                    }),
                     mailboxes_.end());
    mailboxIndex_ = 0;
    started_ = true;
    // A mailbox that cannot be opened is skipped.
    for (; mailboxIndex_ < mailboxes_.size(); ++mailboxIndex_)
        if (openMailbox(mailboxIndex_)) break;
}

bool StoreFetcher::openMailbox(size_t index) {
    reader_ = createReader(tag_);
    if (!reader_ || !reader_->open(mailboxes_[index].path)) {
        reader_.reset();
        const std::string& path = mailboxes_[index].path;
        if (std::find(unreadable_.begin(), unreadable_.end(), path) == unreadable_.end())
            unreadable_.push_back(path);
        return false;
    }
    return true;
}

bool StoreFetcher::currentMessage(std::string& reference, int64_t& time) {
    if (!reader_ || !reader_->hasCurrent()) return false;
    reference = reader_->reference();
    time = reader_->time();
    return !reference.empty();
}

bool StoreFetcher::currentMailbox(std::string& path, std::string& displayName) const {
    if (!reader_ || mailboxIndex_ >= mailboxes_.size()) return false;
    path = mailboxes_[mailboxIndex_].path;
    displayName = mailboxes_[mailboxIndex_].displayName;
    return true;
}

void StoreFetcher::nextMessage() {
    if (reader_) reader_->next();
}

bool StoreFetcher::nextMailbox() {
    reader_.reset();
    while (++mailboxIndex_ < mailboxes_.size())
        if (openMailbox(mailboxIndex_)) return true;
    mailboxIndex_ = mailboxes_.size();
    return false;
}

StoreFetcher::Claim StoreFetcher::claimFiles(const std::string& base) {
    const std::string eml = base + ".eml";
    const int fd = createExclusive(eml);
    if (fd < 0) return errno == EEXIST ? Claim::Taken : Claim::Failed;
    ::close(fd);
    const int side = createExclusive(eml + ".idx");
    if (side < 0) {
        const Claim why = errno == EEXIST ? Claim::Taken : Claim::Failed;
        std::remove(eml.c_str());
        return why;
    }
    ::close(side);
    return Claim::Claimed;
}

bool StoreFetcher::writeCurrentMessage(const std::string& base) {
    if (!reader_ || !reader_->hasCurrent()) return false;
    if (claimFiles(base) != Claim::Claimed) return false;
    return writeClaimed(base);
}

// Writes the current message into the two files claimFiles made; on failure both are
// removed again.
bool StoreFetcher::writeClaimed(const std::string& base) {
    std::string reference;
    int64_t time = 0;
    const std::string eml = base + ".eml";
    const std::string sidePath = eml + ".idx";
    auto drop = [&] {
        std::remove(sidePath.c_str());
        std::remove(eml.c_str());
        return false;
    };
    if (!currentMessage(reference, time) || !reader_->copy(eml, maxLength_)) return drop();
    // Without its side file the message would be imported without its reference, so
    // both files are written or neither is kept.
    FILE* side = std::fopen(sidePath.c_str(), "w");
    if (!side) return drop();
    bool ok =
        std::fprintf(side, "#IXOREFERENCE %s\n", reference.c_str()) > 0 &&
        std::fprintf(side, "#IXOFIELD DocType=\"%s\"\n", "EMAIL") > 0 &&
        std::fprintf(side, "#IXOFIELD Folder=\"%s\"\n",
                     singleLine(mailboxes_[mailboxIndex_].displayName).c_str()) > 0 &&
        std::fprintf(side, "#IXOFIELD CreationDate=\"%lld\"\n", static_cast<long long>(time)) > 0 &&
        std::fprintf(side, "#IXOENDDOC\n") > 0;
    if (std::fclose(side) != 0) ok = false;
    return ok || drop();
}

void StoreFetcher::fetch(int32_t maxCount) {
    if (!requireFetchDirectory()) return;
    error_.clear();
    if (!started_) restart();
    finished_ = false;
    written_ = 0;
    int32_t n = 0;
    while (!cancelled() && n < maxCount) {
        std::string reference;
        int64_t time = 0;
        if (!currentMessage(reference, time)) {
            if (reader_ && reader_->hasCurrent()) {  // a message without a reference
                nextMessage();
                continue;
            }
            if (!nextMailbox()) {
                restart();
                finished_ = true;
                break;
            }
            continue;
        }
        const bool known = status_.count(reference) != 0;
        if (isNew(reference, time)) {
            // The first free base name: files already there (from an earlier run whose
            // messages may not have been imported yet) are never replaced.
            Claim claim = Claim::Taken;
            std::string base;
            while (claim == Claim::Taken) {
                base = fetchDir_ + "/email" + std::to_string(nextNumber_);
                claim = claimFiles(base);
                if (claim != Claim::Failed) ++nextNumber_;
            }
            if (claim == Claim::Claimed && writeClaimed(base)) {
                ++n;
            } else {
                // The files made for it are gone again: the next message takes the name.
                if (claim == Claim::Claimed) --nextNumber_;
                if (claim == Claim::Failed)
                    error_ = "cannot write into the fetch folder \"" + fetchDir_ + "\"";
                if (!known) status_.erase(reference);  // not written: tried again next pass
            }
        }
        nextMessage();
    }
    clearCancel();
    written_ = n;
    saveStatus();
}

bool StoreFetcher::openMessage(const std::string& reference) {
    std::string file = temporaryFile("mail", tag_ == "eudora" ? ".htm" : ".eml");
    if (file.empty()) return false;
    if (!findAndCopy(tag_, reference, file)) {
        std::remove(file.c_str());
        return false;
    }
    return opener_ && opener_(file);
}

void StoreFetcher::loadImportSettings(ConfigFile* config, const std::string& section) {
    if (!config) return;
    ImportArgs* args = imargsCreate();
    if (!args) return;
    imargsLoadFromConfig(config, section.c_str(), 0, nullptr, nullptr, args);
    if (args->criteria) maxLength_ = std::max<int32_t>(args->criteria->maxLength, 0);
    imargsDestroy(args);
}

void StoreFetcher::reset() {
    EmailClient::reset();
    unreadable_.clear();
    nextNumber_ = 0;  // names in use are still passed over
    restart();
}

std::unique_ptr<StoreFetcher> createStoreFetcher(const std::string& tag) {
    std::string t = lower(tag);
    if (t == "oe4" || t == "oe5" || t == "eudora" || t == "mbox" || t == "maildir")
        return std::make_unique<StoreFetcher>(t);
    return nullptr;
}

std::unique_ptr<EmailClient> createClient(const std::string& tag) {
    if (lower(tag) == "smapi") return std::make_unique<SimpleMapiFetcher>();
    return createStoreFetcher(tag);
}

std::unique_ptr<EmailClient> createFetcher(const std::string& reference, ConfigFile* config) {
    // "email://" exactly, then the tag up to the first "&" (Simple MAPI references carry
    // only a message id after it, the stores a folder, key and time).
    const std::string prefix = MAILREF_PREFIX;
    if (reference.compare(0, prefix.size(), prefix) != 0) return nullptr;
    size_t amp = reference.find('&', prefix.size());
    if (amp == std::string::npos) return nullptr;
    auto client = createClient(reference.substr(prefix.size(), amp - prefix.size()));
    auto* store = dynamic_cast<StoreFetcher*>(client.get());
    if (store && config && store->tag() == "oe4") store->loadImportSettings(config, "Default");
    return client;
}

}  // namespace mailfetch
