// Document storage on Xapian: one index under the data folder holding every named
// database (a database is a tag on its documents), one writer with batched commits and
// a pool of readers that see each commit. The index may instead be spread over shards
// (local folders or writable xapian-tcpsrv servers): each document lives in the shard
// its reference hashes to, readers search the union of the shards, and document
// numbers are those of Xapian's combined database (shard-local number n of shard s,
// counted from 0, of S shards is (n - 1) * S + s + 1).
#pragma once

#include <xapian.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "server/idxdoc.h"
#include "server/srvconfig.h"

namespace ixoserver {

// Term prefixes of the index.
namespace prefix {
inline constexpr const char* kUnique = "Q";       // reference and section: one document
inline constexpr const char* kReference = "R";    // reference: all sections
inline constexpr const char* kDatabase = "XDB";   // database number
inline constexpr const char* kTitle = "S";        // title words
inline constexpr const char* kType = "XT";        // document type, upper case
inline constexpr const char* kFieldValue = "XF";  // "XF" NAME ":" exact value
inline constexpr const char* kFieldWord = "XW";   // "XW" NAME ":" word term
}  // namespace prefix

inline constexpr Xapian::valueno kDateSlot = 0;  // seconds since 1970, sortable
// What a result line shows (the database number and the stored fields, without the
// content), so that listing a hit never reads a long document's content or term list.
// Documents written by earlier versions have none; their data is read instead.
inline constexpr Xapian::valueno kResultSlot = 1;
// Set on a document whose index terms were changed after it was built (fields replaced,
// terms added or removed): its word terms may then differ from its stored title and
// content.
inline constexpr Xapian::valueno kEditedSlot = 2;

// Word terms are stored in lower case, so that they never collide with the upper-case
// prefixes above; the client's terms (upper case) are converted both ways.
std::string indexForm(std::string_view term);
std::string displayForm(std::string_view term);

// Terms longer than the index allows are cut and given a hash, the same way each time.
std::string boundedTerm(const std::string& prefixText, const std::string& value);
std::string referenceTerm(const std::string& reference);
std::string uniqueTerm(const std::string& reference, int section);
std::string fieldValueTerm(const std::string& name, const std::string& value);
std::string fieldWordPrefix(const std::string& name);

// What is kept of a document in the index, as stored with it.
std::string encodeDocData(const IdxDocument& doc);
bool decodeDocData(const std::string& data, IdxDocument& doc);
// The record of kResultSlot: the database number, then the data without the content.
std::string encodeResultRecord(int db, const IdxDocument& doc);
bool decodeResultRecord(const std::string& record, int& db, IdxDocument& doc);
// The database number of a document: from its result record, else its term list.
int documentDatabase(const Xapian::Document& d);
// The word terms (index form) a document got from its stored title and content, sorted
// and distinct; false when they cannot be known from what is stored (content not kept,
// or terms changed since it was built), in which case its term list is the source.
bool storedWordTerms(const Xapian::Document& d, std::vector<std::string>& terms);

// The length (sum of word frequencies) of every document of one revision of the index,
// by document number: scoring a long query reads one length per posting, and an array
// lookup is far cheaper than the index's own length list.
struct DocLengthTable {
    uint64_t generation = 0;  // Store generation (restores start a new one)
    Xapian::rev revision = 0;
    std::vector<Xapian::rev> shardRevisions;  // of local shards, in order
    double averageLength = 0;
    Xapian::doccount documents = 0;
    std::vector<Xapian::termcount> lengths;  // index: document number
};

// One document ranked by rankAnyTerm.
struct RankedDoc {
    Xapian::docid id = 0;
    double weight = 0;
    int percent = 0;
    uint64_t matched = 0;  // bit i: the document holds query term i
};

// Ranks the documents holding any of up to 64 distinct terms (term, weight factor) by
// the index's default BM25 weighting, with the percentages Xapian's Enquire gives the
// same OR query: weight relative to the best document, scaled by the share of the query
// terms the best document matched. Documents below percentCutoff are left out. Returns
// the hits from rank "first" on, at most "count", best first (equal weights: lower
// document number first). With matching null, documents that cannot reach the top
// first + count are given up early; otherwise every posting is read and *matching
// receives the number of documents at or above the cut-off. The lengths table must come
// from the same revision as db.
std::vector<RankedDoc> rankAnyTerm(Xapian::Database& db, const DocLengthTable& lengths,
                                   const std::vector<std::pair<std::string, double>>& terms,
                                   size_t first, size_t count, int percentCutoff,
                                   Xapian::doccount* matching);

// A shard could not be reached or failed during a request. The text names the shard(s).
class ShardError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The shard (0-based) of shardCount that holds documents with this reference: a hash
// that never changes, so updates and deletions by reference find the document.
size_t shardOfReference(const std::string& reference, size_t shardCount);

struct DatabaseInfo {
    int number = 0;
    std::string name;
};

class Store {
  public:
    Store(std::string dataPath, int commitIntervalMs);
    ~Store();
    // Before open: spread the index over shards (none: the one index in the data folder),
    // and/or open it for reading only (no writer; the registry of database names is read
    // from the first shard as it changes). timeoutMs bounds one operation on a remote
    // shard.
    void setShards(std::vector<ShardSpec> shards, bool readOnly, int timeoutMs);
    size_t shardCount() const { return shards_.size(); }
    // True when a shard is a remote server (every term list read is a round trip).
    bool hasRemoteShards() const;
    bool readOnly() const { return readOnly_; }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (creating when needed) the index and starts the commit timer.
    bool open(std::string& error);
    // Commits pending work, stops the timer and closes the index.
    void close();

    // --- writing (all serialised on the one writer) ---
    struct AddOutcome {
        int added = 0;
        std::vector<uint32_t> ids;
        uint32_t job = 0;  // over shards: the job number, stored with the documents
    };
    // Adds or replaces documents (same reference and section replace, keeping the
    // id). dbOverride, when not empty, names the target database for all of them.
    // killDuplicates removes other sections of each reference not in this batch. Over
    // shards the job number is given here (AddOutcome::job) and stored with each
    // shard's documents, else by nextJobNumber.
    AddOutcome addDocuments(const std::vector<IdxDocument>& docs, const std::string& dbOverride,
                            bool killDuplicates);
    int deleteIds(const std::vector<uint32_t>& ids);
    // Deletes every document with one of the references, within database db when db >= 0.
    int deleteReferences(const std::vector<std::string>& refs, int db);
    // Creates a database, or finds it; returns its number. -1 for an invalid name.
    int createDatabase(const std::string& name);
    // Deletes the documents of a database (by name or number); with remove also its
    // name. Returns the number of documents deleted, -1 when unknown.
    int deleteDatabase(const std::string& nameOrNumber, bool remove);
    // Sets a stored field (the title, type and date by their tag names IXOTITLE,
    // IXOTYPE, IXODATE); the field's index terms follow. False when no such document.
    bool replaceField(uint32_t id, const std::string& reference, const std::string& name,
                      const std::string& value);
    // Adds or removes one index term of a document. False when no such document.
    bool changeTerm(uint32_t id, const std::string& reference, const std::string& term, bool add);
    void commit();
    // Commits pending work now, throwing the index's error when that fails: a request
    // is answered only after what it changed is on disk.
    void makeDurable();
    // The next job number ("INDEXID"), kept in the index so that numbering goes on
    // after a restart; stored with the next commit of the shards this thread wrote
    // since its last makeDurable (the first shard when none).
    uint32_t nextJobNumber();
    // Forgets which shards this thread wrote (a request that failed before makeDurable).
    void forgetPendingWrites();
    // Removes every document and database name; ids are not reused.
    void reset();
    // Copies the committed index to data/backups/NAME; restores it from there.
    bool backup(const std::string& name, std::string& error);
    bool restore(const std::string& name, std::string& error);

    // --- reading ---
    // Runs fn with a reader that sees the latest commit. Exceptions of Xapian are
    // passed on; a shard that cannot be reached, or fails during fn, gives ShardError.
    void withReader(const std::function<void(Xapian::Database&)>& fn);
    // The same, but shards that cannot be reached are left out (an empty database takes
    // the place of each, so document numbers stay as they are); missing receives their
    // numbers, counted from 1.
    void withReaderPartial(const std::function<void(Xapian::Database&)>& fn,
                           std::vector<int>& missing);
    std::vector<DatabaseInfo> databases();
    std::optional<int> databaseNumber(const std::string& nameOrNumber);
    std::string databaseName(int number);
    uint32_t documentCount();
    // The document lengths of db's revision (db: a reader from withReader, inside its
    // function). Built once per revision and shared; null when the document numbers are
    // too sparse for a table (many deleted documents) or a shard is remote or missing, in
    // which case callers score through Xapian.
    std::shared_ptr<const DocLengthTable> docLengths(Xapian::Database& db);
    // The documents numbered ids of db (a reader from withReader, inside its function), in
    // that order. Over remote shards each shard's documents are fetched in a thread of
    // their own, so the round trips to different shard servers overlap.
    std::vector<Xapian::Document> documents(Xapian::Database& db,
                                            const std::vector<Xapian::docid>& ids);
    uint64_t commitCount() const { return commits_.load(); }
    const std::string& dataPath() const { return dataPath_; }

  private:
    // One part of the index and its writer (all guarded by writeMutex_). Operations on
    // different shards run in parallel threads, each touching only its own shard.
    struct Shard {
        ShardSpec spec;
        std::optional<Xapian::WritableDatabase> writer;
        bool dirty = false;
        uint64_t epoch = 0;  // counts the writers given up: uncommitted work went with them
        std::atomic<int64_t> downUntilMs{0};  // readers skip the shard until then
    };
    struct Located {
        size_t shard = 0;
        Xapian::docid local = 0;
    };
    // Builds the index document (touches no state of the store: runs without the lock).
    static Xapian::Document buildDocument(const IdxDocument& doc, int db);
    std::optional<Located> findDocument(uint32_t id, const std::string& reference);
    Located locate(uint32_t id) const;
    uint32_t globalId(size_t shard, Xapian::docid local) const;
    // The shard's writer, connected when needed; ShardError when it cannot be.
    Xapian::WritableDatabase& writerOf(size_t shard);
    // Notes that this thread may change the shard (makeDurable then commits it and
    // checks that its writer was not lost meanwhile).
    void touchLater(size_t shard);
    // Runs fn(shard) for each shard listed, in parallel threads when more than one (each
    // thread touches only its own shard). A lost connection gives up the shard's writer
    // and becomes ShardError. Returns each shard's failure, null for success.
    std::vector<std::exception_ptr> runOnShards(const std::vector<size_t>& shards,
                                                const std::function<void(size_t)>& fn);
    // runOnShards, noting the shards for makeDurable and rethrowing the first failure.
    void onShards(const std::vector<size_t>& shards, const std::function<void(size_t)>& fn);
    std::vector<size_t> allShards() const;
    void dropWriter(size_t shard);
    std::string shardName(size_t shard) const;
    void loadRegistry();
    void loadRegistryFrom(const Xapian::Database& db);
    void saveRegistryLocked();
    int ensureDatabaseLocked(const std::string& name);
    void commitLocked();
    uint32_t reserveJobLocked();
    // Commits every shard with pending work (in parallel); committed receives them, the
    // result their failures.
    std::vector<std::exception_ptr> commitDirtyLocked(std::vector<size_t>& committed);
    bool replaceFieldLocked(uint32_t id, const std::string& reference, const std::string& name,
                            const std::string& value);
    void refreshRegistry();
    std::string missingText(const std::vector<int>& missing) const;
    void commitLoop();
    std::string indexPath() const;
    bool sharded() const { return !shardsGiven_.empty(); }
    // A reader over every shard; missing receives the shards left out (empty stand-ins).
    // parts receives the shards' own handles (sharing their state with the reader) when
    // every shard is a local folder that opened, shards the same for every kind of shard
    // when all opened.
    Xapian::Database openReader(std::vector<int>& missing,
                                std::vector<Xapian::Database>* parts = nullptr,
                                std::vector<Xapian::Database>* shards = nullptr);
    void runReader(const std::function<void(Xapian::Database&)>& fn, std::vector<int>* missing);

    std::string dataPath_;
    int commitIntervalMs_;
    std::vector<ShardSpec> shardsGiven_;
    bool readOnly_ = false;
    int timeoutMs_ = 30000;
    std::vector<std::unique_ptr<Shard>> shards_;
    mutable std::mutex writeMutex_;
    bool open_ = false;
    std::map<int, std::string> registry_;  // number -> name (guarded by writeMutex_)
    int64_t registryLoadedMs_ = 0;         // read-only: when registry_ was last read
    uint64_t lastJob_ = 0;                 // guarded by writeMutex_
    std::atomic<int> addsWaiting_{0};      // additions waiting for writeMutex_

    // A reader kept between requests, with what it saw when last brought up to date.
    struct PooledReader {
        Xapian::Database db;
        uint64_t generation = 0;
        std::vector<Xapian::Database> parts;   // see openReader
        std::vector<Xapian::Database> shards;  // see openReader
        uint64_t commits = 0;                  // commits_ before its last reopen
        int64_t reopenedMs = 0;
    };
    std::mutex readerMutex_;
    std::vector<PooledReader> readers_;
    std::atomic<uint64_t> generation_{0};

    std::mutex lengthsMutex_;
    std::shared_ptr<const DocLengthTable> lengths_;

    std::atomic<uint64_t> commits_{0};
    std::mutex timerMutex_;
    std::condition_variable timerCv_;
    bool stopTimer_ = false;
    std::thread timer_;
};

}  // namespace ixoserver
