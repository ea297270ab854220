#include "agent/NuvaserverConnection.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "agent/AppParameters.h"
#include "agent/SuggestionRequest.h"
#include "platform/messagebox.h"
#include "support/diaglog.h"
#include "support/envcfgutil.h"
#include "support/httpinet.h"
#include "support/httprequest.h"

extern char** environ;

namespace agent {

namespace {

constexpr int32_t kAccountTimeoutSeconds = 30;
constexpr int32_t kLogoMaxBytes = 8 * 1024 * 1024;
constexpr int32_t kUpgradeTimeoutSeconds = 120;
constexpr int32_t kUpgradeMaxBytes = 256 * 1024 * 1024;

struct ConfigDeleter {
    void operator()(ConfigFile* cfg) const { envCfgClose(&cfg); }
};
using ConfigPtr = std::unique_ptr<ConfigFile, ConfigDeleter>;

struct RequestDeleter {
    void operator()(HttpRequest* r) const { httpRequestDestroy(&r); }
};

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

std::string lowerAscii(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool equalsCaseBlind(const std::string& a, const std::string& b) {
    return lowerAscii(a) == lowerAscii(b);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string format1(const char* pattern, const std::string& value) {
    std::string out = pattern;
    const size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, value);
    return out;
}

std::string caption(const CAppParameters& params) {
    return params.GetBrandName() + " " + params.GetProductName();
}

// The text of key in section "Settings" of cfg; fallback when absent.
std::string replyText(ConfigFile* cfg, const char* key, const std::string& fallback = {}) {
    char* value = nullptr;
    const int found = envCfgGetText(cfg, "Settings", key, &value, nullptr);
    std::string out = found == 1 && value ? value : fallback;
    if (value) memFree(value);
    return out;
}

// Keys base0, base1, ... of the reply until one is missing, joined with ",".
std::string numberedRun(ConfigFile* cfg, const char* base) {
    int32_t count = 0;
    char** texts = nullptr;
    envCfgGetNumberedRun(cfg, "Settings", base, &count, &texts, "");
    std::string joined;
    for (int32_t i = 0; i < count; ++i) {
        if (i) joined += ",";
        if (texts[i]) joined += texts[i];
    }
    envCfgFreeTexts(&texts, count);
    return joined;
}

// Writes bytes to a new private temporary file in folder and renames it to name there,
// with mode. False (and nothing left behind) on any failure.
bool storeFile(const std::string& folder, const std::string& name, const std::string& bytes,
               mode_t mode) {
    std::string pattern = folder + "/.download-XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    size_t off = 0;
    bool ok = true;
    while (off < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        off += static_cast<size_t>(n);
    }
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    const std::string target = folder + "/" + name;
    if (!ok || ::rename(temp.data(), target.c_str()) != 0) {
        ::unlink(temp.data());
        return false;
    }
    return true;
}

}  // namespace

bool parseAddress(const std::string& url, HttpTarget& target) {
    const std::string lower = lowerAscii(url.substr(0, 8));
    size_t rest;
    HttpTarget t;
    if (lower.rfind("http://", 0) == 0) {
        t.scheme = "http";
        t.port = 80;
        rest = 7;
    } else if (lower.rfind("https://", 0) == 0) {
        t.scheme = "https";
        t.port = 443;
        rest = 8;
    } else {
        return false;
    }
    const size_t slash = url.find('/', rest);
    std::string hostPort =
        url.substr(rest, slash == std::string::npos ? std::string::npos : slash - rest);
    t.path = slash == std::string::npos ? "/" : url.substr(slash);
    const size_t colon = hostPort.rfind(':');
    if (colon != std::string::npos) {
        const std::string digits = hostPort.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return false;
        long port = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) return false;
        t.port = static_cast<int32_t>(port);
        hostPort.resize(colon);
    }
    if (hostPort.empty() || hostPort.size() > 255) return false;
    for (unsigned char c : hostPort)
        if (c == ' ' || c == '@' || isControl(c)) return false;
    for (unsigned char c : t.path)
        if (c == ' ' || isControl(c)) return false;
    t.host = hostPort;
    target = t;
    return true;
}

bool parseServerHost(const std::string& setting, HttpTarget& target) {
    std::string text = setting;
    while (!text.empty() && (text.back() == ' ' || text.back() == '/')) text.pop_back();
    while (!text.empty() && text.front() == ' ') text.erase(0, 1);
    if (text.empty()) return false;
    if (text.find("://") == std::string::npos) text = "http://" + text;
    HttpTarget t;
    if (!parseAddress(text, t) || t.path != "/") return false;
    target = t;
    return true;
}

FetchSettings fetchSettingsFrom(const CAppParameters& params) {
    FetchSettings s;
    s.useProxy = params.GetUseProxy() != 0;
    s.proxyHost = params.GetProxyHost();
    s.proxyPort = params.GetProxyPort();
    s.proxyUser = params.GetProxyUsername();
    s.proxyPassword = params.GetProxyPassword();
    if (const char* caFile = std::getenv(kCaFileVariable)) s.caFile = caFile;
    return s;
}

HttpFetch fetchHttp(const FetchSettings& settings, const HttpTarget& target, int32_t timeout,
                    int32_t maxBytes) {
    HttpFetch out;
    out.error = "the request could not be made";
    HttpRequest* raw = nullptr;
    if (httpRequestCreate(&raw) != 0) return out;
    std::unique_ptr<HttpRequest, RequestDeleter> request(raw);
    if (httpRequestSetHost(raw, target.host.c_str(), target.port) != 0 ||
        httpRequestSetUrl(raw, target.path.c_str()) != 0 ||
        httpRequestSetTimeouts(raw, timeout, 600) != 0 ||
        httpRequestSetMaxResponse(raw, maxBytes) != 0)
        return out;
    if (settings.useProxy && !settings.proxyHost.empty() &&
        httpRequestSetProxy(raw, settings.proxyHost.c_str(), settings.proxyPort,
                            settings.proxyUser.c_str(), settings.proxyPassword.c_str()) != 0)
        return out;
    int32_t status = 0, length = 0;
    char* body = nullptr;
    out.error = "no reply from " + target.host;
    if (httpRequestSend(raw, &status, nullptr, &body, &length) != 0) return out;
    out.sent = body != nullptr;
    if (out.sent) out.error.clear();
    out.status = status;
    if (body) {
        out.body.assign(body, static_cast<size_t>(length));
        memFree(body);
    }
    return out;
}

HttpFetch fetchSecure(const FetchSettings& settings, const HttpTarget& target, int32_t timeout,
                      int32_t maxBytes) {
    HttpFetch out;
    InetExchange x{};
    x.host = target.host.c_str();
    x.port = target.port;
    x.path = target.path.c_str();
    x.extraHeaders = "Pragma: No-Cache\r\n";
    x.timeout = timeout;
    x.maxResponse = maxBytes;
    x.secure = 1;
    x.caFile = settings.caFile.c_str();
    // The proxy settings as the socket path takes them: a special name as it is, a
    // plain proxy host as a named proxy at the proxy port.
    std::string proxyName;
    if (settings.useProxy && !settings.proxyHost.empty()) {
        const bool special = settings.proxyHost == HTTP_AUTOPROXY_NAME ||
                             settings.proxyHost.rfind(HTTP_CERNPROXY_PREFIX, 0) == 0;
        proxyName = special ? settings.proxyHost : HTTP_CERNPROXY_PREFIX + settings.proxyHost;
        x.proxyName = proxyName.c_str();
        x.proxyPort = settings.proxyPort;
        x.proxyUser = settings.proxyUser.c_str();
        x.proxyPassword = settings.proxyPassword.c_str();
    }
    char error[INET_ERROR_SIZE] = "";
    x.errorText = error;
    char* response = nullptr;
    int32_t length = 0, status = 0;
    const int32_t rc = inetExchange(&x, &response, &length, &status);
    if (rc != 1) {
        out.error = rc == INET_ERR_TLS ? std::string("secure connection refused: ") + error : error;
        diagLog("agent: https://%s:%d failed: %s\n", target.host.c_str(), target.port,
                out.error.c_str());
        return out;
    }
    std::unique_ptr<char, void (*)(char*)> owned(response, [](char* p) { memFree(p); });
    // The response comes as a socket would have received it: split as the plain road does.
    char* body = nullptr;
    int32_t bodyLength = 0, ignored = 0;
    if (httpSplitResponse(response, length, &ignored, nullptr, &body, &bodyLength) != 0) {
        out.error = "out of memory";
        return out;
    }
    out.sent = true;
    out.status = status;
    out.body.assign(body, static_cast<size_t>(bodyLength));
    memFree(body);
    return out;
}

HttpFetch fetchTarget(const FetchSettings& settings, const HttpTarget& target, int32_t timeout,
                      int32_t maxBytes) {
    if (target.scheme == "https") return fetchSecure(settings, target, timeout, maxBytes);
    return fetchHttp(settings, target, timeout, maxBytes);
}

void CNuvaserverConnection::SetUpdateRequest() {
    SetRequest("update", m_params.GetUsername(), m_params.GetPassword(),
               m_params.GetEmailAddress());
}

std::string CNuvaserverConnection::BuildRequestPath() const {
    std::string path;
    const std::string first = m_params.GetInternetPath();
    if (!first.empty()) {
        // A path setting may hold several segments; each is encoded on its own.
        size_t pos = 0;
        while (pos <= first.size()) {
            size_t slash = first.find('/', pos);
            std::string segment =
                first.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
            if (!segment.empty()) path += "/" + percentEncode(segment);
            if (slash == std::string::npos) break;
            pos = slash + 1;
        }
    }
    path += "/" + percentEncode(m_params.GetInternetExecutableName());
    path += "?METHOD=" + percentEncode(m_method);
    path += "&username=" + percentEncode(m_username);
    path += "&password=" + percentEncode(m_password);
    path += "&emailaddress=" + percentEncode(m_email);
    path += "&clientversion=" + percentEncode(kClientVersion);
    return path;
}

bool CNuvaserverConnection::Prepare() {
    m_reply.clear();
    m_error.clear();
    m_status = 0;
    m_target = HttpTarget();
    if (!parseServerHost(m_params.GetInternetHost(), m_target)) {
        m_error = "no usable account server host";
        diagLog("agent: no usable account server host\n");
        return false;
    }
    m_target.path = BuildRequestPath();
    m_fetch = fetchSettingsFrom(m_params);
    return true;
}

std::function<HttpFetch()> CNuvaserverConnection::Job() const {
    return [fetch = m_fetch, target = m_target] {
        return fetchTarget(fetch, target, kAccountTimeoutSeconds, 4 * 1024 * 1024);
    };
}

bool CNuvaserverConnection::Finish(HttpFetch got) {
    m_reply.clear();
    m_status = got.status;
    m_error = std::move(got.error);
    if (!got.sent) return false;
    // A refusal of the web server (404, 500, ...) is no reply of the account server.
    if (got.status != 200) {
        m_error = "status " + std::to_string(got.status);
        diagLog("agent: the account server answered with status %d\n", got.status);
        return false;
    }
    m_reply = std::move(got.body);
    return true;
}

std::string updateErrorMessage(const std::string& reply, const std::string& brandName) {
    if (reply.rfind("Nuvaserver Error", 0) != 0) return {};
    if (reply.find("user incorrect") != std::string::npos)
        return "The username you have supplied is incorrect.";
    if (reply.find("password incorrect") != std::string::npos)
        return "The password you have supplied is incorrect.";
    if (reply.find("group read failure") != std::string::npos)
        return format1("Unable to read group. Please contact %s.", brandName);
    if (reply.find("illegal cgi vars") != std::string::npos)
        return "You have supplied incorrect details.";
    return "Due to excessive demand, we cannot allow connections at this time. Please try again "
           "at another time";
}

bool applyUpdateReply(CAppParameters& params, const std::string& reply) {
    ConfigFile* raw = nullptr;
    if (envCfgLoadFromMemory(&raw, reply.data(), static_cast<int32_t>(reply.size()), nullptr,
                             ENVCFG_OWNED) != 0 ||
        !raw)
        return false;
    ConfigPtr cfg(raw);
    if (!envCfgFindSection(cfg.get(), "Settings")) return false;
    if (!params.ExtMerge(cfg.get())) {
        diagLog("agent: the account server's settings could not be saved\n");
        return false;
    }
    auto flag = [&](const char* key, int32_t current) {
        return envCfgGetBool(cfg.get(), "Settings", key, nullptr, current) ? 1 : 0;
    };
    params.SetAlive(flag("Alive", params.GetAlive()));
    params.SetAboutLogoAddress(replyText(cfg.get(), "AboutLogo"));
    params.SetSplashLogoAddress(replyText(cfg.get(), "SplashLogo"));
    params.SetQueryLogoAddress(replyText(cfg.get(), "QueryLogo"));
    const std::string databases = numberedRun(cfg.get(), "DB");
    if (!equalsCaseBlind(databases, params.GetIxoDatabases())) {
        params.SetIxoDatabases(databases);
        params.SetIxoDatabasesSelected("News,");
    }
    const std::string names = numberedRun(cfg.get(), "DBName");
    if (!equalsCaseBlind(names, params.GetIxoDatabaseNames())) {
        params.SetIxoDatabaseNames(names);
        params.SetIxoDatabasesSelectedNames("News,");
    }
    params.SetShowIxoSettingsPage(flag("ShowIxoSettingsPage", params.GetShowIxoSettingsPage()));
    params.SetShowProxySettingsPage(
        flag("ShowProxySettingsPage", params.GetShowProxySettingsPage()));
    params.SetShowPreferencesSettingsPage(
        flag("ShowPreferencesSettingsPage", params.GetShowPreferencesSettingsPage()));
    params.SetShowSourcesSettingsPage(
        flag("ShowSourcesSettingsPage", params.GetShowSourcesSettingsPage()));
    params.SetShowHotKeySettingsPage(
        flag("ShowHotKeySettingsPage", params.GetShowHotKeySettingsPage()));
    params.SetShowAdvancedSettingsPage(
        flag("ShowAdvancedSettingsPage", params.GetShowAdvancedSettingsPage()));
    params.SetShowUrlManipulationSettingsPage(
        flag("ShowUrlManipulationSettingsPage", params.GetShowUrlManipulationSettingsPage()));
    return true;
}

namespace {

// Fetches each logo address into its path (entries with an empty address or path are
// skipped); how many were stored.
int storeLogos(const FetchSettings& fetch,
               const std::vector<std::pair<std::string, std::string>>& logos) {
    int stored = 0;
    for (const auto& [address, path] : logos) {
        HttpTarget target;
        if (address.empty() || path.empty() || !parseAddress(address, target)) continue;
        HttpFetch got = fetchTarget(fetch, target, kAccountTimeoutSeconds, kLogoMaxBytes);
        if (!got.sent || got.status != 200 || got.body.size() < 2 ||
            got.body.compare(0, 2, "BM") != 0) {
            diagLog("agent: logo %s not taken (status %d)\n", address.c_str(), got.status);
            continue;
        }
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (!name.empty() && storeFile(folder.empty() ? "/" : folder, name, got.body, 0600))
            ++stored;
    }
    return stored;
}

}  // namespace

int fetchLogos(CAppParameters& params) {
    return logoJob(params)();
}

std::function<int()> logoJob(const CAppParameters& params) {
    std::vector<std::pair<std::string, std::string>> logos = {
        {params.GetAboutLogoAddress(), params.GetAboutLogoPath()},
        {params.GetSplashLogoAddress(), params.GetSplashLogoPath()},
        {params.GetQueryLogoAddress(), params.GetQueryLogoPath()},
    };
    return [fetch = fetchSettingsFrom(params), logos = std::move(logos)] {
        return storeLogos(fetch, logos);
    };
}

bool updateAccount(CAppParameters& params, platform::MessageBoxes* messages) {
    CNuvaserverConnection connection(params);
    connection.SetUpdateRequest();
    if (!finishUpdate(params, messages, connection, connection.Send())) return false;
    fetchLogos(params);
    return true;
}

bool finishUpdate(CAppParameters& params, platform::MessageBoxes* messages,
                  const CNuvaserverConnection& connection, bool sent) {
    if (!sent) return false;
    const std::string error = updateErrorMessage(connection.GetReply(), params.GetBrandName());
    if (!error.empty()) {
        if (messages) messages->show(caption(params), error, platform::MsgIcon::Error);
        return false;
    }
    if (!applyUpdateReply(params, connection.GetReply())) {
        if (messages)
            messages->show(caption(params), "Could not retrieve configuration settings",
                           platform::MsgIcon::Error);
        return false;
    }
    return true;
}

RegistrationCheck checkRegistration(const std::string& username, const std::string& password,
                                    const std::string& password2, const std::string& email) {
    auto allowed = [](const std::string& text) {
        for (unsigned char c : text)
            if (c >= 0x80 || (!std::isalnum(c) && c != '-')) return false;
        return true;
    };
    if (username.empty()) return {RegistrationField::Username, "You must enter a user name."};
    if (!allowed(username))
        return {RegistrationField::Username,
                "Your user name can only contain the characters a-Z, 0-9."};
    if (!allowed(password))
        return {RegistrationField::Password,
                "Your password can only contain the characters a-Z, 0-9."};
    if (password.size() <= 4)
        return {RegistrationField::Password,
                "Your password must be more than 4 characters long. Please choose another."};
    if (password != password2)
        return {RegistrationField::Password2,
                "The two passwords you have entered do not match. Please re-enter them."};
    if (email.find('@') == std::string::npos)
        return {RegistrationField::Email,
                "The email address you have entered is not valid. Please re-enter it."};
    return {};
}

RegistrationResult classifyRegistration(bool sent, const std::string& reply,
                                        const std::string& username, const std::string& brandName) {
    if (!sent)
        return {RegistrationOutcome::EndAgent,
                "Cannot communicate with registration server. If you are on a corporate "
                "network, please check your proxy or firewall settings with your systems "
                "administrator. If you are a home user, please check your dialup settings."};
    const std::string lower = lowerAscii(reply);
    auto has = [&](const char* phrase) { return lower.find(phrase) != std::string::npos; };
    if (has("success")) return {RegistrationOutcome::Success, {}};
    if (has("user already exists"))
        return {RegistrationOutcome::UserExists,
                format1("the username %s is already in use. Please choose another.", username)};
    static const std::pair<const char*, const char*> failures[] = {
        {"illegal cgi vars",
         "A user registration error (code 0) occurred: the registration details provided were "
         "incorrect. Please contact %s."},
        {"group creation failure",
         "A user registration error (code 1) occurred: a group creation error occurred at the "
         "registration server. Please contact %s."},
        {"group read failure",
         "A user registration error (code 2) occurred: a group read error occurred at the "
         "registration server. Please contact %s."},
        {"user creation failure",
         "A user registration error (code 3) occurred: a user creation error occurred at the "
         "registration server. Please contact %s."},
        {"user add failure",
         "A user registration error (code 4) occurred: a user addition error occurred at the "
         "registration server. Please contact %s."},
    };
    for (const auto& [phrase, message] : failures)
        if (has(phrase)) return {RegistrationOutcome::EndAgent, format1(message, brandName)};
    return {RegistrationOutcome::EndAgent,
            "The registration server returned an unrecognised response. Please restart Vantri "
            "and check your proxy settings."};
}

RegistrationResult registerAccount(CAppParameters& params, const std::string& username,
                                   const std::string& password, const std::string& email) {
    CNuvaserverConnection connection(params);
    connection.SetRequest("register", username, password, email);
    const bool sent = connection.Send();
    return finishRegistration(params, connection, sent, username, password, email);
}

RegistrationResult finishRegistration(CAppParameters& params,
                                      const CNuvaserverConnection& connection, bool sent,
                                      const std::string& username, const std::string& password,
                                      const std::string& email) {
    RegistrationResult result =
        classifyRegistration(sent, connection.GetReply(), username, params.GetBrandName());
    if (result.outcome != RegistrationOutcome::UserExists) {
        params.SetUsername(username);
        params.SetPassword(password);
        params.SetEmailAddress(email);
    }
    if (result.outcome == RegistrationOutcome::Success) params.SetRegistered(1);
    return result;
}

bool applyServerSelection(CAppParameters& params, const std::string& name) {
    if (name.empty() ||
        (name.find('.') == std::string::npos && name.find("localserver") == std::string::npos) ||
        name == params.GetInternetHost())
        return false;
    params.SetInternetHost(name);
    params.SetRegistered(0);
    return true;
}

std::string upgradeFileName(const std::string& address) {
    HttpTarget target;
    if (!parseAddress(address, target)) return {};
    std::string path = target.path.substr(0, target.path.find_first_of("?#"));
    const size_t slash = path.rfind('/');
    const std::string name = percentDecode(path.substr(slash + 1));
    if (name.empty() || name.size() > 255 || name.front() == '.') return {};
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || isControl(c)) return {};
    return name;
}

CUpgrade::CUpgrade(CAppParameters& params, std::string folder)
    : m_params(params), m_folder(std::move(folder)) {
    if (m_folder.empty()) m_folder = ".";
    if (m_folder.front() != '/') {
        // The program is run at exit by its full path, whatever the working folder is then.
        std::vector<char> cwd(4096);
        if (::getcwd(cwd.data(), cwd.size()))
            m_folder = m_folder == "." ? std::string(cwd.data())
                                       : std::string(cwd.data()) + "/" + m_folder;
    }
}

std::string CUpgrade::Address() const {
    return m_params.ExtGetText("UpgradeURL");
}

void CUpgrade::Decline() {
    m_params.ExtSetText("UpgradeURL", "");
    m_params.ExtSave();
}

std::function<CUpgrade::Result()> CUpgrade::DownloadJob() {
    const std::string address = Address();
    const std::string name = upgradeFileName(address);
    HttpTarget target;
    m_pending.clear();
    if (name.empty() || !parseAddress(address, target)) {
        diagLog("agent: upgrade address refused: %s\n", address.c_str());
        return [] { return Result::Refused; };
    }
    m_pending = name;
    return [fetch = fetchSettingsFrom(m_params), target, folder = m_folder, name] {
        HttpFetch got = fetchTarget(fetch, target, kUpgradeTimeoutSeconds, kUpgradeMaxBytes);
        if (!got.sent || got.status != 200 || got.body.empty()) {
            diagLog("agent: upgrade download failed (status %d)\n", got.status);
            return Result::Failed;
        }
        if (!storeFile(folder, name, got.body, 0700)) {
            diagLog("agent: cannot store the upgrade in %s\n", folder.c_str());
            return Result::Failed;
        }
        return Result::Done;
    };
}

CUpgrade::Result CUpgrade::Complete(Result result) {
    if (result == Result::Done && !m_pending.empty()) {
        m_file = m_folder + "/" + m_pending;
        m_params.ExtSetText("UpgradeURL", "");
        m_params.ExtSave();
    }
    m_pending.clear();
    return result;
}

bool CUpgrade::RunAtExit() {
    if (m_file.empty()) return false;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    if (posix_spawnattr_init(&attr) != 0) return false;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_addchdir_np(&actions, m_folder.c_str());
    std::vector<char> program(m_file.begin(), m_file.end());
    program.push_back('\0');
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.data(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        diagLog("agent: cannot start the upgrade %s: %s\n", m_file.c_str(), std::strerror(rc));
        return false;
    }
    return true;
}

}  // namespace agent
