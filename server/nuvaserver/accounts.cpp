#include "server/nuvaserver/accounts.h"

#include <crypt.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <memory>

namespace nuvaserver {

namespace {

struct StatementCloser {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

Statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return nullptr;
    return Statement(raw);
}

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Compares without leaving the position of the first difference in the time taken.
bool sameBytes(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

std::string hashPassword(const std::string& password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // A null random source makes the library take its bytes from the system.
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting)) return {};
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_r(password.c_str(), setting, data.get());
    if (!hash || hash[0] != '$') return {};
    return hash;
}

bool verifyPassword(const std::string& password, const std::string& hash) {
    if (hash.empty() || hash[0] != '$') return false;
    auto data = std::make_unique<crypt_data>();
    const char* again = crypt_r(password.c_str(), hash.c_str(), data.get());
    return again && again[0] == '$' && sameBytes(again, hash);
}

AccountStore::~AccountStore() {
    close();
}

void AccountStore::close() {
    std::lock_guard lock(mutex_);
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool AccountStore::open(const std::string& path, std::string& error) {
    std::lock_guard lock(mutex_);
    // Created private before SQLite opens it, so the hashes are never readable to others.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot open " + path;
        return false;
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = "cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "no memory");
        if (db_) sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    const char* schema =
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE IF NOT EXISTS accounts ("
        " name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
        " hash TEXT NOT NULL,"
        " email TEXT NOT NULL,"
        " created INTEGER NOT NULL);";
    char* message = nullptr;
    if (sqlite3_exec(db_, schema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = "cannot set up " + path + ": " + (message ? message : "unknown error");
        sqlite3_free(message);
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    // The write-ahead log and its index hold account data too.
    for (const char* suffix : {"-wal", "-shm"}) ::chmod((path + suffix).c_str(), 0600);
    return true;
}

CreateResult AccountStore::create(const std::string& name, const std::string& password,
                                  const std::string& email) {
    {
        std::lock_guard lock(mutex_);
        if (!db_) return CreateResult::Failed;
    }
    const std::string hash = hashPassword(password);
    if (hash.empty()) return CreateResult::Failed;
    std::lock_guard lock(mutex_);
    if (!db_) return CreateResult::Failed;
    Statement s =
        prepare(db_, "INSERT INTO accounts (name, hash, email, created) VALUES (?1, ?2, ?3, ?4)");
    if (!s) return CreateResult::Failed;
    bindText(s.get(), 1, name);
    bindText(s.get(), 2, hash);
    bindText(s.get(), 3, email);
    sqlite3_bind_int64(s.get(), 4, static_cast<sqlite3_int64>(std::time(nullptr)));
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return CreateResult::Created;
    if (rc == SQLITE_CONSTRAINT || sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE)
        return CreateResult::Exists;
    return CreateResult::Failed;
}

CheckResult AccountStore::check(const std::string& name, const std::string& password) {
    std::string hash;
    {
        std::lock_guard lock(mutex_);
        if (!db_) return CheckResult::Failed;
        Statement s = prepare(db_, "SELECT hash FROM accounts WHERE name = ?1");
        if (!s) return CheckResult::Failed;
        bindText(s.get(), 1, name);
        const int rc = sqlite3_step(s.get());
        if (rc == SQLITE_DONE) return CheckResult::NoSuchUser;
        if (rc != SQLITE_ROW) return CheckResult::Failed;
        const unsigned char* text = sqlite3_column_text(s.get(), 0);
        hash = text ? reinterpret_cast<const char*>(text) : "";
    }
    return verifyPassword(password, hash) ? CheckResult::Ok : CheckResult::WrongPassword;
}

}  // namespace nuvaserver
