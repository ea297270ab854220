// Mail-client fetchers: copy the messages of a mail program's stores into a fetch
// directory as ".eml" files with ".eml.idx" side files (the mail reference, document
// type, folder and time) for the import library, remember in a status file which
// messages were copied, and open a single message again from its mail reference.
//
// One fetcher per kind of store, by client tag: "oe4" (".idx"/".mbx"), "oe5" (".dbx"),
// "eudora" (".toc"/".mbx" listed by "Descmap.pce"), "mbox" (one file per folder) and
// "maildir" (cur/ and new/). Stores are only ever read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

struct ConfigFile;

namespace mailfetch {

// One mailbox to read: its path (without extension for the three Windows stores; the
// mbox file or the Maildir folder otherwise) and the name shown as its folder.
struct Mailbox {
    std::string path;
    std::string displayName;
};

// Opens a file with the desktop's default application; true when it was handed over.
using Opener = std::function<bool(const std::string& file)>;
// The default opener: the desktop's "open" action through the platform layer.
bool openWithDesktop(const std::string& file);
// text with every CR and LF made a blank: values written on one line of an IDX file
// (folder names, subjects, dates) must not start lines of their own.
std::string singleLine(std::string text);

class EmailClient {
  public:
    EmailClient();
    virtual ~EmailClient();
    EmailClient(const EmailClient&) = delete;
    EmailClient& operator=(const EmailClient&) = delete;

    // Copies at most maxCount new messages; finished() tells when a full pass ended.
    virtual void fetch(int32_t maxCount) = 0;
    // Writes the message of reference to a new temporary file and opens it. False when
    // there is no temporary directory or the message is not found.
    virtual bool openMessage(const std::string& reference) = 0;
    // Tells the user what the fetch is about to do, where the fetcher has something to
    // say (Simple MAPI); a no-op for the others.
    virtual void showNotice() {}
    // Closes what is open, deletes the status file and empties the status map.
    virtual void reset();

    // Reads EmailClientFetchDir and EmailClientStatusFile of section (empty when
    // missing), creates a missing fetch directory and loads the status file when it
    // exists. False when the fetch directory is empty or cannot be created (error()
    // says which); the fetcher can still open messages then, but not fetch.
    bool configure(ConfigFile* config, const std::string& section);
    // Sets the fetch directory and creates it when missing. An empty path is refused
    // (messages would otherwise be written to the root folder); false then, and when
    // the directory cannot be created.
    bool setFetchDirectory(const std::string& path);
    void setStatusFile(const std::string& path) { statusFile_ = path; }
    bool loadStatus();
    bool saveStatus() const;
    void setOpener(Opener opener) { opener_ = std::move(opener); }

    // Asks a running fetch to stop before its next message; safe from any thread.
    void cancel();
    bool finished() const { return finished_; }
    int32_t written() const { return written_; }  // messages written by the last fetch
    // Why the last configuration or fetch failed; empty when nothing failed.
    const std::string& error() const { return error_; }
    const std::string& fetchDirectory() const { return fetchDir_; }

    // The status rule: an unknown reference is remembered with its time and is new; a
    // known one is new again only when its stored time is 0 or more than 60 seconds
    // later than time (the stored time is kept).
    bool isNew(const std::string& reference, int64_t time);
    size_t statusCount() const { return status_.size(); }

  protected:
    // Reads what this kind of fetcher needs from the section besides the fetch folder
    // and the status file.
    virtual void configureImport(ConfigFile*, const std::string&) {}
    bool cancelled();
    void clearCancel();
    // Creates an empty file "<stem><k><extension>" exclusively in the temporary
    // directory (the first k whose name is free); its name, or empty.
    std::string temporaryFile(const char* stem, const char* extension) const;
    // False (and error() set, the fetch finished with nothing written) when no fetch
    // directory is set.
    bool requireFetchDirectory();

    std::string fetchDir_;
    std::string statusFile_;
    std::unordered_map<std::string, int64_t> status_;
    bool finished_ = false;
    int32_t written_ = 0;
    std::string error_;
    Opener opener_;

  private:
    std::mutex lock_;
    bool cancel_ = false;
};

class MailboxReader;

// The fetcher of the mail stores: a list of mailboxes read one after the other.
class StoreFetcher : public EmailClient {
  public:
    explicit StoreFetcher(std::string tag);
    ~StoreFetcher() override;

    void fetch(int32_t maxCount) override;
    bool openMessage(const std::string& reference) override;
    void reset() override;

    const std::string& tag() const { return tag_; }
    // Mailboxes to read instead of the ones the mail program's settings name (a store
    // folder or file given by the user, or tests).
    void setStores(std::vector<std::string> stores) { stores_ = std::move(stores); }
    // Messages longer than this are not copied (0: no limit); used by "oe4".
    void setMaxLength(int32_t bytes) { maxLength_ = bytes; }
    int32_t maxLength() const { return maxLength_; }
    // Loads the import settings of a configuration section with the import library's
    // loader; the maximum length of its content criteria (ImportMaxLength) becomes the
    // length above which messages are not copied. configure() does this for its section.
    void loadImportSettings(ConfigFile* config, const std::string& section);

    // Rebuilds the mailbox list and opens the first mailbox that opens.
    void restart();
    bool currentMessage(std::string& reference, int64_t& time);
    bool currentMailbox(std::string& path, std::string& displayName) const;
    // Copies the current message to base + ".eml" and writes base + ".eml.idx". Both
    // files are created exclusively: false, and nothing touched, when either exists.
    bool writeCurrentMessage(const std::string& base);
    void nextMessage();
    bool nextMailbox();
    const std::vector<Mailbox>& mailboxes() const { return mailboxes_; }
    // The mailboxes that could not be opened (missing, or not of the store's format)
    // since the fetcher was made or last reset.
    const std::vector<std::string>& unreadable() const { return unreadable_; }

  protected:
    void configureImport(ConfigFile* config, const std::string& section) override {
        loadImportSettings(config, section);
    }

  private:
    enum class Claim { Claimed, Taken, Failed };
    // Creates base + ".eml" and its side file exclusively, empty.
    Claim claimFiles(const std::string& base);
    bool writeClaimed(const std::string& base);
    bool openMailbox(size_t index);

    std::string tag_;
    std::vector<std::string> stores_;
    std::vector<std::string> excluded_;
    std::vector<Mailbox> mailboxes_;
    size_t mailboxIndex_ = 0;
    std::unique_ptr<MailboxReader> reader_;
    int32_t maxLength_ = 0;
    bool started_ = false;
    // The next base number to try: numbering goes on across fetches and past files
    // already in the fetch directory, so no message file is ever replaced.
    uint64_t nextNumber_ = 0;
    std::vector<std::string> unreadable_;
};

// The fetcher for a mail reference's client tag (compared without regard to case, the
// first "&"-separated item after "email://"), or null for anything else. With a
// configuration, the "oe4" fetcher loads its import settings from its section
// "Default".
std::unique_ptr<EmailClient> createFetcher(const std::string& reference,
                                           ConfigFile* config = nullptr);
// The fetcher of a client tag: "smapi" or one of the stores; null for others.
std::unique_ptr<EmailClient> createClient(const std::string& tag);
// The store fetcher of a tag ("oe4", "oe5", "eudora", "mbox", "maildir"), or null.
std::unique_ptr<StoreFetcher> createStoreFetcher(const std::string& tag);

// Mailbox discovery. Each gives the mailboxes of the mail program's usual places (from
// the settings registry, or the user's home folder for mbox and Maildir) or, with a
// store path, of that folder or file. Excluded folders are left out.
std::vector<Mailbox> discoverMailboxes(const std::string& tag,
                                       const std::vector<std::string>& stores);
// The mailboxes of a "Descmap.pce" folder listing (found without regard to case),
// sub-folders (type "F") read recursively.
std::vector<Mailbox> readDescmap(const std::string& directory);

}  // namespace mailfetch
