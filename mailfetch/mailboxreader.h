// One interface over the mailbox readers of the import library, so that the store
// fetcher walks every kind of store the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace mailfetch {

class MailboxReader {
  public:
    virtual ~MailboxReader() = default;
    // Opens the mailbox and makes its first readable message current.
    virtual bool open(const std::string& path) = 0;
    // Moves to the next readable message; false at the end.
    virtual bool next() = 0;
    virtual bool hasCurrent() const = 0;
    virtual int64_t time() const = 0;
    virtual std::string reference() const = 0;
    // Copies the current message to file; false when it could not be (or was skipped).
    virtual bool copy(const std::string& file, int32_t maxLength) = 0;
};

// The reader of a client tag, or null.
std::unique_ptr<MailboxReader> createReader(const std::string& tag);
// Finds the message of reference and copies it (for "eudora" only what follows its
// header block, so that the file opens as a page). True when copied.
bool findAndCopy(const std::string& tag, const std::string& reference, const std::string& file);

}  // namespace mailfetch
