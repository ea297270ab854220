// The agent's mailslot: a Unix datagram socket in a private folder of the user's runtime
// folder ("<runtime>/halvoran/sapiolux"), to which the text reader writes the text of the
// window it read, one message per datagram. The agent owns and reads it; reads never
// wait. Messages hold single-byte (Windows-1252) text of at most 65,535 bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr size_t kMailslotMaxMessage = 65535;

// "<runtime>/halvoran/sapiolux", the folder created 0700 when missing; empty when there
// is no private runtime folder.
std::string mailslotPath();

class Mailslot {
  public:
    Mailslot() = default;
    ~Mailslot();
    Mailslot(const Mailslot&) = delete;
    Mailslot& operator=(const Mailslot&) = delete;

    // Creates the socket at path (an older socket left there is replaced). False and
    // error() when it cannot be made.
    bool create(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

    // The next message, without waiting: its text up to the first zero byte. Nothing when
    // no message waits. An empty message is an empty text.
    std::optional<std::string> readNext();

  private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

// Window text as the desktop gives it (UTF-8) made a mailslot message: Windows-1252,
// zero bytes as blanks (a zero ends a message's text), at most 65,535 bytes.
std::string mailslotText(std::string_view utf8);

// Sends text as one message to the mailslot at path: cut to 65,535 bytes, without
// waiting. False when nobody owns the mailslot or it cannot take the message now.
bool mailslotWrite(const std::string& path, const std::string& text);

}  // namespace platform
