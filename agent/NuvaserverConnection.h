// The account server connection: CNuvaserverConnection sends one "register" or
// "update" request to the account server named by the AppInternetVersion settings and
// keeps the reply; updateAccount() and registerAccount() run the two exchanges and
// apply their outcome to the settings; CUpgrade downloads an offered upgrade safely and
// runs it when the agent ends. Nothing here shows a window: messages go through the
// message-box seam, the registration dialog lives in agent/ui.
//
// Requests are plain HTTP over the support library's sockets (through the proxy of the
// Proxy settings when UseProxy is on). An "https://" account server, logo or upgrade
// address goes through libcurl with the same proxy (tunnelled), the server's
// certificate checked against the system's store and the host name; the file named by
// the environment variable SAPIOLUX_CA_FILE, when set, adds certificates to trust
// (a private authority). A refused certificate fails the exchange before anything is
// sent; nothing falls back to clear text.
//
// Every exchange is split so that its network part can run on a worker thread: the
// settings are read on the window's thread into a self-contained job (Prepare, the
// ...Job functions), the job runs anywhere, and its outcome is applied on the window's
// thread again (Finish, finishUpdate, Complete). The one-call forms (Send,
// updateAccount, Download) do all three in turn.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

// The outcome of one GET: transport success, status and body, and why it failed.
struct HttpFetch {
    bool sent = false;
    int32_t status = 0;
    std::string body;
    std::string error;  // empty when sent
};

// The environment variable naming a PEM file of certificates that https exchanges
// trust besides the system's store.
inline constexpr const char* kCaFileVariable = "SAPIOLUX_CA_FILE";

// What a fetch takes from the settings and the environment, copied on the window's
// thread so that the fetch itself can run on any thread.
struct FetchSettings {
    bool useProxy = false;
    std::string proxyHost;  // a host, or one of the special proxy names
    int32_t proxyPort = 0;
    std::string proxyUser, proxyPassword;
    std::string caFile;  // from SAPIOLUX_CA_FILE; empty: the system's store alone
};
FetchSettings fetchSettingsFrom(const CAppParameters& params);

// One GET of target with the proxy of the settings. maxBytes bounds the response.
HttpFetch fetchHttp(const FetchSettings& settings, const HttpTarget& target, int32_t timeoutSeconds,
                    int32_t maxBytes = 64 * 1024 * 1024);
// The same over TLS (libcurl): certificate and host name verified, the proxy used as a
// tunnel. A refused certificate gives sent false and an error naming the reason.
HttpFetch fetchSecure(const FetchSettings& settings, const HttpTarget& target,
                      int32_t timeoutSeconds, int32_t maxBytes = 64 * 1024 * 1024);
// fetchHttp or fetchSecure, by the target's scheme.
HttpFetch fetchTarget(const FetchSettings& settings, const HttpTarget& target,
                      int32_t timeoutSeconds, int32_t maxBytes = 64 * 1024 * 1024);

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
    // The method and the account it names at once; an update names the stored account.
    void SetRequest(const std::string& method, const std::string& username,
                    const std::string& password, const std::string& email) {
        m_method = method, m_username = username, m_password = password, m_email = email;
    }
    void SetUpdateRequest();

    // "/Path/ExecutableName?METHOD=..&username=..&password=..&emailaddress=..
    // &clientversion=1.1.14" with every value percent-encoded; an empty Path leaves its
    // segment out.
    std::string BuildRequestPath() const;
    // One exchange with the account server. True when a reply with status 200 came
    // back; its body is then the reply.
    bool Send() { return Prepare() && Finish(Job()()); }
    // Send in its three steps. Prepare reads the settings (false for an unusable host);
    // Job is the exchange, self-contained for any thread; Finish keeps its outcome and
    // returns what Send returns.
    bool Prepare();
    std::function<HttpFetch()> Job() const;
    bool Finish(HttpFetch got);
    const std::string& GetReply() const { return m_reply; }
    int32_t GetStatus() const { return m_status; }
    // Why the last exchange failed; empty after a reply.
    const std::string& GetError() const { return m_error; }

  private:
    const CAppParameters& m_params;
    std::string m_method, m_username, m_password, m_email;
    std::string m_reply, m_error;
    int32_t m_status = 0;
    HttpTarget m_target;
    FetchSettings m_fetch;
};

// The message for an "update" reply that begins with "Nuvaserver Error"; empty for
// any other reply.
std::string updateErrorMessage(const std::string& reply, const std::string& brandName);

// The "update" exchange: sends, shows the server's error or "Could not retrieve
// configuration settings" through messages (may be null), merges the reply into the
// Extended file, stores the reply keys in the settings and fetches the logos. True
// when the configuration was applied.
bool updateAccount(CAppParameters& params, platform::MessageBoxes* messages);
// updateAccount after its exchange (connection has been Finished; sent is what Finish
// returned), up to the logos: the error message or the reply applied. True when the
// configuration was applied.
bool finishUpdate(CAppParameters& params, platform::MessageBoxes* messages,
                  const CNuvaserverConnection& connection, bool sent);

// Applies a parsed "update" reply (configuration text) to the settings and the
// Extended file; false when it cannot be parsed, holds no "Settings" section or the
// Extended file cannot take it.
bool applyUpdateReply(CAppParameters& params, const std::string& reply);

// Fetches the logo bitmaps named by the logo addresses into the files named by the
// logo paths (an address left empty fetches nothing). A logo is kept only for status
// 200 and a body that is a bitmap ("BM"), and replaces the old file in one step.
// Returns how many were stored.
int fetchLogos(CAppParameters& params);
// The same as a self-contained job for any thread, made from the settings now.
std::function<int()> logoJob(const CAppParameters& params);

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
// registerAccount after its exchange: the outcome classified and stored.
RegistrationResult finishRegistration(CAppParameters& params,
                                      const CNuvaserverConnection& connection, bool sent,
                                      const std::string& username, const std::string& password,
                                      const std::string& email);

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
    Result Download() { return Complete(DownloadJob()()); }
    // Download in two steps: the job fetches and stores the file (nothing else, on any
    // thread; Refused at once for a refused address); Complete records the stored file
    // and clears the offer when the job is Done.
    std::function<Result()> DownloadJob();
    Result Complete(Result result);
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
    std::string m_pending;  // the name DownloadJob stores under
};

// The name a download is stored under: the last segment of the address's path,
// percent-decoded. Empty when there is none or it could leave the folder ('/', '\\',
// a leading '.', control characters).
std::string upgradeFileName(const std::string& address);

}  // namespace agent
