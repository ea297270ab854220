// The account server connection: CNuvaserverConnection sends one "register" or
// "update" request to the account server named by the AppInternetVersion settings and
// keeps the reply; updateAccount() and registerAccount() run the two exchanges and
// apply their outcome to the settings; CUpgrade downloads an offered upgrade safely and
// runs it when the agent ends. Nothing here shows a window: messages go through the
// message-box seam, the registration dialog lives in agent/ui.
//
// Requests are plain HTTP over the support library's sockets (through the proxy of the
// Proxy settings when UseProxy is on). An "https://" account server or upgrade address
// goes through fetchSecure(), the one place where the libcurl transport plugs in; until
// it does, such an exchange fails as a transport failure.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
class MessageBoxes;
}

namespace agent {

class CAppParameters;

// The version the agent reports to the account server.
inline constexpr const char* kClientVersion = "1.1.14";

// Where a request goes: scheme ("http" or "https"), host, port and path with its
// leading '/'.
struct HttpTarget {
    std::string scheme = "http";
    std::string host;
    int32_t port = 80;
    std::string path = "/";
};

// The outcome of one GET: transport success, status and body.
struct HttpFetch {
    bool sent = false;
    int32_t status = 0;
    std::string body;
};

// One GET of target with the proxy of the settings. maxBytes bounds the response.
HttpFetch fetchHttp(const CAppParameters& params, const HttpTarget& target, int32_t timeoutSeconds,
                    int32_t maxBytes = 64 * 1024 * 1024);
// The "https" transport; fails until the libcurl path is plugged in here.
HttpFetch fetchSecure(const CAppParameters& params, const HttpTarget& target,
                      int32_t timeoutSeconds, int32_t maxBytes);

// The account server's host setting: "host", "host:port", "http://host[:port][/]" or
// "https://host[:port][/]". False for an empty host, a bad port or blanks and control
// characters in the host.
bool parseServerHost(const std::string& setting, HttpTarget& target);
// An absolute "http://" or "https://" address split into a target.
bool parseAddress(const std::string& url, HttpTarget& target);

class CNuvaserverConnection {
  public:
    explicit CNuvaserverConnection(const CAppParameters& params) : m_params(params) {}

    void SetMethod(const std::string& method) { m_method = method; }
    void SetUsername(const std::string& name) { m_username = name; }
    void SetPassword(const std::string& password) { m_password = password; }
    void SetEmailAddress(const std::string& email) { m_email = email; }

    // "/Path/ExecutableName?METHOD=..&username=..&password=..&emailaddress=..
    // &clientversion=1.1.14" with every value percent-encoded; an empty Path leaves its
    // segment out.
    std::string BuildRequestPath() const;
    // One exchange with the account server. True when a reply with status 200 came
    // back; its body is then the reply.
    bool Send();
    const std::string& GetReply() const { return m_reply; }
    int32_t GetStatus() const { return m_status; }

  private:
    const CAppParameters& m_params;
    std::string m_method, m_username, m_password, m_email;
    std::string m_reply;
    int32_t m_status = 0;
};

// The message for an "update" reply that begins with "Nuvaserver Error"; empty for
// any other reply.
std::string updateErrorMessage(const std::string& reply, const std::string& brandName);

// The "update" exchange: sends, shows the server's error or "Could not retrieve
// configuration settings" through messages (may be null), merges the reply into the
// Extended file, stores the reply keys in the settings and fetches the logos. True
// when the configuration was applied.
bool updateAccount(CAppParameters& params, platform::MessageBoxes* messages);

// Applies a parsed "update" reply (configuration text) to the settings and the
// Extended file; false when it cannot be parsed, holds no "Settings" section or the
// Extended file cannot take it.
bool applyUpdateReply(CAppParameters& params, const std::string& reply);

// Fetches the logo bitmaps named by the logo addresses into the files named by the
// logo paths (an address left empty fetches nothing). A logo is kept only for status
// 200 and a body that is a bitmap ("BM"), and replaces the old file in one step.
// Returns how many were stored.
int fetchLogos(CAppParameters& params);

// The registration dialog's rules. field names the entry to clear and focus.
enum class RegistrationField { None, Username, Password, Password2, Email };
struct RegistrationCheck {
    RegistrationField field = RegistrationField::None;
    std::string message;  // empty when every rule holds
};
RegistrationCheck checkRegistration(const std::string& username, const std::string& password,
                                    const std::string& password2, const std::string& email);

// What became of a "register" exchange.
enum class RegistrationOutcome {
    Success,     // stored, Registered = 1: close the dialog
    UserExists,  // show the message, clear and focus the user name, keep the dialog
    EndAgent,    // show the message; the values are stored anyway and the agent ends
};
struct RegistrationResult {
    RegistrationOutcome outcome = RegistrationOutcome::EndAgent;
    std::string message;  // for the user; empty on success
};
// The reply's meaning (case ignored, first match wins); sent is false when the
// exchange failed.
RegistrationResult classifyRegistration(bool sent, const std::string& reply,
                                        const std::string& username, const std::string& brandName);
// Sends "register" with the three values and stores them as the outcome says.
RegistrationResult registerAccount(CAppParameters& params, const std::string& username,
                                   const std::string& password, const std::string& email);

// The server selection at start-up: a name that is not empty, holds a full stop or the
// word "localserver" and differs from the account server host becomes that host, and
// the account counts as not registered there. True when the host was changed.
bool applyServerSelection(CAppParameters& params, const std::string& name);

// The upgrade named by the Extended file's UpgradeURL.
class CUpgrade {
  public:
    // folder: where the program is stored (the agent's data folder).
    CUpgrade(CAppParameters& params, std::string folder);

    // The offer's address; empty when there is none.
    std::string Address() const;
    // The user said no: the offer is cleared from the Extended file.
    void Decline();

    enum class Result { Done, Failed, Refused };
    // Downloads the offered program. It is kept only for status 200 with a body,
    // written to a private temporary file in the folder and renamed to its name there
    // with mode 0700; then UpgradeURL is cleared. A failed download leaves nothing
    // behind, and an address whose name would leave the folder is Refused.
    Result Download();
    bool Downloaded() const { return !m_file.empty(); }
    // The stored program's full path; empty until a download succeeded in this run.
    const std::string& File() const { return m_file; }
    // Starts the downloaded program (its folder as working folder, in a session of its
    // own, no shell). False when nothing was downloaded or it could not be started.
    bool RunAtExit();

  private:
    CAppParameters& m_params;
    std::string m_folder;
    std::string m_file;
};

// The name a download is stored under: the last segment of the address's path,
// percent-decoded. Empty when there is none or it could leave the folder ('/', '\\',
// a leading '.', control characters).
std::string upgradeFileName(const std::string& address);

}  // namespace agent
