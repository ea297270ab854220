// The Simple MAPI reader: loads "MAPI32.dll" at run time through the platform's
// dynamic loader, logs on, walks the inbox message by message and reads each message
// into a record; renders a message into an HTML page from three templates. Every call
// into the interface is made under the session's lock. Messages go to the diagnostic
// log.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "mailfetch/emailclient.h"
#include "mailfetch/smapi_abi.h"

namespace mailfetch {

struct SmapiMessage {
    std::string id;
    std::string subject;
    std::string body;
    std::string originatorName, originatorAddress;
    std::vector<std::string> recipientNames, recipientAddresses;  // parallel lists
    std::string dateText;  // "YYYY/MM/DD HH:NN" as the interface gives it
    int64_t time = 0;      // seconds since 1970; 0 without a date
    std::string messageType, conversationId;
    bool valid = false;
};

class SmapiSession {
  public:
    SmapiSession() = default;
    ~SmapiSession();
    SmapiSession(const SmapiSession&) = delete;
    SmapiSession& operator=(const SmapiSession&) = delete;

    void setProfile(const std::string& name, const std::string& password) {
        profile_ = name;
        password_ = password;
    }
    void setLogonFlags(bool showLogonUi, bool newSession) {
        logonUi_ = showLogonUi;
        newSession_ = newSession;
    }

    // Loads the interface when needed and logs on; true when a session is open.
    bool open();
    bool isOpen() const { return loggedOn_; }
    // The next inbox message after the current one; false when there is none.
    bool next(SmapiMessage& message);
    // Reads one message by id; false (and an invalid record) on failure.
    bool read(const std::string& id, SmapiMessage& message);
    // Logs off; the interface is unloaded when the last session closes.
    void close();
    // Reads message id and writes it into outFile from the templates of templateDir.
    bool renderHtml(const std::string& id, const std::string& templateDir,
                    const std::string& outFile);

  private:
    bool readLocked(const std::string& id, SmapiMessage& message);

    std::mutex lock_;
    std::string profile_, password_;
    bool logonUi_ = false, newSession_ = true;
    bool loggedOn_ = false;
    bool holdsLibrary_ = false;
    MapiSession session_ = 0;
    std::string currentId_;
};

// The "smapi" fetcher: the inbox through Simple MAPI, written as ".ndx" IDX files.
class SimpleMapiFetcher : public EmailClient {
  public:
    void fetch(int32_t maxCount) override;
    bool openMessage(const std::string& reference) override;
    void reset() override;
    void setTemplateDirectory(const std::string& directory) { templateDir_ = directory; }
    // Shows kNotice through the notifier (by default on the standard error stream; a
    // program with a window sets one that shows a message box).
    void showNotice() override;
    using Notifier = std::function<void(const std::string& text)>;
    void setNotifier(Notifier notifier) { notifier_ = std::move(notifier); }
    SmapiSession& session() { return session_; }

    static constexpr const char* kNotice =
        "Simple MAPI will be used to retrieve messages from your email client.\nOnly messages "
        "from your inbox will be processed.\nNote: Some systems experience problems when using "
        "simple mapi.";

  private:
    SmapiSession session_;
    std::string templateDir_;
    Notifier notifier_;
    long fileNumber_ = 0;
};

}  // namespace mailfetch
