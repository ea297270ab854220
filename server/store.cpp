#include "server/store.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "server/terms.h"

namespace ixoserver {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxTermBytes = 200;  // the index refuses terms over 245 bytes
constexpr const char* kRegistryKey = "ixo.databases";
constexpr const char* kLastJobKey = "ixo.lastjob";  // the last INDEXID handed out

// Only the owner may read the index: folders 0700, files 0600 (also for data written
// by an earlier version with a looser mask).
void makePrivate(const fs::path& root) {
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::replace, ec);
    int budget = 10000;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end && budget-- > 0;
         it.increment(ec)) {
        const auto type = it->symlink_status(ec).type();
        if (type == fs::file_type::directory)
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::replace, ec);
        else if (type == fs::file_type::regular)
            fs::permissions(it->path(), fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::replace, ec);
        ec.clear();
    }
}

uint64_t fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void putVarint(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7F) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

bool getVarint(const std::string& in, size_t& pos, uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (pos >= in.size()) return false;
        auto b = static_cast<unsigned char>(in[pos++]);
        v |= static_cast<uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

void putItem(std::string& out, char key, const std::string& value) {
    out += key;
    putVarint(out, value.size());
    out += value;
}

bool validDatabaseName(const std::string& name) {
    if (name.empty() || name.size() > 100) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == '\t' || c == '+' || c == '&' || c == ',' || c == '[' || c == ']')
            return false;
    return true;
}

bool validBackupName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name == "." || name == "..") return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '-' || c == '.';
    });
}

}  // namespace

std::string indexForm(std::string_view term) {
    // Terms are ASCII: plain arithmetic instead of the locale's case tables.
    std::string out(term);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string displayForm(std::string_view term) {
    std::string out(term);
    for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string boundedTerm(const std::string& prefixText, const std::string& value) {
    std::string t = prefixText + value;
    if (t.size() <= kMaxTermBytes) return t;
    char hash[24];
    std::snprintf(hash, sizeof hash, "#%016llx", static_cast<unsigned long long>(fnv1a(value)));
    return t.substr(0, kMaxTermBytes - 17) + hash;
}

std::string referenceTerm(const std::string& reference) {
    return boundedTerm(prefix::kReference, reference);
}

std::string uniqueTerm(const std::string& reference, int section) {
    return boundedTerm(prefix::kUnique, reference + '\x1f' + std::to_string(section));
}

std::string fieldValueTerm(const std::string& name, const std::string& value) {
    return boundedTerm(std::string(prefix::kFieldValue) + upper(name).substr(0, 40) + ":", value);
}

std::string fieldWordPrefix(const std::string& name) {
    return std::string(prefix::kFieldWord) + upper(name).substr(0, 40) + ":";
}

namespace {

// The shards a request split by shard has work for, in order.
template <class Item>
std::vector<size_t> shardsWithWork(const std::vector<std::vector<Item>>& groups) {
    std::vector<size_t> used;
    for (size_t s = 0; s < groups.size(); ++s)
        if (!groups[s].empty()) used.push_back(s);
    return used;
}

// Layout: items of one key byte, a varint length and the bytes. Fields are 'f' name
// then 'v' value, in order; the content, when kept, comes last.
std::string encodeItems(const IdxDocument& doc, bool withContent) {
    std::string out;
    out.reserve((withContent ? doc.content.size() : 0) + doc.title.size() + doc.reference.size() +
                64);
    putItem(out, 'r', doc.reference);
    putItem(out, 't', doc.title);
    if (!doc.type.empty()) putItem(out, 'y', doc.type);
    if (!doc.date.empty()) putItem(out, 'd', doc.date);
    if (!doc.dbname.empty()) putItem(out, 'n', doc.dbname);
    if (!doc.filename.empty()) putItem(out, 'l', doc.filename);
    if (doc.section != -1) putItem(out, 's', std::to_string(doc.section));
    putItem(out, 'k', doc.storeContent ? "1" : "0");
    for (const auto& [n, v] : doc.fields) {
        putItem(out, 'f', n);
        putItem(out, 'v', v);
    }
    if (withContent && doc.storeContent) putItem(out, 'c', doc.content);
    return out;
}

}  // namespace

std::string encodeDocData(const IdxDocument& doc) {
    return encodeItems(doc, true);
}

std::string encodeResultRecord(int db, const IdxDocument& doc) {
    std::string out;
    putItem(out, 'b', std::to_string(db));
    return out + encodeItems(doc, false);
}

bool decodeResultRecord(const std::string& record, int& db, IdxDocument& doc) {
    size_t pos = 1;
    uint64_t len = 0;
    if (record.empty() || record[0] != 'b' || !getVarint(record, pos, len) ||
        len > record.size() - pos || len == 0 || len > 9)
        return false;
    const std::string number = record.substr(pos, len);
    if (!std::all_of(number.begin(), number.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    db = std::atoi(number.c_str());
    return decodeDocData(record.substr(pos + len), doc);
}

int documentDatabase(const Xapian::Document& d) {
    int db = 0;
    IdxDocument doc;
    if (decodeResultRecord(d.get_value(kResultSlot), db, doc)) return db;
    auto t = d.termlist_begin();
    t.skip_to(prefix::kDatabase);
    if (t != d.termlist_end() && (*t).rfind(prefix::kDatabase, 0) == 0)
        return std::atoi((*t).c_str() + 3);
    return 0;
}

bool storedWordTerms(const Xapian::Document& d, std::vector<std::string>& terms) {
    terms.clear();
    if (!d.get_value(kEditedSlot).empty()) return false;
    IdxDocument doc;
    int db = 0;
    // Documents without a result record come from versions that did not mark edits.
    if (!decodeResultRecord(d.get_value(kResultSlot), db, doc) || !doc.storeContent) return false;
    if (!decodeDocData(d.get_data(), doc)) return false;
    // The same words buildDocument indexed from the title and the content.
    textToTerms(doc.content, terms);
    textToTerms(doc.title, terms);
    for (auto& t : terms) t = indexForm(t);
    std::sort(terms.begin(), terms.end());
    terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
    return true;
}

bool decodeDocData(const std::string& data, IdxDocument& doc) {
    doc = IdxDocument{};
    size_t pos = 0;
    std::string pendingField;
    bool havePending = false;
    while (pos < data.size()) {
        char key = data[pos++];
        uint64_t len = 0;
        if (!getVarint(data, pos, len) || len > data.size() - pos) return false;
        std::string value = data.substr(pos, len);
        pos += len;
        switch (key) {
            case 'r':
                doc.reference = std::move(value);
                break;
            case 't':
                doc.title = std::move(value);
                break;
            case 'y':
                doc.type = std::move(value);
                break;
            case 'd':
                doc.date = std::move(value);
                break;
            case 'n':
                doc.dbname = std::move(value);
                break;
            case 'l':
                doc.filename = std::move(value);
                break;
            case 's':
                doc.section = std::atoi(value.c_str());
                break;
            case 'k':
                doc.storeContent = value == "1";
                break;
            case 'c':
                doc.content = std::move(value);
                break;
            case 'f':
                pendingField = std::move(value);
                havePending = true;
                break;
            case 'v':
                if (!havePending) return false;
                doc.fields.emplace_back(std::move(pendingField), std::move(value));
                havePending = false;
                break;
            default:
                return false;
        }
    }
    return !havePending;
}

namespace {

constexpr int kConnectTimeoutMs = 2000;  // connecting to a remote shard
constexpr int kDownRetryMs = 1000;       // a shard that failed is tried again after this
constexpr int kRemoteReopenMs = 1000;    // a reader of remote shards looks for changes after this

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The shards a thread wrote since its last makeDurable, with the writer's epoch then:
// a request is acknowledged only when those writers are still the ones committing.
struct PendingWrite {
    const void* store;
    size_t shard;
    uint64_t epoch;
};
thread_local std::vector<PendingWrite> tPendingWrites;

}  // namespace

size_t shardOfReference(const std::string& reference, size_t shardCount) {
    return shardCount <= 1 ? 0 : static_cast<size_t>(fnv1a(reference) % shardCount);
}

Store::Store(std::string dataPath, int commitIntervalMs)
    : dataPath_(std::move(dataPath)), commitIntervalMs_(std::max(10, commitIntervalMs)) {}

Store::~Store() {
    close();
}

void Store::setShards(std::vector<ShardSpec> shards, bool readOnly, int timeoutMs) {
    shardsGiven_ = std::move(shards);
    readOnly_ = readOnly;
    timeoutMs_ = std::max(100, timeoutMs);
}

std::string Store::indexPath() const {
    return (fs::path(dataPath_) / "xapian").string();
}

std::string Store::shardName(size_t shard) const {
    return "shard " + std::to_string(shard + 1) + " (" + shards_[shard]->spec.text() + ")";
}

Store::Located Store::locate(uint32_t id) const {
    const size_t n = shards_.size();
    return {static_cast<size_t>((id - 1) % n), static_cast<Xapian::docid>((id - 1) / n + 1)};
}

uint32_t Store::globalId(size_t shard, Xapian::docid local) const {
    const uint64_t id = (static_cast<uint64_t>(local) - 1) * shards_.size() + shard + 1;
    if (id > 0xffffffffull)
        throw ShardError("document numbers of " + shardName(shard) + " ran out");
    return static_cast<uint32_t>(id);
}

Xapian::WritableDatabase& Store::writerOf(size_t shard) {
    Shard& s = *shards_[shard];
    if (s.writer) return *s.writer;
    try {
        if (s.spec.remote())
            s.writer.emplace(Xapian::Remote::open_writable(
                s.spec.host, static_cast<unsigned>(s.spec.port),
                static_cast<useconds_t>(timeoutMs_), kConnectTimeoutMs));
        else
            s.writer.emplace(s.spec.path, Xapian::DB_CREATE_OR_OPEN);
    } catch (const Xapian::Error& e) {
        if (!sharded()) throw;
        throw ShardError(shardName(shard) + " is not reachable: " + e.get_description());
    }
    return *s.writer;
}

void Store::forgetPendingWrites() {
    std::erase_if(tPendingWrites, [this](const PendingWrite& p) { return p.store == this; });
}

void Store::dropWriter(size_t shard) {
    Shard& s = *shards_[shard];
    try {
        s.writer.reset();
    } catch (...) {
    }
    // Only uncommitted work is lost with a connection.
    if (s.dirty) ++s.epoch;
    s.dirty = false;
}

std::vector<std::exception_ptr> Store::runOnShards(const std::vector<size_t>& shards,
                                                   const std::function<void(size_t)>& fn) {
    std::vector<std::exception_ptr> errors(shards.size());
    auto one = [&](size_t k) {
        const size_t shard = shards[k];
        try {
            try {
                fn(shard);
            } catch (const Xapian::NetworkError&) {
                // A connection the shard's server closed while it was idle (its idle
                // timeout) loses nothing when there was no uncommitted work on it: a
                // new connection takes over.
                if (!shards_[shard]->spec.remote() || shards_[shard]->dirty ||
                    !shards_[shard]->writer)
                    throw;
                dropWriter(shard);
                fn(shard);
            }
        } catch (const Xapian::NetworkError& e) {
            // The connection is gone, and with it whatever the shard had not committed.
            dropWriter(shard);
            errors[k] = sharded() ? std::make_exception_ptr(ShardError(
                                        shardName(shard) + " failed: " + e.get_description()))
                                  : std::current_exception();
        } catch (...) {
            errors[k] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    for (size_t k = 1; k < shards.size(); ++k) threads.emplace_back(one, k);
    if (!shards.empty()) one(0);
    for (auto& t : threads) t.join();
    return errors;
}

void Store::onShards(const std::vector<size_t>& shards, const std::function<void(size_t)>& fn) {
    // Registered first: a failure part-way still leaves this thread's record of the
    // shards it may have changed.
    for (size_t s : shards) touchLater(s);
    for (auto& e : runOnShards(shards, fn))
        if (e) std::rethrow_exception(e);
}

void Store::touchLater(size_t shard) {
    for (const auto& p : tPendingWrites)
        if (p.store == this && p.shard == shard) return;
    tPendingWrites.push_back({this, shard, shards_[shard]->epoch});
}

bool Store::hasRemoteShards() const {
    return std::any_of(shardsGiven_.begin(), shardsGiven_.end(),
                       [](const ShardSpec& s) { return s.remote(); });
}

std::vector<size_t> Store::allShards() const {
    std::vector<size_t> all(shards_.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    return all;
}

bool Store::open(std::string& error) {
    try {
        fs::create_directories(dataPath_);
        makePrivate(dataPath_);
        std::lock_guard lock(writeMutex_);
        shards_.clear();
        if (shardsGiven_.empty()) {
            shards_.push_back(std::make_unique<Shard>());
            shards_.back()->spec.path = indexPath();
        } else {
            for (const auto& spec : shardsGiven_) {
                shards_.push_back(std::make_unique<Shard>());
                shards_.back()->spec = spec;
                if (spec.remote() || readOnly_) continue;
                fs::create_directories(spec.path);
                makePrivate(spec.path);
            }
        }
        if (readOnly_) {
            // The first shard holds the names of the databases.
            std::vector<int> missing;
            Xapian::Database db = openReader(missing);
            if (!missing.empty() && missing.front() == 1)
                throw ShardError(shardName(0) + " is not reachable");
            loadRegistryFrom(db);
            registryLoadedMs_ = nowMs();
        } else {
            writerOf(0);
            loadRegistry();
            // Job numbers are kept with the shards a batch went to: go on from the highest.
            for (size_t i = 0; i < shards_.size(); ++i) {
                try {
                    lastJob_ = std::max<uint64_t>(
                        lastJob_,
                        std::strtoull(writerOf(i).get_metadata(kLastJobKey).c_str(), nullptr, 10));
                } catch (const ShardError&) {
                    // Connected when first written to.
                }
            }
            if (registry_.empty()) {
                registry_[0] = "default";
                saveRegistryLocked();
                commitLocked();
            }
        }
        if (registry_.empty()) registry_[0] = "default";
        open_ = true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    } catch (const Xapian::Error& e) {
        error = e.get_description();
        return false;
    }
    forgetPendingWrites();
    if (readOnly_) return true;
    {
        std::lock_guard lock(timerMutex_);
        stopTimer_ = false;
    }
    timer_ = std::thread([this] { commitLoop(); });
    return true;
}

void Store::close() {
    {
        std::lock_guard lock(timerMutex_);
        stopTimer_ = true;
    }
    timerCv_.notify_all();
    if (timer_.joinable()) timer_.join();
    std::lock_guard lock(writeMutex_);
    for (auto& shard : shards_) {
        if (!shard->writer) continue;
        try {
            if (shard->dirty) shard->writer->commit();
            shard->writer->close();
        } catch (const Xapian::Error&) {
        }
        shard->writer.reset();
        shard->dirty = false;
    }
    open_ = false;
    std::lock_guard rlock(readerMutex_);
    readers_.clear();
}

void Store::commitLoop() {
    std::unique_lock lock(timerMutex_);
    while (!stopTimer_) {
        timerCv_.wait_for(lock, std::chrono::milliseconds(commitIntervalMs_));
        if (stopTimer_) break;
        lock.unlock();
        commit();
        lock.lock();
    }
}

std::vector<std::exception_ptr> Store::commitDirtyLocked(std::vector<size_t>& committed) {
    committed.clear();
    for (size_t i = 0; i < shards_.size(); ++i)
        if (shards_[i]->writer && shards_[i]->dirty) committed.push_back(i);
    auto errors = runOnShards(committed, [this](size_t s) {
        shards_[s]->writer->commit();
        shards_[s]->dirty = false;
    });
    commits_ +=
        static_cast<uint64_t>(std::count(errors.begin(), errors.end(), std::exception_ptr()) > 0);
    return errors;
}

void Store::commitLocked() {
    std::vector<size_t> committed;
    for (auto& e : commitDirtyLocked(committed))
        if (e) std::rethrow_exception(e);
}

void Store::commit() {
    std::lock_guard lock(writeMutex_);
    std::vector<size_t> committed;
    // Failures are left dirty (or, for a lost connection, without a writer): the next
    // round tries again, and makeDurable reports them to the requests concerned.
    commitDirtyLocked(committed);
}

void Store::makeDurable() {
    // Everything written before the lock was taken is in this commit, so requests that
    // finished their changes meanwhile find nothing left to commit: concurrent requests
    // share one commit.
    std::lock_guard lock(writeMutex_);
    std::vector<PendingWrite> mine;
    for (const auto& p : tPendingWrites)
        if (p.store == this) mine.push_back(p);
    forgetPendingWrites();
    std::vector<size_t> committed;
    const auto errors = commitDirtyLocked(committed);
    for (const auto& p : mine) {
        for (size_t k = 0; k < committed.size(); ++k)
            if (committed[k] == p.shard && errors[k]) std::rethrow_exception(errors[k]);
        if (shards_[p.shard]->epoch != p.epoch)
            throw ShardError(shardName(p.shard) +
                             " lost its connection before the change was committed");
    }
    // A shard this request did not write may have failed: that is its own requests'
    // business, and the timer tries it again.
    if (!sharded())
        for (const auto& e : errors)
            if (e) std::rethrow_exception(e);
}

uint32_t Store::nextJobNumber() {
    std::lock_guard lock(writeMutex_);
    reserveJobLocked();
    if (!open_ || readOnly_) return static_cast<uint32_t>(lastJob_);
    std::vector<size_t> targets;
    for (const auto& p : tPendingWrites)
        if (p.store == this) targets.push_back(p.shard);
    if (targets.empty()) targets.push_back(0);
    const std::string value = std::to_string(lastJob_);
    onShards(targets, [&](size_t s) {
        writerOf(s).set_metadata(kLastJobKey, value);
        shards_[s]->dirty = true;
    });
    return static_cast<uint32_t>(lastJob_);
}

void Store::loadRegistryFrom(const Xapian::Database& db) {
    registry_.clear();
    std::istringstream in(db.get_metadata(kRegistryKey));
    std::string line;
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        registry_[std::atoi(line.substr(0, tab).c_str())] = line.substr(tab + 1);
    }
}

void Store::loadRegistry() {
    loadRegistryFrom(writerOf(0));
}

void Store::saveRegistryLocked() {
    std::string text;
    for (const auto& [n, name] : registry_) text += std::to_string(n) + "\t" + name + "\n";
    onShards({0}, [&](size_t s) {
        writerOf(s).set_metadata(kRegistryKey, text);
        shards_[s]->dirty = true;
    });
}

void Store::refreshRegistry() {
    // A read-only server follows the names of its master as the replica changes.
    if (!readOnly_) return;
    {
        std::lock_guard lock(writeMutex_);
        if (nowMs() - registryLoadedMs_ < 1000) return;
        registryLoadedMs_ = nowMs();
    }
    try {
        std::vector<int> missing;
        withReaderPartial(
            [&](Xapian::Database& db) {
                if (!missing.empty() && missing.front() == 1) return;
                std::lock_guard lock(writeMutex_);
                loadRegistryFrom(db);
                if (registry_.empty()) registry_[0] = "default";
            },
            missing);
    } catch (const std::exception&) {
    } catch (const Xapian::Error&) {
    }
}

int Store::ensureDatabaseLocked(const std::string& name) {
    for (const auto& [n, existing] : registry_)
        if (existing == name) return n;
    if (!validDatabaseName(name)) return -1;
    int number = registry_.empty() ? 0 : registry_.rbegin()->first + 1;
    registry_[number] = name;
    saveRegistryLocked();
    return number;
}

int Store::createDatabase(const std::string& name) {
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_) return -1;
    return ensureDatabaseLocked(name);
}

std::vector<DatabaseInfo> Store::databases() {
    refreshRegistry();
    std::lock_guard lock(writeMutex_);
    std::vector<DatabaseInfo> out;
    for (const auto& [n, name] : registry_) out.push_back({n, name});
    return out;
}

std::optional<int> Store::databaseNumber(const std::string& nameOrNumber) {
    refreshRegistry();
    std::lock_guard lock(writeMutex_);
    for (const auto& [n, name] : registry_)
        if (name == nameOrNumber) return n;
    if (!nameOrNumber.empty() &&
        std::all_of(nameOrNumber.begin(), nameOrNumber.end(),
                    [](unsigned char c) { return std::isdigit(c); }) &&
        nameOrNumber.size() < 9) {
        int n = std::atoi(nameOrNumber.c_str());
        if (registry_.count(n)) return n;
    }
    return std::nullopt;
}

std::string Store::databaseName(int number) {
    refreshRegistry();
    std::lock_guard lock(writeMutex_);
    auto it = registry_.find(number);
    return it == registry_.end() ? std::string() : it->second;
}

Xapian::Document Store::buildDocument(const IdxDocument& doc, int db) {
    Xapian::Document xd;
    xd.set_data(encodeDocData(doc));
    xd.add_value(kResultSlot, encodeResultRecord(db, doc));
    std::vector<std::string> terms;
    textToTerms(doc.content, terms);
    for (const auto& t : terms) xd.add_term(indexForm(t));
    terms.clear();
    textToTerms(doc.title, terms);
    for (const auto& t : terms) {
        xd.add_term(indexForm(t), 2);
        xd.add_term(std::string(prefix::kTitle) + indexForm(t));
    }
    xd.add_boolean_term(uniqueTerm(doc.reference, doc.section));
    xd.add_boolean_term(referenceTerm(doc.reference));
    xd.add_boolean_term(std::string(prefix::kDatabase) + std::to_string(db));
    if (!doc.type.empty()) xd.add_boolean_term(boundedTerm(prefix::kType, upper(doc.type)));
    for (const auto& [name, value] : doc.fields) {
        xd.add_boolean_term(fieldValueTerm(name, value));
        terms.clear();
        textToTerms(value, terms);
        const std::string fp = fieldWordPrefix(name);
        for (const auto& t : terms) xd.add_term(boundedTerm(fp, indexForm(t)));
    }
    int64_t seconds = parseIdxDate(doc.date);
    if (seconds >= 0)
        xd.add_value(kDateSlot, Xapian::sortable_serialise(static_cast<double>(seconds)));
    return xd;
}

namespace {

// Builds the index documents of one shard's part of a batch in a thread of its own, in
// order, while the shard's writer sends those already built: over a remote shard each
// document is a round trip, and the terms of the next ones are made meanwhile.
class ShardBuilder {
  public:
    ShardBuilder(const std::vector<size_t>& items, std::function<Xapian::Document(size_t)> build)
        : docs_(items.size()) {
        thread_ = std::thread([this, &items, build = std::move(build)] {
            try {
                for (size_t k = 0; k < items.size() && !stop_.load(); ++k) {
                    docs_[k] = build(items[k]);
                    std::lock_guard lock(mutex_);
                    ready_ = k + 1;
                    cv_.notify_one();
                }
            } catch (...) {
                std::lock_guard lock(mutex_);
                error_ = std::current_exception();
                cv_.notify_one();
            }
        });
    }
    ~ShardBuilder() {
        stop_ = true;
        thread_.join();
    }
    ShardBuilder(const ShardBuilder&) = delete;
    ShardBuilder& operator=(const ShardBuilder&) = delete;
    // The k-th document, once built; the builder's failure is passed on.
    const Xapian::Document& get(size_t k) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return ready_ > k || error_; });
        if (ready_ <= k) std::rethrow_exception(error_);
        return docs_[k];
    }

  private:
    std::vector<Xapian::Document> docs_;
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t ready_ = 0;
    std::exception_ptr error_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

uint32_t Store::reserveJobLocked() {
    lastJob_ = lastJob_ >= 0xffffffffull ? 1 : lastJob_ + 1;
    return static_cast<uint32_t>(lastJob_);
}

Store::AddOutcome Store::addDocuments(const std::vector<IdxDocument>& docs,
                                      const std::string& dbOverride, bool killDuplicates) {
    AddOutcome out;
    // Over remote shards the documents are built while they are written (below); over
    // shards each shard's thread also commits its part.
    const bool pipelined = hasRemoteShards();
    const bool ownCommits = sharded();
    // The databases are settled under the writer's lock, the index documents (term
    // making, the larger part of the work) are built without it, so that requests of
    // several clients build in parallel and only take turns for writing; over remote
    // shards they are built while the writers wait for the shard servers instead.
    std::vector<IdxDocument> stored;
    std::vector<int> dbs;
    stored.reserve(docs.size());
    {
        std::lock_guard lock(writeMutex_);
        if (!open_ || readOnly_) return out;
        for (const auto& doc : docs) {
            const std::string& dbName = !dbOverride.empty()   ? dbOverride
                                        : !doc.dbname.empty() ? doc.dbname
                                                              : registry_.begin()->second;
            int db = ensureDatabaseLocked(dbName);
            if (db < 0) db = registry_.begin()->first;
            stored.push_back(doc);
            stored.back().dbname = registry_[db];
            if (stored.back().reference.empty()) stored.back().reference = stored.back().filename;
            dbs.push_back(db);
        }
    }
    // Every section of a reference goes to the same shard.
    const size_t shardCount = shards_.size();
    std::vector<std::vector<size_t>> groups(shardCount);
    for (size_t i = 0; i < stored.size(); ++i)
        groups[shardOfReference(stored[i].reference, shardCount)].push_back(i);
    const std::vector<size_t> used = shardsWithWork(groups);

    std::vector<Xapian::Document> built(pipelined ? 0 : stored.size());
    if (pipelined) {
    } else if (used.size() <= 1) {
        for (size_t i = 0; i < stored.size(); ++i) built[i] = buildDocument(stored[i], dbs[i]);
    } else {
        // One thread per shard's documents: each builds and then writes its own part.
        std::vector<std::thread> threads;
        for (size_t s : used)
            threads.emplace_back([&, s] {
                for (size_t i : groups[s]) built[i] = buildDocument(stored[i], dbs[i]);
            });
        for (auto& t : threads) t.join();
    }

    ++addsWaiting_;
    std::unique_lock lock(writeMutex_);
    --addsWaiting_;
    if (!open_) return out;
    for (size_t i = 0; i < stored.size(); ++i) {
        // A database removed meanwhile is made again, as if the request had come later.
        if (!registry_.count(dbs[i]) || registry_[dbs[i]] != stored[i].dbname) {
            int db = ensureDatabaseLocked(stored[i].dbname);
            if (db < 0) db = registry_.begin()->first;
            dbs[i] = db;
            stored[i].dbname = registry_[db];
            if (!pipelined) built[i] = buildDocument(stored[i], db);
        }
    }
    std::vector<uint32_t> ids(stored.size(), 0);
    std::vector<std::unique_ptr<ShardBuilder>> builders(shardCount);
    // Over shards the job number goes with each shard's own commit, made by the shard's
    // thread as soon as its documents are written, unless other additions wait for the
    // writer (makeDurable then commits them all together).
    const uint32_t jobNumber = ownCommits ? reserveJobLocked() : 0;
    const std::string job = std::to_string(jobNumber);
    std::atomic<bool> committed{false};
    for (size_t s : pipelined ? used : std::vector<size_t>())
        builders[s] = std::make_unique<ShardBuilder>(
            groups[s], [&](size_t i) { return buildDocument(stored[i], dbs[i]); });
    onShards(used, [&](size_t s) {
        Xapian::WritableDatabase& w = writerOf(s);
        std::map<std::string, std::set<Xapian::docid>> written;  // reference -> ids
        for (size_t k = 0; k < groups[s].size(); ++k) {
            const size_t i = groups[s][k];
            const Xapian::docid id =
                w.replace_document(uniqueTerm(stored[i].reference, stored[i].section),
                                   pipelined ? builders[s]->get(k) : built[i]);
            shards_[s]->dirty = true;
            written[stored[i].reference].insert(id);
            ids[i] = globalId(s, id);
        }
        for (const auto& [ref, kept] : written) {
            if (!killDuplicates) break;
            const std::string term = referenceTerm(ref);
            std::vector<Xapian::docid> stale;
            for (auto it = w.postlist_begin(term); it != w.postlist_end(term); ++it)
                if (!kept.count(*it)) stale.push_back(*it);
            for (auto id : stale) w.delete_document(id);
        }
        if (!ownCommits) return;
        w.set_metadata(kLastJobKey, job);
        if (addsWaiting_.load() > 0) return;
        w.commit();
        shards_[s]->dirty = false;
        committed = true;
    });
    if (committed) ++commits_;
    out.job = jobNumber;
    out.ids = std::move(ids);
    out.added = static_cast<int>(out.ids.size());
    return out;
}

int Store::deleteIds(const std::vector<uint32_t>& ids) {
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_) return 0;
    std::vector<std::vector<Xapian::docid>> groups(shards_.size());
    for (auto id : ids)
        if (id != 0) {
            const auto where = locate(id);
            groups[where.shard].push_back(where.local);
        }
    const std::vector<size_t> used = shardsWithWork(groups);
    std::atomic<int> n{0};
    onShards(used, [&](size_t s) {
        Xapian::WritableDatabase& w = writerOf(s);
        for (auto local : groups[s]) {
            try {
                w.delete_document(local);
                ++n;
                shards_[s]->dirty = true;
            } catch (const Xapian::DocNotFoundError&) {
            }
        }
    });
    return n.load();
}

int Store::deleteReferences(const std::vector<std::string>& refs, int db) {
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_) return 0;
    std::vector<std::vector<std::string>> groups(shards_.size());
    for (const auto& ref : refs) groups[shardOfReference(ref, shards_.size())].push_back(ref);
    const std::vector<size_t> used = shardsWithWork(groups);
    std::atomic<int> n{0};
    onShards(used, [&](size_t s) {
        Xapian::WritableDatabase& w = writerOf(s);
        for (const auto& ref : groups[s]) {
            const std::string term = referenceTerm(ref);
            std::vector<Xapian::docid> ids;
            for (auto it = w.postlist_begin(term); it != w.postlist_end(term); ++it)
                ids.push_back(*it);
            for (auto id : ids) {
                if (db >= 0 && documentDatabase(w.get_document(id)) != db) continue;
                w.delete_document(id);
                ++n;
                shards_[s]->dirty = true;
            }
        }
    });
    return n.load();
}

int Store::deleteDatabase(const std::string& nameOrNumber, bool remove) {
    auto number = databaseNumber(nameOrNumber);
    if (!number) return -1;
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_) return -1;
    const std::string term = std::string(prefix::kDatabase) + std::to_string(*number);
    std::atomic<int> n{0};
    onShards(allShards(), [&](size_t s) {
        Xapian::WritableDatabase& w = writerOf(s);
        // One request per shard, however many documents (a remote shard pays a round
        // trip per request).
        const Xapian::doccount count = w.get_termfreq(term);
        if (count == 0) return;
        w.delete_document(term);
        n += static_cast<int>(count);
        shards_[s]->dirty = true;
    });
    // The first database stays: documents without a database name go there.
    if (remove && *number != registry_.begin()->first) {
        registry_.erase(*number);
        saveRegistryLocked();
    }
    return n.load();
}

std::optional<Store::Located> Store::findDocument(uint32_t id, const std::string& reference) {
    if (!reference.empty()) {
        const size_t s = shardOfReference(reference, shards_.size());
        Xapian::WritableDatabase& w = writerOf(s);
        const std::string term = referenceTerm(reference);
        auto it = w.postlist_begin(term);
        if (it == w.postlist_end(term)) return std::nullopt;
        return Located{s, *it};
    }
    if (id == 0) return std::nullopt;
    const Located at = locate(id);
    try {
        writerOf(at.shard).get_document(at.local);
    } catch (const Xapian::DocNotFoundError&) {
        return std::nullopt;
    }
    return at;
}

bool Store::replaceField(uint32_t id, const std::string& reference, const std::string& name,
                         const std::string& value) {
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_ || name.empty()) return false;
    if (reference.empty() && id == 0) return false;
    const size_t shard =
        reference.empty() ? locate(id).shard : shardOfReference(reference, shards_.size());
    bool done = false;
    onShards({shard}, [&](size_t) { done = replaceFieldLocked(id, reference, name, value); });
    return done;
}

bool Store::replaceFieldLocked(uint32_t id, const std::string& reference, const std::string& name,
                               const std::string& value) {
    auto found = findDocument(id, reference);
    if (!found) return false;
    Xapian::WritableDatabase& w = writerOf(found->shard);
    Xapian::Document xd = w.get_document(found->local);
    IdxDocument doc;
    if (!decodeDocData(xd.get_data(), doc)) return false;
    const int database = documentDatabase(xd);
    const std::string key = upper(name);
    std::string clean = value;
    for (auto& c : clean)
        if (c == '\r' || c == '\n' || c == '\t' || c == '"') c = ' ';
    if (key == "IXOTITLE") {
        doc.title = clean;
    } else if (key == "IXOTYPE") {
        for (auto t = xd.termlist_begin(); t != xd.termlist_end(); ++t) {
            if ((*t).rfind(prefix::kType, 0) == 0) {
                xd.remove_term(*t);
                break;
            }
        }
        doc.type = clean;
        if (!clean.empty()) xd.add_boolean_term(boundedTerm(prefix::kType, upper(clean)));
    } else if (key == "IXODATE") {
        doc.date = clean;
        int64_t seconds = parseIdxDate(clean);
        if (seconds >= 0)
            xd.add_value(kDateSlot, Xapian::sortable_serialise(static_cast<double>(seconds)));
        else
            xd.remove_value(kDateSlot);
    } else {
        auto it = std::find_if(doc.fields.begin(), doc.fields.end(),
                               [&](const auto& f) { return f.first == name; });
        if (it != doc.fields.end()) {
            try {
                xd.remove_term(fieldValueTerm(name, it->second));
            } catch (const Xapian::InvalidArgumentError&) {
            }
            it->second = clean;
        } else {
            doc.fields.emplace_back(name, clean);
        }
        const std::string fp = fieldWordPrefix(name);
        std::vector<std::string> stale;
        auto t = xd.termlist_begin();
        for (t.skip_to(fp); t != xd.termlist_end(); ++t) {
            if ((*t).rfind(fp, 0) != 0) break;
            stale.push_back(*t);
        }
        for (const auto& t : stale) xd.remove_term(t);
        xd.add_boolean_term(fieldValueTerm(name, clean));
        std::vector<std::string> terms;
        textToTerms(clean, terms);
        for (const auto& t : terms) xd.add_term(boundedTerm(fp, indexForm(t)));
    }
    xd.set_data(encodeDocData(doc));
    xd.add_value(kResultSlot, encodeResultRecord(database, doc));
    xd.add_value(kEditedSlot, "1");
    w.replace_document(found->local, xd);
    shards_[found->shard]->dirty = true;
    return true;
}

bool Store::changeTerm(uint32_t id, const std::string& reference, const std::string& term,
                       bool add) {
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_ || term.empty()) return false;
    if (reference.empty() && id == 0) return false;
    const size_t shard =
        reference.empty() ? locate(id).shard : shardOfReference(reference, shards_.size());
    bool done = false;
    onShards({shard}, [&](size_t) {
        auto found = findDocument(id, reference);
        if (!found) return;
        Xapian::WritableDatabase& w = writerOf(found->shard);
        Xapian::Document xd = w.get_document(found->local);
        done = true;
        if (add) {
            xd.add_term(term);
        } else {
            try {
                xd.remove_term(term);
            } catch (const Xapian::InvalidArgumentError&) {
                return;  // the document did not have the term
            }
        }
        xd.add_value(kEditedSlot, "1");
        w.replace_document(found->local, xd);
        shards_[found->shard]->dirty = true;
    });
    return done;
}

void Store::reset() {
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_) return;
    onShards(allShards(), [&](size_t s) {
        Xapian::WritableDatabase& w = writerOf(s);
        // Every document carries its database's term: one request per database, then
        // whatever is left (documents of earlier versions) one by one.
        for (const auto& [n, name] : registry_) {
            const std::string term = std::string(prefix::kDatabase) + std::to_string(n);
            if (w.get_termfreq(term) > 0) w.delete_document(term);
        }
        std::vector<Xapian::docid> ids;
        for (auto it = w.postlist_begin(""); it != w.postlist_end(""); ++it) ids.push_back(*it);
        for (auto id : ids) w.delete_document(id);
        shards_[s]->dirty = true;
    });
    registry_.clear();
    registry_[0] = "default";
    saveRegistryLocked();
    commitLocked();
}

bool Store::backup(const std::string& name, std::string& error) {
    if (!validBackupName(name)) {
        error = "invalid backup name";
        return false;
    }
    if (sharded()) {
        error = "a sharded index is copied per shard with xapian-replicate or xapian-compact";
        return false;
    }
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_) return false;
    try {
        commitLocked();
        fs::path target = fs::path(dataPath_) / "backups" / name;
        fs::path staging = target;
        staging += ".partial";
        fs::remove_all(staging);
        fs::create_directories(staging.parent_path());
        // The writer holds its lock and has nothing pending, so the files are stable.
        fs::copy(indexPath(), staging, fs::copy_options::recursive);
        fs::remove(staging / "flintlock");
        fs::remove_all(target);
        fs::rename(staging, target);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    } catch (const Xapian::Error& e) {
        error = e.get_description();
        return false;
    }
    return true;
}

bool Store::restore(const std::string& name, std::string& error) {
    if (!validBackupName(name)) {
        error = "invalid backup name";
        return false;
    }
    if (sharded()) {
        error = "a sharded index is restored per shard with Xapian's tools";
        return false;
    }
    fs::path source = fs::path(dataPath_) / "backups" / name;
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        error = "no such backup";
        return false;
    }
    std::lock_guard lock(writeMutex_);
    if (!open_ || readOnly_) {
        error = "the index is not open for writing";
        return false;
    }
    Shard& shard = *shards_[0];
    try {
        // Check the backup opens before the current index is given up.
        { Xapian::Database check(source.string()); }
        if (shard.writer) {
            commitLocked();
            shard.writer->close();
            shard.writer.reset();
        }
        fs::path old = fs::path(indexPath());
        fs::path aside = old;
        aside += ".old";
        fs::remove_all(aside);
        fs::rename(old, aside);
        fs::copy(source, old, fs::copy_options::recursive);
        shard.writer.emplace(old.string(), Xapian::DB_CREATE_OR_OPEN);
        fs::remove_all(aside);
        loadRegistry();
        // Job numbers go on from the higher of the two, so none is handed out twice.
        lastJob_ = std::max<uint64_t>(
            lastJob_, std::strtoull(shard.writer->get_metadata(kLastJobKey).c_str(), nullptr, 10));
        shard.writer->set_metadata(kLastJobKey, std::to_string(lastJob_));
        shard.dirty = true;
        commitLocked();
        if (registry_.empty()) registry_[0] = "default";
    } catch (const std::exception& e) {
        error = e.what();
    } catch (const Xapian::Error& e) {
        error = e.get_description();
    }
    if (!shard.writer) {
        try {
            shard.writer.emplace(indexPath(), Xapian::DB_CREATE_OR_OPEN);
            loadRegistry();
        } catch (const Xapian::Error&) {
        }
    }
    ++generation_;
    return error.empty();
}

Xapian::Database Store::openReader(std::vector<int>& missing, std::vector<Xapian::Database>* parts,
                                   std::vector<Xapian::Database>* shards) {
    missing.clear();
    if (parts) parts->clear();
    if (shards) shards->clear();
    if (!sharded()) return Xapian::Database(indexPath());
    Xapian::Database all;
    std::vector<Xapian::Database> local, handles;
    const int64_t now = nowMs();
    for (size_t i = 0; i < shards_.size(); ++i) {
        Shard& s = *shards_[i];
        bool added = false;
        if (s.downUntilMs.load() <= now) {
            try {
                if (s.spec.remote())
                    handles.push_back(Xapian::Remote::open(
                        s.spec.host, static_cast<unsigned>(s.spec.port),
                        static_cast<useconds_t>(timeoutMs_), kConnectTimeoutMs));
                else
                    handles.push_back(local.emplace_back(s.spec.path));
                all.add_database(handles.back());
                added = true;
            } catch (const Xapian::Error&) {
                s.downUntilMs = now + kDownRetryMs;
            }
        }
        if (!added) {
            // An empty stand-in keeps the place, so the other shards' numbers stay.
            all.add_database(Xapian::WritableDatabase(std::string(), Xapian::DB_BACKEND_INMEMORY));
            missing.push_back(static_cast<int>(i + 1));
        }
    }
    if (parts && local.size() == shards_.size()) *parts = std::move(local);
    if (shards && missing.empty()) *shards = std::move(handles);
    return all;
}

std::string Store::missingText(const std::vector<int>& missing) const {
    std::string out;
    for (int m : missing) out += (out.empty() ? "" : ", ") + shardName(static_cast<size_t>(m - 1));
    return out + (missing.size() == 1 ? " is" : " are") + " not reachable";
}

namespace {

// The shard handles of the reader a thread is running a function with: of local shards
// only (see docLengths), and of every shard (see documents).
thread_local const std::vector<Xapian::Database>* tReaderParts = nullptr;
thread_local const std::vector<Xapian::Database>* tReaderShards = nullptr;

struct PartsScope {
    PartsScope(const std::vector<Xapian::Database>* parts,
               const std::vector<Xapian::Database>* shards)
        : savedParts(tReaderParts), savedShards(tReaderShards) {
        tReaderParts = parts;
        tReaderShards = shards;
    }
    ~PartsScope() {
        tReaderParts = savedParts;
        tReaderShards = savedShards;
    }
    const std::vector<Xapian::Database>* savedParts;
    const std::vector<Xapian::Database>* savedShards;
};

}  // namespace

void Store::runReader(const std::function<void(Xapian::Database&)>& fn, std::vector<int>* missing) {
    std::optional<PooledReader> reader;
    const uint64_t gen = generation_.load();
    {
        std::lock_guard lock(readerMutex_);
        while (!readers_.empty()) {
            PooledReader candidate = std::move(readers_.back());
            readers_.pop_back();
            if (candidate.generation == gen) {
                reader.emplace(std::move(candidate));
                break;
            }
        }
    }
    std::vector<int> gone;
    // Taken before reopening: a commit that ends meanwhile makes the next request reopen.
    const uint64_t commits = commits_.load();
    const int64_t now = nowMs();
    auto open = [&] {
        reader->db = openReader(gone, &reader->parts, &reader->shards);
        reader->commits = commits;
        reader->reopenedMs = now;
    };
    if (!reader) {
        reader.emplace();
        reader->generation = gen;
        open();
    } else if (!hasRemoteShards() || readOnly_ || reader->commits != commits ||
               now - reader->reopenedMs >= kRemoteReopenMs) {
        // Reopening asks each remote shard in turn, a round trip each. A writable remote
        // shard changes only through this server's commits while the server holds its
        // writer, so a reader that has seen every commit is current; the time limit
        // covers a shard written by another program while this server held no writer.
        // Replicas change under a read-only server at any time: they are always asked.
        try {
            // The shard handles share their state with db: they follow it.
            reader->db.reopen();
            reader->commits = commits;
            reader->reopenedMs = now;
        } catch (const Xapian::Error&) {
            open();
        }
    }
    Xapian::Database& db = reader->db;
    const PartsScope scope(&reader->parts, &reader->shards);
    auto settle = [&] {
        if (gone.empty()) return;
        if (!missing) throw ShardError(missingText(gone));
        *missing = gone;
    };
    settle();
    auto run = [&] {
        try {
            fn(db);
        } catch (const Xapian::DatabaseModifiedError&) {
            db.reopen();
            fn(db);
        }
    };
    try {
        run();
    } catch (const Xapian::NetworkError& e) {
        if (!sharded()) throw;
        // A shard went away during the request: once more over what answers now.
        open();
        settle();
        try {
            run();
        } catch (const Xapian::NetworkError& again) {
            throw ShardError("a shard failed during the request: " + again.get_description());
        }
    }
    if (!gone.empty()) return;  // a reader with stand-ins is not kept
    std::lock_guard lock(readerMutex_);
    if (readers_.size() < 64) readers_.push_back(std::move(*reader));
}

void Store::withReader(const std::function<void(Xapian::Database&)>& fn) {
    runReader(fn, nullptr);
}

void Store::withReaderPartial(const std::function<void(Xapian::Database&)>& fn,
                              std::vector<int>& missing) {
    missing.clear();
    runReader(fn, &missing);
}

std::shared_ptr<const DocLengthTable> Store::docLengths(Xapian::Database& db) {
    // The combined reader of several shards has no revision number of its own: local
    // shards are told apart by theirs. Remote postings cost a round trip each, so
    // Xapian's matcher (run on each shard server) scores queries over remote shards.
    std::vector<Xapian::rev> shardRevisions;
    Xapian::rev rev = 0;
    if (sharded()) {
        if (!tReaderParts || tReaderParts->size() != shards_.size()) return nullptr;
        try {
            for (const auto& part : *tReaderParts) shardRevisions.push_back(part.get_revision());
        } catch (const Xapian::InvalidOperationError&) {
            return nullptr;  // a folder that is not a single index (a stub of several)
        }
    } else {
        rev = db.get_revision();
    }
    const uint64_t gen = generation_.load();
    std::lock_guard lock(lengthsMutex_);
    if (lengths_ && lengths_->generation == gen && lengths_->revision == rev &&
        lengths_->shardRevisions == shardRevisions)
        return lengths_;
    const Xapian::docid last = db.get_lastdocid();
    const Xapian::doccount count = db.get_doccount();
    // Numbers are never reused, so after mass deletions the table would be mostly holes.
    if (last > 4ull * count + 100000) return nullptr;
    auto table = std::make_shared<DocLengthTable>();
    table->generation = gen;
    table->revision = rev;
    table->shardRevisions = std::move(shardRevisions);
    table->averageLength = db.get_avlength();
    table->documents = count;
    table->lengths.assign(static_cast<size_t>(last) + 1, 0);
    for (auto it = db.postlist_begin(""); it != db.postlist_end(""); ++it)
        if (*it <= last) table->lengths[*it] = it.get_doclength();
    lengths_ = table;
    return table;
}

std::vector<Xapian::Document> Store::documents(Xapian::Database& db,
                                               const std::vector<Xapian::docid>& ids) {
    std::vector<Xapian::Document> out(ids.size());
    const std::vector<Xapian::Database>* shards = hasRemoteShards() ? tReaderShards : nullptr;
    const size_t count = shards ? shards->size() : 0;
    std::vector<size_t> used;
    std::vector<std::vector<size_t>> groups(count);
    for (size_t i = 0; i < ids.size() && count > 1; ++i) {
        auto& group = groups[(ids[i] - 1) % count];
        if (group.empty()) used.push_back((ids[i] - 1) % count);
        group.push_back(i);
    }
    if (used.size() < 2) {
        for (size_t i = 0; i < ids.size(); ++i) out[i] = db.get_document(ids[i]);
        return out;
    }
    // Documents by shard-local number, each shard's on a thread (the first on this one).
    std::vector<std::exception_ptr> errors(used.size());
    auto fetch = [&](size_t k) {
        const size_t shard = used[k];
        try {
            for (size_t i : groups[shard])
                out[i] = (*shards)[shard].get_document(
                    static_cast<Xapian::docid>((ids[i] - 1) / count + 1));
        } catch (...) {
            errors[k] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    for (size_t k = 1; k < used.size(); ++k) threads.emplace_back(fetch, k);
    fetch(0);
    for (auto& t : threads) t.join();
    for (auto& e : errors)
        if (e) std::rethrow_exception(e);
    return out;
}

namespace {

// Per-thread score and match arrays by document number, kept between queries; only the
// entries a query touched are cleared afterwards.
struct Accumulator {
    std::vector<double> weight;
    std::vector<uint64_t> matched;
    std::vector<Xapian::docid> touched;
};

}  // namespace

std::vector<RankedDoc> rankAnyTerm(Xapian::Database& db, const DocLengthTable& lengths,
                                   const std::vector<std::pair<std::string, double>>& terms,
                                   size_t first, size_t count, int percentCutoff,
                                   Xapian::doccount* matching) {
    // BM25 with the parameters of Xapian's default weighting (k1 1, k3 1, b 0.5,
    // smallest normalised length 0.5), each query term occurring once.
    constexpr double kK1 = 1.0, kB = 0.5, kMinNormLength = 0.5;
    if (matching) *matching = 0;
    std::vector<RankedDoc> out;
    if (terms.empty() || terms.size() > 64 || lengths.documents == 0) return out;
    thread_local Accumulator acc;
    const size_t slots = lengths.lengths.size();
    if (acc.weight.size() < slots) {
        acc.weight.resize(slots, 0.0);
        acc.matched.resize(slots, 0);
    }
    auto& touched = acc.touched;
    touched.clear();
    auto forget = [&](Xapian::docid id) { acc.weight[id] = 0, acc.matched[id] = 0; };

    // Over local shards the postings are read from each shard's own list and numbered as
    // the combined database numbers them: merging the shards' lists into one would cost
    // more than the scoring does.
    const std::vector<Xapian::Database>* parts =
        tReaderParts && tReaderParts->size() > 1 ? tReaderParts : nullptr;
    const uint64_t shardCount = parts ? parts->size() : 1;
    // fn(id, wdf) for every posting of term, in no particular order.
    auto eachPosting = [&](const std::string& term, auto&& fn) {
        if (!parts) {
            for (auto it = db.postlist_begin(term); it != db.postlist_end(term); ++it)
                fn(uint64_t{*it}, it.get_wdf());
            return;
        }
        for (uint64_t s = 0; s < shardCount; ++s) {
            const Xapian::Database& part = (*parts)[s];
            for (auto it = part.postlist_begin(term); it != part.postlist_end(term); ++it)
                fn((*it - uint64_t{1}) * shardCount + s + 1, it.get_wdf());
        }
    };
    // fn(id, wdf) for the documents of ids (ascending) that hold term.
    auto postingsOf = [&](const std::string& term, const std::vector<Xapian::docid>& ids,
                          auto&& fn) {
        for (uint64_t s = 0; s < shardCount; ++s) {
            const Xapian::Database& part = parts ? (*parts)[s] : db;
            auto it = part.postlist_begin(term);
            const auto end = part.postlist_end(term);
            for (auto id : ids) {
                if ((id - 1) % shardCount != s) continue;
                const auto local = static_cast<Xapian::docid>((id - 1) / shardCount + 1);
                it.skip_to(local);
                if (it == end) break;
                if (*it == local) fn(id, it.get_wdf());
            }
        }
    };

    const double n = lengths.documents;
    const double lenFactor = lengths.averageLength > 0 ? 1.0 / lengths.averageLength : 0.0;
    const double shortest = std::max(db.get_doclength_lower_bound() * lenFactor, kMinNormLength);
    struct Term {
        size_t index;
        double weight;  // idf part times the query's factor
        double bound;   // the most one posting can add
    };
    std::vector<Term> order;
    for (size_t i = 0; i < terms.size(); ++i) {
        const double tf = db.get_termfreq(terms[i].first);
        if (tf <= 0) continue;
        double ratio = (n - tf + 0.5) / (tf + 0.5);
        // Terms in more than about a third of the documents keep a small weight
        // instead of a negative one.
        if (ratio < 2) ratio = ratio * 0.5 + 1;
        const double w = std::log(ratio) * terms[i].second;
        const double maxWdf = db.get_wdf_upper_bound(terms[i].first);
        const double bound = w * (maxWdf / (kK1 * (shortest * kB + (1 - kB)) + maxWdf)) * (kK1 + 1);
        order.push_back({i, w, bound});
    }
    // Terms that can add most come first: once the documents found so far hold a top
    // list that the remaining terms together cannot reach, no new document can enter
    // it, and the remaining terms are only looked up for the documents still in reach.
    std::stable_sort(order.begin(), order.end(),
                     [](const Term& a, const Term& b) { return a.bound > b.bound; });
    std::vector<double> rest(order.size() + 1, 0.0);  // bounds of order[j..] summed
    for (size_t j = order.size(); j-- > 0;) rest[j] = rest[j + 1] + order[j].bound;

    const size_t wanted = first + count;
    const bool mayPrune = !matching && wanted > 0;
    bool pruned = false;
    double threshold = 0, best = 0, lastReach = HUGE_VAL;
    auto contribution = [&](const Term& t, Xapian::docid id, double wdf) {
        const double normLength = std::max(lengths.lengths[id] * lenFactor, kMinNormLength);
        const double denom = kK1 * (normLength * kB + (1 - kB)) + wdf;
        return denom > 0 ? t.weight * (wdf / denom) * (kK1 + 1) : 0.0;
    };
    // The wanted-th best score so far when it is above floor, else 0: every final top
    // list scores at least this much.
    auto kthScoreAbove = [&](double floor) {
        std::vector<double> scores;
        for (auto id : touched)
            if (acc.weight[id] > floor) scores.push_back(acc.weight[id]);
        if (scores.size() < wanted) return 0.0;
        std::nth_element(scores.begin(), scores.begin() + static_cast<long>(wanted - 1),
                         scores.end(), std::greater<>());
        return scores[wanted - 1];
    };
    try {
        for (size_t j = 0; j < order.size(); ++j) {
            const Term& t = order[j];
            const std::string& term = terms[t.index].first;
            const uint64_t bit = 1ull << t.index;
            // Slack for rounding: a bound must never fall below what it bounds.
            const double reach = rest[j] * (1 + 1e-9);
            // The wanted-th best score only grows, so an earlier figure stays valid; it
            // is worked out again only when the reach of the rest has fallen a little.
            if (mayPrune && !pruned && j > 0 && reach < best) {
                if (threshold <= reach && reach < lastReach * 0.97) {
                    threshold = kthScoreAbove(reach);
                    lastReach = reach;
                }
                if (threshold > reach) {
                    pruned = true;
                    // Kept in document order for the lookups (a pass over the table is
                    // cheaper than sorting).
                    touched.clear();
                    for (Xapian::docid id = 1; id < slots; ++id) {
                        if (acc.matched[id] == 0) continue;
                        if (acc.weight[id] + reach >= threshold)
                            touched.push_back(id);
                        else
                            forget(id);
                    }
                }
            }
            if (pruned) {
                postingsOf(term, touched, [&](Xapian::docid id, Xapian::termcount wdf) {
                    acc.matched[id] |= bit;
                    acc.weight[id] += contribution(t, id, wdf);
                });
                const double after = rest[j + 1] * (1 + 1e-9);
                std::erase_if(touched, [&](Xapian::docid id) {
                    if (acc.weight[id] + after >= threshold) return false;
                    forget(id);
                    return true;
                });
                continue;
            }
            eachPosting(term, [&](uint64_t number, Xapian::termcount wdf) {
                if (number >= slots) return;  // newer than the table: not in this revision
                const auto id = static_cast<Xapian::docid>(number);
                if (acc.matched[id] == 0) touched.push_back(id);
                acc.matched[id] |= bit;
                acc.weight[id] += contribution(t, id, wdf);
                best = std::max(best, acc.weight[id]);
            });
        }
    } catch (...) {
        for (auto id : touched) forget(id);
        throw;
    }
    auto better = [&](Xapian::docid a, Xapian::docid b) {
        return acc.weight[a] != acc.weight[b] ? acc.weight[a] > acc.weight[b] : a < b;
    };
    if (!touched.empty()) {
        auto top = std::min_element(touched.begin(), touched.end(), better);
        const double topWeight = acc.weight[*top];
        const auto topMatched = static_cast<double>(std::popcount(acc.matched[*top]));
        const auto total = static_cast<double>(terms.size());
        auto percentOf = [&](Xapian::docid id) {
            if (topWeight <= 0) return 100;
            return static_cast<int>(acc.weight[id] / topWeight * topMatched / total * 100 +
                                    100 * DBL_EPSILON);
        };
        if (matching) {
            if (percentCutoff > 0) {
                std::erase_if(touched, [&](Xapian::docid id) {
                    if (percentOf(id) >= percentCutoff) return false;
                    forget(id);
                    return true;
                });
            }
            *matching = static_cast<Xapian::doccount>(touched.size());
        }
        // The percentage falls with the weight, so a cut-off ends the sorted list.
        const size_t want = std::min(touched.size(), wanted);
        std::partial_sort(touched.begin(), touched.begin() + static_cast<long>(want), touched.end(),
                          better);
        for (size_t i = first; i < want && percentOf(touched[i]) >= percentCutoff; ++i)
            out.push_back({touched[i], acc.weight[touched[i]], percentOf(touched[i]),
                           acc.matched[touched[i]]});
    }
    for (auto id : touched) forget(id);
    touched.clear();
    return out;
}

uint32_t Store::documentCount() {
    // Of the shards that answer (for messages; requests report missing shards).
    uint32_t n = 0;
    std::vector<int> missing;
    try {
        withReaderPartial([&](Xapian::Database& db) { n = db.get_doccount(); }, missing);
    } catch (const std::exception&) {
    } catch (const Xapian::Error&) {
    }
    return n;
}

}  // namespace ixoserver
