// ixoindex: keeps a retrieval server's index in step with folders. Every file the import
// library can handle is imported and sent in batches; later runs send only new or
// changed files (by modification time and size, remembered in a state file) and delete
// the documents of files that have gone. Mail is fetched from mail programs' stores into
// a work folder, imported and sent; a status file per mail client remembers which
// messages went, so later runs send only new ones.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "imex.h"
#include "ixo.h"
#include "mailfetch/emailclient.h"
#include "support/envcfgutil.h"
#include "support/fileutil.h"
#include "tools/ixocredentials.h"
#include "tools/ixowatch/watcher.h"
#include "tools/ixowatch/watchstate.h"
#include "tools/reflist.h"

namespace {

struct FileState {
    int64_t mtime = 0;
    int64_t size = 0;
    std::string reference;
};

// The mail of one client, from the given stores or from where the mail program keeps it.
struct MailSource {
    std::string client;
    std::vector<std::string> stores;
};

struct Options {
    std::string host;
    int port = 0;
    std::string home;  // --home: a personal server's folder (port and credentials)
    const char* config = nullptr;
    const char* section = nullptr;
    std::string stateFile = "ixoindex.state";
    bool stateGiven = false;
    bool watch = false;     // --watch: keep the index in step until stopped
    bool progress = false;  // --progress: progress lines on standard output (--watch)
    const char* database = nullptr;
    size_t batchDocs = 200;
    size_t batchBytes = 4 << 20;
    std::vector<std::string> folders;
    std::vector<MailSource> mail;
};

const char* const kMailClients[] = {"oe4", "oe5", "eudora", "smapi", "mbox", "maildir"};

// "--mail CLIENT" or "--mail CLIENT=STORE"; stores of one client are read together so
// that one status file covers them.
bool addMailSource(Options& o, const std::string& value) {
    size_t eq = value.find('=');
    std::string client = value.substr(0, eq);
    for (char& c : client) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::find(std::begin(kMailClients), std::end(kMailClients), client) ==
        std::end(kMailClients))
        return false;
    auto it = std::find_if(o.mail.begin(), o.mail.end(),
                           [&](const MailSource& m) { return m.client == client; });
    if (it == o.mail.end()) it = o.mail.insert(o.mail.end(), MailSource{client, {}});
    if (eq != std::string::npos) {
        if (eq + 1 == value.size()) return false;
        it->stores.push_back(value.substr(eq + 1));
    }
    return true;
}

void usage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: ixoindex {--server HOST:INDEXPORT | --home DIR} [--config FILE --section S]\n"
        "                [--state FILE]\n"
        "                [--database NAME] [--batch N] [--mail CLIENT[=STORE]]... [FOLDER...]\n"
        "       ixoindex --watch [--progress] ... (the same options)\n"
        "\n"
        "Walks every FOLDER (with its subfolders), imports each file the import library can\n"
        "handle and sends the documents to the retrieval server's index port in batches.\n"
        "The state file remembers each file's modification time, size and reference, so a\n"
        "later run sends only new or changed files and deletes the documents of files\n"
        "that are gone (their references percent-encoded, so names holding '+', '&' or\n"
        "'%%' are deleted too). A file that fails is reported and skipped; it is tried\n"
        "again on the next run.\n"
        "\n"
        "With --mail, the messages of a mail program (oe4, oe5, eudora, smapi, mbox,\n"
        "maildir) are fetched into a work folder, imported and sent too; STORE names a\n"
        "store folder or file instead of where the program keeps its mail. The file\n"
        "STATE.mail.CLIENT remembers the messages sent, so later runs send only new ones.\n"
        "\n"
        "  --server HOST:PORT  the server's host and index port\n"
        "  --home DIR          a personal server's home folder: its index port (on this\n"
        "                      machine, unless --server names one) and the index user\n"
        "                      and password from DIR/ixo/ixo.ini are used\n"
        "  --config FILE       import settings (Import... keys) from this configuration\n"
        "  --section S         the section of FILE (default DEFAULT)\n"
        "  --state FILE        the state file (default ixoindex.state)\n"
        "  --database NAME     the database the documents go into\n"
        "  --batch N           documents per request (default 200)\n"
        "  --mail CLIENT[=STORE]  index the mail of CLIENT (repeatable)\n"
        "  --watch             after the run, keep the index in step as files change\n"
        "                      (inotify: new, changed, moved and deleted files, new\n"
        "                      folders; mail stores are read again when their files\n"
        "                      change) until SIGTERM or SIGINT\n"
        "  --progress          with --watch, progress lines on standard output:\n"
        "                      PROGRESS seen total sent failed, FAILED path<TAB>message,\n"
        "                      MAIL sent, ERROR text, WARNING text, IDLE watches files\n"
        "  --help              this text\n"
        "\n"
        "The state file is written only after the server confirmed every batch and\n"
        "deletion and the end of the run (its reply to the finish command), so a run\n"
        "that is cut short is sent again by the next one.\n"
        "Progress (files done, total, rate) is shown when standard error is a terminal.\n"
        "With --home and neither FOLDER nor --mail, the folders and mail stores come from\n"
        "DIR/ixo/content.ini (what the control window vantri-personal keeps) and the state\n"
        "file is DIR/ixo/ixoindex.state unless --state names one.\n"
        "Exit status: 0 when every file was handled, 1 when some failed, 2 for usage.\n");
}

std::map<std::string, FileState> loadState(const std::string& path) {
    std::map<std::string, FileState> state;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        // mtime TAB size TAB reference TAB path
        size_t a = line.find('\t');
        size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
        if (c == std::string::npos) continue;
        FileState s;
        s.mtime = std::strtoll(line.c_str(), nullptr, 10);
        s.size = std::strtoll(line.c_str() + a + 1, nullptr, 10);
        s.reference = line.substr(b + 1, c - b - 1);
        state[line.substr(c + 1)] = s;
    }
    return state;
}

bool saveState(const std::string& path, const std::map<std::string, FileState>& state) {
    std::string text;
    for (const auto& [file, s] : state)
        text += std::to_string(s.mtime) + "\t" + std::to_string(s.size) + "\t" + s.reference +
                "\t" + file + "\n";
    // Written beside the old one and renamed over it, so a crash never leaves half a file.
    const std::string temp = path + ".new";
    if (!fileWriteWhole(temp.c_str(), text.data(), static_cast<int64_t>(text.size()))) return false;
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

struct Walk {
    std::vector<std::string> files;
};

int collect(const char* directory, const char* name, void* context) {
    if (!name || !*name) return 0;
    std::string path = std::string(directory) + "/" + name;
    // Names with line ends or tabs cannot be kept in the state file.
    if (path.find_first_of("\t\r\n") == std::string::npos)
        static_cast<Walk*>(context)->files.push_back(std::move(path));
    return 0;
}

std::string firstReference(const std::string& idx) {
    size_t p = idx.rfind("#IXOREFERENCE ", 0) == 0 ? 0 : idx.find("\n#IXOREFERENCE ");
    if (p == std::string::npos) return {};
    p = idx.find(' ', p + 1) + 1;
    return idx.substr(p, idx.find('\n', p) - p);
}

// Sends request (with the user parameters) to the index port; the reply text, or
// false when the server could not be reached.
bool indexRequest(IXO* ixo, const std::string& request, const std::string* body,
                  const std::string& credentials, std::string& reply) {
    reply.clear();
    char* text = nullptr;
    const int32_t rc =
        ixoRequestToDynBuffer2(ixo, IXO_INDEX_PORT_SELECTOR, (request + credentials).c_str(),
                               body ? body->c_str() : nullptr, &text);
    if (text) {
        reply = text;
        memFree(text);
    }
    return rc == 1;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

class Indexer {
  public:
    Indexer(IXO* ixo, std::string credentials) : ixo_(ixo), credentials_(std::move(credentials)) {}
    // Sends what is pending and waits for every batch; false when the server refused
    // one or could not be reached.
    bool flush() {
        bool ok = sendPending();
        return waitSent() && ok;
    }
    // The finish command: the server has everything on disk once it answers.
    bool finish() {
        ok_ &= waitSent();
        std::string reply;
        if (!indexRequest(ixo_, "/IXOFINISHEDINDEX?", nullptr, credentials_, reply) ||
            reply.rfind("FINISHED", 0) != 0) {
            std::fprintf(stderr, "ixoindex: the server did not confirm the end of the run: %s\n",
                         reply.empty() ? "no reply" : firstLine(reply).c_str());
            return false;
        }
        return true;
    }
    // Documents the server confirmed deleting.
    size_t deleted() const { return deleted_; }
    void add(const std::string& idx, size_t docs, const Options& o) {
        pending_ += idx;
        pendingDocs_ += docs;
        if (pendingDocs_ >= o.batchDocs || pending_.size() >= o.batchBytes) ok_ &= sendPending();
    }
    bool remove(const std::vector<std::string>& references) {
        bool ok = waitSent();
        std::string list;
        auto send = [&] {
            if (list.empty()) return;
            std::string reply;
            // Only "DELETED=n" confirms the request; its n documents are counted.
            if (!indexRequest(ixo_, "/IXODELETEREF?docs=" + list, nullptr, credentials_, reply) ||
                reply.rfind("DELETED=", 0) != 0) {
                std::fprintf(stderr, "ixoindex: the server refused a deletion: %s\n",
                             reply.empty() ? "no reply" : firstLine(reply).c_str());
                ok = false;
            } else {
                deleted_ += static_cast<size_t>(std::strtoul(reply.c_str() + 8, nullptr, 10));
            }
            list.clear();
        };
        for (const std::string& r : references) {
            if (r.empty()) continue;
            if (!list.empty()) list += "+";
            list += tools::encodeReferenceItem(r);
            if (list.size() > 1500) send();
        }
        send();
        return ok;
    }
    bool ok() const { return ok_; }

  private:
    // Import and indexing overlap, and so do two batches on the server: while the server
    // writes and commits one batch (under its writer's lock), it builds the next one's
    // index documents on the other core. Each batch goes from a thread of its own; the
    // handle is only read by a request, so the threads share it. A batch naming a
    // reference that one on its way names too waits for that one (and those before it),
    // so the later version of a document is the one the server keeps.
    static constexpr size_t kInFlight = 2;
    struct Batch {
        std::set<std::string> references;
        std::future<bool> sent;
    };

    // Sends what is pending; returns the outcome of the batches it had to wait for.
    bool sendPending() {
        if (pending_.empty()) return true;
        std::set<std::string> references = referencesOf(pending_);
        size_t wait = inFlight_.size() >= kInFlight ? inFlight_.size() - kInFlight + 1 : 0;
        for (size_t i = 0; i < inFlight_.size(); ++i)
            for (const std::string& r : inFlight_[i].references)
                if (references.count(r)) wait = std::max(wait, i + 1);
        bool ok = true;
        for (; wait > 0; --wait) {
            ok = inFlight_.front().sent.get() && ok;
            inFlight_.pop_front();
        }
        Batch batch;
        batch.references = std::move(references);
        batch.sent = std::async(std::launch::async, [this, body = pending_ + "\n#IXOENDDATA\n"] {
            return sendBatch(body);
        });
        inFlight_.push_back(std::move(batch));
        pending_.clear();
        pendingDocs_ = 0;
        return ok;
    }
    // Waits for every batch on its way; false when the server did not take one.
    bool waitSent() {
        bool ok = true;
        for (; !inFlight_.empty(); inFlight_.pop_front()) ok = inFlight_.front().sent.get() && ok;
        return ok;
    }
    // The references (or, for documents without one, the file names the server uses
    // instead) of the documents in an IDX text.
    static std::set<std::string> referencesOf(const std::string& idx) {
        std::set<std::string> out;
        for (const char* tag : {"#IXOREFERENCE ", "#IXOFILENAME "}) {
            const size_t n = std::strlen(tag);
            for (size_t p = 0; (p = idx.find(tag, p)) != std::string::npos; p += n) {
                if (p != 0 && idx[p - 1] != '\n') continue;
                const size_t end = idx.find('\n', p);
                out.insert(idx.substr(p + n, end == std::string::npos ? end : end - p - n));
            }
        }
        return out;
    }
    // A batch counts as sent only when the reply says how many documents it took.
    bool sendBatch(const std::string& body) {
        std::string reply;
        if (!indexRequest(ixo_, "/IXOADDDATA? ", &body, credentials_, reply) ||
            reply.find("INDEXID=") == std::string::npos ||
            reply.find("DOCUMENTS=") == std::string::npos) {
            std::fprintf(stderr, "ixoindex: the server refused a batch: %s\n",
                         reply.empty() ? "no reply" : firstLine(reply).c_str());
            return false;
        }
        return true;
    }

    IXO* ixo_;
    std::string credentials_;
    size_t deleted_ = 0;
    std::string pending_;
    size_t pendingDocs_ = 0;
    bool ok_ = true;
    std::deque<Batch> inFlight_;  // last: waited for before the members it uses go
};

size_t countDocuments(const std::string& idx) {
    size_t n = 0;
    for (size_t p = 0; (p = idx.find("#IXOENDDOC\n", p)) != std::string::npos; p += 11)
        if (p == 0 || idx[p - 1] == '\n') ++n;
    return n;
}

// Empties the mail work folder (fetched messages and whatever their import left).
void clearFolder(const std::string& folder) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec))
        std::filesystem::remove_all(it->path(), ec);
}

struct MailOutcome {
    size_t sent = 0;  // messages fetched and sent
    bool ok = true;   // every batch fetched, imported and accepted by the server
};

// Fetches the mail of one client in batches into work, imports each batch into temp
// and sends it. The client's status file is replaced only when everything went through,
// so messages of a failed run are fetched and sent again next time.
// Imports one input (a file, or a folder ending in '/') into the IDX file temp and
// returns that file's text, empty when the import wrote none; *result is the import's
// result code.
std::string importToIdx(ImportContext* context, ImportArgs* args, const std::string& input,
                        const std::string& temp, int32_t* result) {
    fileDelete(temp.c_str());
    const char* one[] = {input.c_str()};
    imargsSetInputs(args, 1, one);
    *result = 0;
    imexImport(context, args, result);
    char* text = nullptr;
    int64_t n = fileReadWhole(temp.c_str(), &text);
    std::string idx = n > 0 && text ? std::string(text, static_cast<size_t>(n)) : "";
    if (text) memFree(text);
    return idx;
}

MailOutcome indexMail(const MailSource& source, const Options& o, ImportContext* context,
                      ImportArgs* args, const std::string& temp, const std::string& work,
                      Indexer& indexer) {
    MailOutcome out;
    std::unique_ptr<mailfetch::EmailClient> fetcher = mailfetch::createClient(source.client);
    if (!fetcher) {
        out.ok = false;
        return out;
    }
    if (auto* store = dynamic_cast<mailfetch::StoreFetcher*>(fetcher.get()))
        store->setStores(source.stores);
    std::error_code ec;
    std::filesystem::create_directories(work, ec);
    clearFolder(work);
    if (!fetcher->setFetchDirectory(work)) {
        std::fprintf(stderr, "ixoindex: cannot create the mail work folder %s\n", work.c_str());
        out.ok = false;
        return out;
    }
    const std::string status = o.stateFile + ".mail." + source.client;
    const std::string pending = status + ".new";
    fetcher->setStatusFile(status);
    fetcher->loadStatus();
    fetcher->setStatusFile(pending);  // each fetch writes the status here

    const int32_t batch = static_cast<int32_t>(std::min<size_t>(o.batchDocs, 100000));
    const std::string input = work + "/";
    // A pass ends when the fetcher has gone through every mailbox; the bound only guards
    // against a fetcher that never says so.
    for (int round = 0; round < 1000000; ++round) {
        fetcher->fetch(batch);
        if (fetcher->written() > 0) {
            int32_t result = 0;
            const std::string idx = importToIdx(context, args, input, temp, &result);
            if (result != 0 && result != -2) {
                std::fprintf(stderr, "ixoindex: mail from %s: %s\n", source.client.c_str(),
                             imexGetError(result));
                out.ok = false;
            }
            if (!idx.empty()) {
                indexer.add(idx, countDocuments(idx), o);
                out.sent += static_cast<size_t>(fetcher->written());
            }
        }
        clearFolder(work);
        if (fetcher->finished()) break;
    }
    out.ok = indexer.flush() && indexer.ok() && out.ok;
    if (out.ok) {
        std::filesystem::rename(pending, status, ec);
        if (ec) {
            std::fprintf(stderr, "ixoindex: cannot write the mail status file %s\n",
                         status.c_str());
            out.ok = false;
        }
    }
    std::filesystem::remove(pending, ec);
    return out;
}

// The indexer's importing and sending, for the live indexing of --watch.
class WatchBackend : public ixowatch::Backend {
  public:
    WatchBackend(IXO* ixo, std::string credentials, const Options& o, ImportContext* context,
                 ImportArgs* args, std::string temp)
        : ixo_(ixo),
          credentials_(std::move(credentials)),
          o_(o),
          context_(context),
          args_(args),
          temp_(std::move(temp)) {}
    void begin() override { indexer_ = std::make_unique<Indexer>(ixo_, credentials_); }
    int importFile(const std::string& path, std::string& idx, std::string& message) override {
        int32_t result = 0;
        idx = importToIdx(context_, args_, path, temp_, &result);
        if (result != 0 && result != -2) message = imexGetError(result);
        return result;
    }
    bool add(const std::string& idx) override {
        indexer_->add(idx, countDocuments(idx), o_);
        return indexer_->ok();
    }
    bool complete(const std::vector<std::string>& gone) override {
        bool ok = indexer_->flush() && indexer_->ok();
        if (!gone.empty()) ok = indexer_->remove(gone) && ok;
        return indexer_->finish() && ok;
    }
    size_t mailSources() const override { return o_.mail.size(); }
    std::vector<std::string> mailPaths(size_t source) override {
        std::vector<std::string> paths = o_.mail[source].stores;
        std::unique_ptr<mailfetch::EmailClient> fetcher =
            mailfetch::createClient(o_.mail[source].client);
        if (auto* store = dynamic_cast<mailfetch::StoreFetcher*>(fetcher.get())) {
            store->setStores(o_.mail[source].stores);
            store->restart();
            for (const mailfetch::Mailbox& m : store->mailboxes()) paths.push_back(m.path);
        }
        for (std::string& p : paths) {
            std::error_code ec;
            p = std::filesystem::absolute(p, ec).lexically_normal().string();
            while (p.size() > 1 && p.back() == '/') p.pop_back();
        }
        return paths;
    }
    bool indexMail(size_t source, size_t* sent) override {
        begin();
        MailOutcome m =
            ::indexMail(o_.mail[source], o_, context_, args_, temp_, temp_ + ".mail", *indexer_);
        *sent = m.sent;
        return indexer_->finish() && m.ok;
    }

  private:
    IXO* ixo_;
    std::string credentials_;
    const Options& o_;
    ImportContext* context_;
    ImportArgs* args_;
    std::string temp_;
    std::unique_ptr<Indexer> indexer_;
};

int runWatchMode(const Options& o, IXO* ixo, const std::string& credentials, ImportContext* context,
                 ImportArgs* args, const std::string& temp) {
    ixowatch::WatchOptions w;
    for (const std::string& folder : o.folders) {
        std::error_code ec;
        std::string absolute = std::filesystem::absolute(folder, ec).lexically_normal().string();
        while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
        w.folders.push_back(absolute);
    }
    w.stateFile = o.stateFile;
    w.progress = o.progress;
    WatchBackend backend(ixo, credentials, o, context, args, temp);
    const int rc = ixowatch::runWatch(w, backend);
    std::error_code ec;
    std::filesystem::remove_all(temp + ".mail", ec);
    return rc;
}

// With --home and nothing named on the command line: the folders and mail stores the
// control window keeps in the home, and the state file beside them.
bool useContentList(Options& o) {
    ixowatch::ContentList list;
    if (!ixowatch::loadContentList(o.home, list)) {
        std::fprintf(stderr, "ixoindex: cannot read %s\n",
                     ixowatch::contentListPath(o.home).c_str());
        return false;
    }
    o.folders = list.folders;
    for (const std::string& m : list.mail)
        if (!addMailSource(o, m))
            std::fprintf(stderr, "ixoindex: %s: unknown mail source %s\n",
                         ixowatch::contentListPath(o.home).c_str(), m.c_str());
    if (!o.stateGiven) o.stateFile = o.home + "/ixo/ixoindex.state";
    if (o.folders.empty() && o.mail.empty()) {
        std::fprintf(stderr, "ixoindex: %s names no folders or mail to index\n",
                     ixowatch::contentListPath(o.home).c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--server" && (v = value())) {
            std::string s = v;
            size_t colon = s.rfind(':');
            if (colon == std::string::npos) {
                usage(stderr);
                return 2;
            }
            o.host = s.substr(0, colon);
            o.port = std::atoi(s.c_str() + colon + 1);
        } else if (a == "--home" && (v = value())) {
            o.home = v;
        } else if (a == "--config" && (v = value())) {
            o.config = v;
        } else if (a == "--section" && (v = value())) {
            o.section = v;
        } else if (a == "--state" && (v = value())) {
            o.stateFile = v;
            o.stateGiven = true;
        } else if (a == "--watch") {
            o.watch = true;
        } else if (a == "--progress") {
            o.progress = true;
        } else if (a == "--database" && (v = value())) {
            o.database = v;
        } else if (a == "--batch" && (v = value())) {
            o.batchDocs = static_cast<size_t>(std::max(1, std::atoi(v)));
        } else if (a == "--mail" && (v = value())) {
            if (!addMailSource(o, v)) {
                usage(stderr);
                return 2;
            }
        } else if (!a.empty() && a[0] != '-') {
            o.folders.push_back(a);
        } else {
            usage(stderr);
            return 2;
        }
    }
    // With a server home, the index user and password come from its ixo.ini and, unless
    // --server named one, the server is the one on this machine.
    std::string credentials;
    if (!o.home.empty()) {
        ixocredentials::ServerCredentials c;
        if (!ixocredentials::readServerCredentials(o.home, c)) {
            std::fprintf(stderr, "ixoindex: cannot read %s/ixo/ixo.ini\n", o.home.c_str());
            return 2;
        }
        if (o.host.empty()) {
            o.host = "127.0.0.1";
            o.port = c.indexPort;
        }
        if (c.hasIndexPair())
            credentials = "&" + ixocredentials::credentialParameters(c.indexUser, c.indexPassword);
        if (o.folders.empty() && o.mail.empty() && !useContentList(o)) return 2;
    }
    if (o.host.empty() || o.port <= 0 || (o.folders.empty() && o.mail.empty())) {
        usage(stderr);
        return 2;
    }

    IXO ixo{};
    if (ixoCreateIxo(&ixo, o.host.c_str(), nullptr, o.port, o.port) != 1) {
        std::fprintf(stderr, "ixoindex: bad server %s\n", o.host.c_str());
        return 2;
    }
    imexInit();
    ImportContext* context = imexCreate();
    ImportArgs* args = imargsCreate();
    ConfigFile* cfg = nullptr;
    const char* section = o.section ? o.section : "DEFAULT";
    if (o.config) {
        if (envCfgLoad(&cfg, o.config, 0) != 0) {
            std::fprintf(stderr, "ixoindex: cannot read configuration %s\n", o.config);
            return 1;
        }
        imexRegisterFromConfig(context, cfg, section);
        const char* outcome = imargsLoadFromConfig(cfg, section, 0, nullptr, nullptr, args);
        if (std::strcmp(outcome, "Success.") != 0) {
            std::fprintf(stderr, "ixoindex: %s\n", outcome);
            return 1;
        }
    }
    if (o.database) imargsSetOutputDatabase(args, o.database);
    char* tempName =
        fileTempName((std::filesystem::temp_directory_path() / "ixoindex").string().c_str());
    const std::string temp = tempName ? tempName : "ixoindex.tmp";
    if (tempName) memFree(tempName);
    imargsSetOutputFilename(args, temp.c_str());
    if (o.watch) {
        const int rc = runWatchMode(o, &ixo, credentials, context, args, temp);
        fileDelete(temp.c_str());
        if (cfg) envCfgClose(&cfg);
        imargsDestroy(args);
        imexDestroy(context);
        ixoDestroyIxo(&ixo);
        return rc;
    }

    std::map<std::string, FileState> previous = loadState(o.stateFile);
    std::map<std::string, FileState> current;
    Walk walk;
    for (const std::string& folder : o.folders) {
        std::error_code ec;
        std::string absolute = std::filesystem::absolute(folder, ec).lexically_normal().string();
        while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
        if (fileWalkDirectory(absolute.c_str(), nullptr, collect, &walk, 1) < 0)
            std::fprintf(stderr, "ixoindex: cannot read folder %s\n", folder.c_str());
    }

    const bool terminal = ::isatty(2) != 0;
    const auto start = std::chrono::steady_clock::now();
    Indexer indexer(&ixo, credentials);
    size_t done = 0, sent = 0, failed = 0, unchanged = 0;
    for (const std::string& file : walk.files) {
        ++done;
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) continue;
        FileState s;
        s.mtime = static_cast<int64_t>(st.st_mtime);
        s.size = static_cast<int64_t>(st.st_size);
        auto old = previous.find(file);
        if (old != previous.end() && old->second.mtime == s.mtime && old->second.size == s.size) {
            current[file] = old->second;
            ++unchanged;
            continue;
        }
        int32_t result = 0;
        const std::string idx = importToIdx(context, args, file, temp, &result);
        if (result == -2) continue;  // a kind of file the library does not handle
        if (result != 0) {
            std::fprintf(stderr, "%sixoindex: %s: %s\n", terminal ? "\n" : "", file.c_str(),
                         imexGetError(result));
            ++failed;
            continue;
        }
        s.reference = firstReference(idx);
        current[file] = s;
        if (!idx.empty()) {
            indexer.add(idx, countDocuments(idx), o);
            ++sent;
        }
        if (terminal && (done % 50 == 0 || done == walk.files.size())) {
            double secs =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "\r%zu/%zu files, %.0f files/s", done, walk.files.size(),
                         secs > 0 ? static_cast<double>(done) / secs : 0.0);
        }
    }
    bool ok = indexer.flush() && indexer.ok();

    size_t mailSent = 0;
    for (const MailSource& source : o.mail) {
        MailOutcome m = indexMail(source, o, context, args, temp, temp + ".mail", indexer);
        mailSent += m.sent;
        if (!m.ok) {
            std::fprintf(stderr, "ixoindex: mail from %s was not all sent\n",
                         source.client.c_str());
            ++failed;
        }
    }
    if (!o.mail.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(temp + ".mail", ec);
    }

    std::vector<std::string> gone;
    for (const auto& [file, s] : previous)
        if (!current.count(file)) {
            // A changed file whose reference moved also loses its old documents.
            gone.push_back(s.reference);
        }
    for (const auto& [file, s] : current) {
        auto old = previous.find(file);
        if (old != previous.end() && old->second.reference != s.reference)
            gone.push_back(old->second.reference);
    }
    if (!gone.empty() && !indexer.remove(gone)) ok = false;
    // Sent even after a failure: what the server did take is then on disk too.
    if (!indexer.finish()) ok = false;
    if (terminal) std::fprintf(stderr, "\n");
    // Only a run whose requests all went through is remembered; otherwise the next run
    // sends the same changes again.
    if (ok && !saveState(o.stateFile, current)) {
        std::fprintf(stderr, "ixoindex: cannot write the state file %s\n", o.stateFile.c_str());
        ok = false;
    }
    if (terminal)
        std::fprintf(stderr,
                     "ixoindex: %zu sent, %zu unchanged, %zu documents deleted, %zu mail messages "
                     "sent, %zu failed\n",
                     sent, unchanged, indexer.deleted(), mailSent, failed);
    fileDelete(temp.c_str());
    if (cfg) envCfgClose(&cfg);
    imargsDestroy(args);
    imexDestroy(context);
    ixoDestroyIxo(&ixo);
    return !ok ? 1 : failed ? 1 : 0;
}
