#include "mailfetch/simplemapiread.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mailfetch/fetchfiles.h"
#include "platform/dynload.h"
#include "support/dateutil.h"
#include "support/diaglog.h"

namespace mailfetch {

namespace {

// The interface library and its entry points: loaded once for the process and shared
// by the sessions, unloaded when the last session closes.
struct Interface {
    std::mutex lock;
    int users = 0;
    platform::DynamicLibrary library;
    MapiLogonFn logon = nullptr;
    MapiLogoffFn logoff = nullptr;
    MapiFindNextFn findNext = nullptr;
    MapiReadMailFn readMail = nullptr;
    MapiFreeBufferFn freeBuffer = nullptr;
};

Interface& api() {
    static Interface instance;
    return instance;
}

bool acquireInterface() {
    Interface& a = api();
    std::lock_guard<std::mutex> guard(a.lock);
    if (!a.library.loaded()) {
        if (!a.library.load("MAPI32.dll")) {
            diagLog("Failed to load MAPI32.dll.\n");
            return false;
        }
        a.logon = reinterpret_cast<MapiLogonFn>(a.library.symbol("MAPILogon"));
        a.logoff = reinterpret_cast<MapiLogoffFn>(a.library.symbol("MAPILogoff"));
        a.findNext = reinterpret_cast<MapiFindNextFn>(a.library.symbol("MAPIFindNext"));
        a.readMail = reinterpret_cast<MapiReadMailFn>(a.library.symbol("MAPIReadMail"));
        a.freeBuffer = reinterpret_cast<MapiFreeBufferFn>(a.library.symbol("MAPIFreeBuffer"));
        if (!a.logon || !a.logoff || !a.findNext || !a.readMail || !a.freeBuffer) {
            diagLog("Failed to find one or more MAPI functions\n");
            diagLog(
                "MAPILogon %p, MAPILogoff %p, MAPIFindNext %p, MAPIReadMail %p, "
                "MAPIFreeBuffer %p\n",
                reinterpret_cast<void*>(a.logon), reinterpret_cast<void*>(a.logoff),
                reinterpret_cast<void*>(a.findNext), reinterpret_cast<void*>(a.readMail),
                reinterpret_cast<void*>(a.freeBuffer));
            // The missing ones stay null; logon checks its own entry point.
        }
    }
    ++a.users;
    return true;
}

void releaseInterface() {
    Interface& a = api();
    std::lock_guard<std::mutex> guard(a.lock);
    if (a.users > 0 && --a.users == 0) {
        a.library.unload();
        a.logon = nullptr;
        a.logoff = nullptr;
        a.findNext = nullptr;
        a.readMail = nullptr;
        a.freeBuffer = nullptr;
    }
}

const char* logonErrorText(MapiUlong code) {
    switch (code) {
        case smapi::kUserAbort:
            return "User aborted.\n";
        case smapi::kFailure:
            return "General failure.\n";
        case smapi::kLoginFailure:
            return "Login failure.\n";
        case smapi::kInsufficientMemory:
            return "Not enough memory.\n";
        case smapi::kTooManySessions:
            return "Too many sessions.\n";
        default:
            return nullptr;
    }
}

std::string text(const char* p) {
    return p ? p : "";
}

std::string readFile(const std::filesystem::path& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void replaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

// The message's texts come from outside and are plain text: escaped, they show as
// written in the page and cannot add markup or scripts to it (nor placeholders).
std::string htmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

SmapiSession::~SmapiSession() {
    close();
}

bool SmapiSession::open() {
    std::lock_guard<std::mutex> guard(lock_);
    if (loggedOn_) return true;
    if (!holdsLibrary_) {
        if (!acquireInterface()) return false;
        holdsLibrary_ = true;
    }
    Interface& a = api();
    if (!a.logon) {
        diagLog("MAPILogon not found\n");
        return false;
    }
    // The password is never written to the log.
    diagLog("MAPILogon: Profile name = \"%s\", Password = \"%s\"\n", profile_.c_str(),
            password_.empty() ? "" : "********");
    MapiUlong flags = (logonUi_ ? smapi::kLogonUi : 0) | (newSession_ ? smapi::kNewSession : 0);
    std::string profile = profile_, password = password_;
    MapiSession session = 0;
    MapiUlong rc = a.logon(0, profile.empty() ? nullptr : profile.data(),
                           password.empty() ? nullptr : password.data(), flags, 0, &session);
    if (rc != smapi::kSuccess) {
        const char* why = logonErrorText(rc);
        if (why)
            diagLog("Could not create MAPI session. Error: %s", why);
        else
            diagLog("Could not create MAPI session. Error: Unknown error code = %lu\n",
                    static_cast<unsigned long>(rc));
        return false;
    }
    diagLog("Created simple MAPI session OK.\n");
    session_ = session;
    loggedOn_ = true;
    currentId_.clear();
    return true;
}

bool SmapiSession::next(SmapiMessage& message) {
    message = SmapiMessage();
    if (!open()) return false;
    std::lock_guard<std::mutex> guard(lock_);
    Interface& a = api();
    if (!a.findNext) return false;
    char id[smapi::kMessageIdSize] = {};
    std::string seed = currentId_;
    MapiUlong rc = a.findNext(session_, 0, nullptr, seed.empty() ? nullptr : seed.data(),
                              smapi::kLongMessageIds, 0, id);
    id[sizeof id - 1] = 0;  // whatever the library wrote, the id ends inside the buffer
    if (rc != smapi::kSuccess) {
        switch (rc) {
            case smapi::kFailure:
                diagLog("Could not find any more messages. General failure.\n");
                break;
            case smapi::kInsufficientMemory:
                diagLog("Could not find any more messages. Not enough memory.\n");
                break;
            case smapi::kInvalidMessage:
                diagLog("Could not find any more messages. Invalid message.\n");
                break;
            case smapi::kInvalidSession:
                diagLog("Could not find any more messages. Invalid session.\n");
                break;
            case smapi::kNoMessages:
                diagLog("Could not find any more messages. \n");
                break;
            default:
                diagLog("Could not find any more messages. Unknown error code %lu\n",
                        static_cast<unsigned long>(rc));
        }
        return false;
    }
    diagLog("Found message with ID of \"%s\"\n", id);
    currentId_ = id;
    readLocked(currentId_, message);
    return true;
}

bool SmapiSession::read(const std::string& id, SmapiMessage& message) {
    message = SmapiMessage();
    if (!open()) return false;
    std::lock_guard<std::mutex> guard(lock_);
    return readLocked(id, message);
}

bool SmapiSession::readLocked(const std::string& id, SmapiMessage& message) {
    message = SmapiMessage();
    message.id = id;
    Interface& a = api();
    if (!a.readMail || !a.freeBuffer) return false;
    std::string idCopy = id;
    MapiMessage* m = nullptr;
    MapiUlong rc = a.readMail(session_, 0, idCopy.data(), smapi::kReadFlags, 0, &m);
    if (rc != smapi::kSuccess || !m) return false;
    bool ok = m->nRecipCount < 2000 && m->nFileCount < 2000 && (m->nRecipCount == 0 || m->lpRecips);
    if (ok) {
        message.subject = text(m->lpszSubject);
        message.body = text(m->lpszNoteText);
        if (m->lpOriginator) {
            message.originatorName = text(m->lpOriginator->lpszName);
            message.originatorAddress = text(m->lpOriginator->lpszAddress);
        }
        for (MapiUlong i = 0; i < m->nRecipCount; ++i) {
            const MapiRecipDesc& r = m->lpRecips[i];
            if (!r.lpszName || !r.lpszAddress) continue;
            message.recipientNames.push_back(r.lpszName);
            message.recipientAddresses.push_back(r.lpszAddress);
        }
        message.dateText = text(m->lpszDateReceived);
        int64_t seconds = 0;
        if (!message.dateText.empty() &&
            dateParse(nullptr, message.dateText.c_str(), "YYYY/MM/DD HH:NN", &seconds))
            message.time = seconds;
        message.messageType = text(m->lpszMessageType);
        message.conversationId = text(m->lpszConversationID);
        message.valid = true;
    }
    a.freeBuffer(m);
    return ok;
}

void SmapiSession::close() {
    std::lock_guard<std::mutex> guard(lock_);
    if (loggedOn_) {
        diagLog("Logging off MAPI\n");
        if (api().logoff) api().logoff(session_, 0, 0, 0);
        loggedOn_ = false;
        session_ = 0;
    }
    if (holdsLibrary_) {
        releaseInterface();
        holdsLibrary_ = false;
    }
    currentId_.clear();
}

bool SmapiSession::renderHtml(const std::string& id, const std::string& templateDir,
                              const std::string& outFile) {
    SmapiMessage m;
    if (!read(id, m)) return false;
    bool okPage = false, okRecip = false, okAttachment = false;
    std::filesystem::path dir(templateDir);
    std::string page = readFile(dir / "outlook.template", okPage);
    std::string recipient = readFile(dir / "tooutlook.template", okRecip);
    readFile(dir / "attoutlook.template", okAttachment);  // attachments are not read
    if (!okPage || !okRecip || !okAttachment) {
        diagLog("Error: Could not load the message templates from \"%s\"\n", templateDir.c_str());
        return false;
    }
    std::string recipients;
    for (size_t i = 0; i < m.recipientNames.size(); ++i) {
        std::string one = recipient;
        replaceAll(one, "<ORVIQSMAPIRecipName>", htmlText(m.recipientNames[i]));
        replaceAll(one, "<ORVIQSMAPIRecipAddress>", htmlText(m.recipientAddresses[i]));
        recipients += one;
    }
    replaceAll(page, "<ORVIQSMAPISubject>", htmlText(m.subject));
    replaceAll(page, "<ORVIQSMAPIBody>", htmlText(m.body));
    replaceAll(page, "<ORVIQSMAPIMessageType>", htmlText(m.messageType));
    replaceAll(page, "<ORVIQSMAPIDateRecieved>", htmlText(m.dateText));
    replaceAll(page, "<ORVIQSMAPIConversationId>", htmlText(m.conversationId));
    replaceAll(page, "<ORVIQSMAPIOriginatorName>", htmlText(m.originatorName));
    replaceAll(page, "<ORVIQSMAPIOriginatorAddress>", htmlText(m.originatorAddress));
    replaceAll(page, "<ORVIQSMAPIFirstRecipAddress>",
               m.recipientAddresses.empty() ? "" : htmlText(m.recipientAddresses[0]));
    replaceAll(page, "<ORVIQSMAPIFirstRecip>",
               m.recipientNames.empty() ? "" : htmlText(m.recipientNames[0]));
    replaceAll(page, "<ORVIQSMAPIRecips>", recipients);
    FILE* f = std::fopen(outFile.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(page.data(), 1, page.size(), f) == page.size();
    return std::fclose(f) == 0 && ok;
}

void SimpleMapiFetcher::fetch(int32_t maxCount) {
    if (!requireFetchDirectory()) return;
    error_.clear();
    finished_ = false;
    written_ = 0;
    int32_t n = 0;
    if (!session_.open()) {
        finished_ = true;
        return;
    }
    while (!cancelled() && n < maxCount) {
        SmapiMessage m;
        if (!session_.next(m)) {
            session_.close();  // the next fetch starts a new pass
            finished_ = true;
            break;
        }
        if (!m.valid) continue;
        // An id that would break the reference's line could never be opened again.
        if (m.id.find_first_of("\r\n") != std::string::npos) continue;
        std::string reference = "email://smapi&" + m.id;
        const bool known = status_.count(reference) != 0;
        if (!isNew(reference, m.time)) continue;
        diagLog("Doing message.\n");
        bool blank = true;
        for (char c : m.body)
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') blank = false;
        if (blank) continue;
        std::string body = m.body;
        for (char& c : body)
            if (c == '#') c = ' ';
        // The fetch directory may be given with or without its closing separator.
        std::string dir = fetchDir_;
        if (!dir.empty() && dir.back() != '/') dir += '/';
        // The first name that can be created: nothing already there is replaced.
        std::string name;
        FILE* f = nullptr;
        for (int tries = 0; !f && tries < 100000; ++tries) {
            name = dir + "email" + std::to_string(fileNumber_++) + ".ndx";
            f = createExclusiveFile(name);
            if (!f && errno != EEXIST) break;
        }
        // The subject and date go on tag lines of their own: a line end in them would
        // start a line that the IDX reader takes for a tag.
        const std::string subject = singleLine(m.subject);
        const std::string date = singleLine(m.dateText);
        bool ok = f != nullptr;
        if (f) {
            ok = std::fprintf(f, "%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n#IXOENDDOC\n",
                              ("#IXOTITLE " + subject).c_str(),
                              ("#IXOREFERENCE " + reference).c_str(),
                              ("#IXOCONTENT\n" + body).c_str(), "#IXOFIELD DOCTYPE=\"Email\"",
                              ("#IXODATE " + date).c_str(),
                              ("#IXOFIELD CreationDate=\"" + date + "\"").c_str(),
                              ("#IXOFIELD Subject=\"" + subject + "\"").c_str(),
                              "#IXOFIELD Folder=\"Email\"") > 0;
            ok = std::fclose(f) == 0 && ok;
        }
        if (ok) {
            ++n;
        } else {
            // A message that could not be written is not remembered, so the next pass
            // tries it again.
            if (f) std::remove(name.c_str());
            if (!known) status_.erase(reference);
        }
    }
    clearCancel();
    written_ = n;
    saveStatus();
}

bool SimpleMapiFetcher::openMessage(const std::string& reference) {
    const std::string prefix = "email://";
    if (reference.compare(0, prefix.size(), prefix) != 0) return false;
    size_t amp = reference.find('&', prefix.size());
    if (amp == std::string::npos) return false;
    std::string tag = reference.substr(prefix.size(), amp - prefix.size());
    for (char& c : tag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tag != "smapi") return false;
    std::string id = reference.substr(amp + 1);
    const std::string file = temporaryFile("email", ".html");
    if (file.empty()) return false;
    if (!session_.renderHtml(id, templateDir_, file)) {
        std::remove(file.c_str());
        return false;
    }
    return opener_ && opener_(file);
}

void SimpleMapiFetcher::showNotice() {
    if (notifier_)
        notifier_(kNotice);
    else
        std::fprintf(stderr, "%s\n", kNotice);
}

void SimpleMapiFetcher::reset() {
    session_.close();
    EmailClient::reset();
}

}  // namespace mailfetch
