// The accounts of the account server, in one SQLite file: name (unique without regard
// to case), the password as a salted yescrypt hash (never in clear), the e-mail address
// and the time of creation. Safe to use from several threads: one connection, one lock
// around each statement; the slow hashing runs outside the lock.
#pragma once

#include <mutex>
#include <string>

struct sqlite3;

namespace nuvaserver {

enum class CreateResult { Created, Exists, Failed };
enum class CheckResult { Ok, NoSuchUser, WrongPassword, Failed };

class AccountStore {
  public:
    AccountStore() = default;
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Opens (creating when missing, private to its owner) the SQLite file at path.
    bool open(const std::string& path, std::string& error);
    void close();

    CreateResult create(const std::string& name, const std::string& password,
                        const std::string& email);
    CheckResult check(const std::string& name, const std::string& password);

  private:
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

// A new salted yescrypt hash of password; empty when none could be made.
std::string hashPassword(const std::string& password);
// Whether password matches a hash made by hashPassword.
bool verifyPassword(const std::string& password, const std::string& hash);

}  // namespace nuvaserver
