#include "agent/proxysetup.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "agent/AppParameters.h"
#include "platform/gsettings.h"
#include "support/cp1252.h"
#include "support/httprequest.h"
#include "support/textcase.h"

namespace agent {

namespace {

constexpr std::size_t kMaxPrefText = 4096;
constexpr std::size_t kMaxPrefsFile = 8u << 20;
constexpr std::size_t kMaxIniFile = 256u << 10;
constexpr int32_t kMaxScript = 1 << 20;

bool isHostChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '-' || c == '.' || c == '_';
}

bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// A port of one to five digits with a value from 1 to 65535, and nothing numeric after.
std::optional<int32_t> parsePort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    int32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return value;
}

bool validHost(std::string_view host) {
    if (host.empty() || host.size() > kMaxProxyHostLength) return false;
    if (host.front() == '[')
        return host.size() > 2 && host.back() == ']' &&
               std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
                   return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
               });
    return std::all_of(host.begin(), host.end(), isHostChar);
}

// At most limit bytes of a regular file; nullopt when it cannot be read or is larger.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string out;
    char buffer[8192];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        out.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (out.size() > limit) return std::nullopt;
    }
    return out;
}

// A sectioned settings text (profiles.ini, kioslaverc): section -> key -> value. Keys
// lose a KDE "[$e]"-style suffix; later keys win.
using IniText = std::map<std::string, std::map<std::string, std::string>>;

IniText parseIni(std::string_view text) {
    IniText out;
    std::string section;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            if (close != std::string_view::npos) section.assign(line.substr(1, close - 1));
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = trim(line.substr(0, eq));
        if (std::size_t bracket = key.find('['); bracket != std::string_view::npos)
            key = trim(key.substr(0, bracket));
        out[section][std::string(key)] = std::string(trim(line.substr(eq + 1)));
    }
    return out;
}

std::string lookup(const IniText& ini, const std::string& section, const std::string& key) {
    auto s = ini.find(section);
    if (s == ini.end()) return "";
    auto k = s->second.find(key);
    return k == s->second.end() ? "" : k->second;
}

// ----- prefs.js -----

class PrefsScanner {
  public:
    explicit PrefsScanner(std::string_view text) : t_(text) {}

    void run(std::map<std::string, FirefoxPref>& out) {
        while (pos_ < t_.size()) {
            const std::size_t start = pos_;
            std::string name;
            FirefoxPref value;
            if (statement(name, value)) {
                if (name.rfind("network.proxy.", 0) == 0) out[name] = value;
            } else {
                // Resynchronise at the next line.
                pos_ = std::max(pos_, start + 1);
                std::size_t nl = t_.find('\n', pos_);
                pos_ = nl == std::string_view::npos ? t_.size() : nl + 1;
            }
        }
    }

  private:
    void skipSpace() {
        while (pos_ < t_.size()) {
            char c = t_[pos_];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (t_.compare(pos_, 2, "//") == 0 || c == '#') {
                std::size_t nl = t_.find('\n', pos_);
                pos_ = nl == std::string_view::npos ? t_.size() : nl + 1;
            } else if (t_.compare(pos_, 2, "/*") == 0) {
                std::size_t close = t_.find("*/", pos_ + 2);
                pos_ = close == std::string_view::npos ? t_.size() : close + 2;
            } else {
                return;
            }
        }
    }
    bool take(char c) {
        skipSpace();
        if (pos_ < t_.size() && t_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool word(std::string& out) {
        skipSpace();
        std::size_t start = pos_;
        while (pos_ < t_.size() && isWordChar(t_[pos_])) ++pos_;
        out.assign(t_.substr(start, pos_ - start));
        return !out.empty();
    }
    bool hex(std::size_t digits, uint32_t& value) {
        if (t_.size() - pos_ < digits) return false;
        value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            char c = t_[pos_ + i];
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
            value = value * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                                           ? c - '0'
                                                           : std::tolower(c) - 'a' + 10);
        }
        pos_ += digits;
        return true;
    }
    bool quoted(std::string& out) {
        skipSpace();
        if (pos_ >= t_.size() || (t_[pos_] != '"' && t_[pos_] != '\'')) return false;
        const char quote = t_[pos_++];
        out.clear();
        while (pos_ < t_.size()) {
            char c = t_[pos_++];
            if (c == quote) return true;
            if (c == '\n') return false;
            if (c == '\\') {
                if (pos_ >= t_.size()) return false;
                char e = t_[pos_++];
                uint32_t cp = 0;
                switch (e) {
                    case 'n':
                        out += '\n';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'b':
                        out += '\b';
                        break;
                    case 'f':
                        out += '\f';
                        break;
                    case 'x':
                        if (!hex(2, cp)) return false;
                        appendUtf8(out, cp);
                        break;
                    case 'u':
                        if (!hex(4, cp)) return false;
                        appendUtf8(out, cp);
                        break;
                    default:
                        out += e;
                        break;
                }
            } else {
                out += c;
            }
            if (out.size() > kMaxPrefText) return false;
        }
        return false;
    }
    bool value(FirefoxPref& v) {
        skipSpace();
        if (pos_ >= t_.size()) return false;
        char c = t_[pos_];
        if (c == '"' || c == '\'') {
            v.isString = true;
            return quoted(v.text);
        }
        if (c == '-' || c == '+' || std::isdigit(static_cast<unsigned char>(c))) {
            bool negative = c == '-';
            if (c == '-' || c == '+') ++pos_;
            std::size_t start = pos_;
            int64_t n = 0;
            while (pos_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[pos_]))) {
                if (n < (int64_t{1} << 40)) n = n * 10 + (t_[pos_] - '0');
                ++pos_;
            }
            if (pos_ == start) return false;
            v.number = negative ? -n : n;
            return true;
        }
        std::string w;
        if (!word(w)) return false;
        if (w == "true")
            v.number = 1;
        else if (w == "false")
            v.number = 0;
        else
            return false;
        return true;
    }
    // pref|user_pref|sticky_pref|lock_pref ( "name" , value [, more] ) ;
    bool statement(std::string& name, FirefoxPref& v) {
        std::string fn;
        if (!word(fn)) return false;
        if (fn != "user_pref" && fn != "pref" && fn != "sticky_pref" && fn != "lock_pref")
            return false;
        if (!take('(') || !quoted(name) || !take(',') || !value(v)) return false;
        if (take(',')) {
            std::string attribute;  // a trailing attribute such as sticky or locked
            if (!word(attribute)) return false;
        }
        return take(')') && take(';');
    }

    std::string_view t_;
    std::size_t pos_ = 0;
};

// ----- sources -----

struct Collector {
    std::vector<DetectedProxy> entries;
    bool systemNamesProxy = false;  // the desktop or the environment names a proxy

    bool full() const { return entries.size() >= kMaxDetectedProxies; }
    void add(const std::string& description, const ProxyAddress& address) {
        if (full() || !validHost(address.host) || address.port < 1 || address.port > 65535) return;
        for (const auto& e : entries)
            if (e.host == address.host && e.port == address.port) return;
        entries.push_back({description, address.host, address.port});
    }
};

std::string envValue(const ProxyDetectEnv& env, const std::string& name) {
    if (!env.getEnv) return "";
    return env.getEnv(name).value_or("");
}

// The default profile's folder named by profiles.ini in base, or "".
std::string firefoxProfile(const std::string& base) {
    auto text = readSmallFile(base + "/profiles.ini", kMaxIniFile);
    if (!text) return "";
    IniText ini = parseIni(*text);
    std::string path;
    bool relative = true;
    // The profile of the newest installation first, then the one marked default, then
    // the first listed.
    for (const auto& [section, keys] : ini)
        if (section.rfind("Install", 0) == 0 && keys.count("Default")) {
            path = keys.at("Default");
            relative = path.empty() || path.front() != '/';
            break;
        }
    if (path.empty()) {
        std::string first;
        bool firstRelative = true;
        for (const auto& [section, keys] : ini) {
            if (section.rfind("Profile", 0) != 0 || !keys.count("Path")) continue;
            const bool isRelative = !keys.count("IsRelative") || keys.at("IsRelative") != "0";
            if (first.empty()) first = keys.at("Path"), firstRelative = isRelative;
            if (keys.count("Default") && keys.at("Default") == "1") {
                path = keys.at("Path");
                relative = isRelative;
                break;
            }
        }
        if (path.empty()) path = first, relative = firstRelative;
    }
    if (path.empty()) return "";
    return relative ? base + "/" + path : path;
}

void detectFirefox(const ProxyDetectEnv& env, Collector& out) {
    std::vector<std::string> bases;
    std::string config = envValue(env, "XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') config = env.home + "/.config";
    bases.push_back(config + "/mozilla/firefox");
    bases.push_back(env.home + "/.mozilla/firefox");
    for (const auto& base : bases) {
        std::string profile = firefoxProfile(base);
        if (profile.empty()) continue;
        std::map<std::string, FirefoxPref> prefs;
        for (const char* file : {"/prefs.js", "/user.js"})
            if (auto text = readSmallFile(profile + file, kMaxPrefsFile))
                for (auto& [k, v] : readFirefoxPrefs(*text)) prefs[k] = v;
        auto number = [&](const char* key) -> int64_t {
            auto it = prefs.find(key);
            return it == prefs.end() || it->second.isString ? -1 : it->second.number;
        };
        auto text = [&](const char* key) -> std::string {
            auto it = prefs.find(key);
            return it == prefs.end() || !it->second.isString ? "" : it->second.text;
        };
        const int64_t type = number("network.proxy.type");
        if (type == 1) {
            auto port = number("network.proxy.http_port");
            std::string host = text("network.proxy.http");
            if (!host.empty() && port > 0 && port <= 65535)
                out.add("Firefox (manual)", {host, static_cast<int32_t>(port)});
        } else if (type == 2) {
            std::string url = text("network.proxy.autoconfig_url");
            if (!url.empty())
                if (auto found = resolveAutoConfig(url, env.fetchTimeoutSeconds))
                    out.add("Firefox (automatic configuration)", *found);
        }
    }
}

// A GVariant text as gsettings prints it: 'text' (or "text") unquoted, else as is.
std::string gvariantText(std::string_view v) {
    v = trim(v);
    if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front()) {
        std::string out;
        for (std::size_t i = 1; i + 1 < v.size(); ++i) {
            if (v[i] == '\\' && i + 2 < v.size()) ++i;
            out += v[i];
        }
        return out;
    }
    return std::string(v);
}

void detectGnome(const ProxyDetectEnv& env, Collector& out) {
    if (!env.readGSetting) return;
    auto read = [&](const char* schema, const char* key) {
        auto v = env.readGSetting(schema, key);
        return v ? gvariantText(*v) : std::string();
    };
    const std::string mode = read("org.gnome.system.proxy", "mode");
    if (mode == "manual") {
        const std::string host = read("org.gnome.system.proxy.http", "host");
        // "8080", or with a type annotation ("int32 8080").
        std::string port = read("org.gnome.system.proxy.http", "port");
        if (std::size_t blank = port.rfind(' '); blank != std::string::npos)
            port = port.substr(blank + 1);
        auto p = parsePort(port);
        if (!host.empty() && p) {
            out.systemNamesProxy = true;
            out.add("GNOME (manual)", {host, *p});
        }
    } else if (mode == "auto") {
        out.systemNamesProxy = true;
        const std::string url = read("org.gnome.system.proxy", "autoconfig-url");
        if (!url.empty())
            if (auto found = resolveAutoConfig(url, env.fetchTimeoutSeconds))
                out.add("GNOME (automatic configuration)", *found);
    }
}

// KDE writes "http://host port" (a blank before the port) or "http://host:port".
std::optional<ProxyAddress> kdeProxy(std::string_view value) {
    value = trim(value);
    std::size_t blank = value.rfind(' ');
    if (blank != std::string_view::npos) {
        auto port = parsePort(trim(value.substr(blank + 1)));
        auto address = parseProxyAddress(trim(value.substr(0, blank)));
        if (!port || !address) return std::nullopt;
        address->port = *port;
        return address;
    }
    return parseProxyAddress(value);
}

void detectKde(const ProxyDetectEnv& env, Collector& out) {
    std::string config = envValue(env, "XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') config = env.home + "/.config";
    for (const std::string& path :
         {config + "/kioslaverc", env.home + "/.kde4/share/config/kioslaverc",
          env.home + "/.kde/share/config/kioslaverc"}) {
        auto text = readSmallFile(path, kMaxIniFile);
        if (!text) continue;
        IniText ini = parseIni(*text);
        const std::string type = lookup(ini, "Proxy Settings", "ProxyType");
        const std::string http = lookup(ini, "Proxy Settings", "httpProxy");
        if (type == "1") {
            out.systemNamesProxy = true;
            if (auto address = kdeProxy(http)) out.add("KDE (manual)", *address);
        } else if (type == "2") {
            out.systemNamesProxy = true;
            const std::string url = lookup(ini, "Proxy Settings", "Proxy Config Script");
            if (!url.empty())
                if (auto found = resolveAutoConfig(url, env.fetchTimeoutSeconds))
                    out.add("KDE (automatic configuration)", *found);
        } else if (type == "3") {
            out.systemNamesProxy = true;  // found on the network, at request time
        } else if (type == "4") {
            // The setting names the environment variable that holds the proxy.
            std::string name(trim(http.substr(0, http.find(','))));
            if (!name.empty() && std::all_of(name.begin(), name.end(), isWordChar))
                if (auto address = parseProxyAddress(envValue(env, name)))
                    out.add("KDE (environment, " + name + ")", *address);
        }
        break;  // the newest settings file found is the one in force
    }
}

void detectEnvironment(const ProxyDetectEnv& env, Collector& out) {
    for (const char* name : {"no_proxy", "NO_PROXY"})
        if (trim(envValue(env, name)) == "*") return;
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"}) {
        const std::string value = envValue(env, name);
        if (value.empty()) continue;
        if (auto address = parseProxyAddress(value)) {
            out.systemNamesProxy = true;
            out.add(std::string("Environment (") + name + ")", *address);
        }
    }
}

}  // namespace

std::map<std::string, FirefoxPref> readFirefoxPrefs(std::string_view text) {
    std::map<std::string, FirefoxPref> out;
    PrefsScanner(text).run(out);
    return out;
}

std::optional<ProxyAddress> scanAutoConfig(std::string_view script) {
    // A "PROXY" word, blanks, host characters, ':', a port.
    auto entryAt = [&](std::size_t at) -> std::optional<ProxyAddress> {
        if (at > 0 && isWordChar(script[at - 1])) return std::nullopt;
        std::size_t i = at + 5;
        if (i >= script.size() || (script[i] != ' ' && script[i] != '\t')) return std::nullopt;
        while (i < script.size() && (script[i] == ' ' || script[i] == '\t')) ++i;
        std::size_t hostStart = i;
        while (i < script.size() && isHostChar(script[i]) && i - hostStart < kMaxProxyHostLength)
            ++i;
        if (i == hostStart || i >= script.size() || script[i] != ':') return std::nullopt;
        std::size_t portStart = ++i;
        while (i < script.size() && std::isdigit(static_cast<unsigned char>(script[i])) &&
               i - portStart <= 5)
            ++i;
        auto port = parsePort(script.substr(portStart, i - portStart));
        if (!port) return std::nullopt;
        return ProxyAddress{std::string(script.substr(hostStart, portStart - 1 - hostStart)),
                            *port};
    };
    auto firstFrom = [&](std::size_t from) -> std::optional<ProxyAddress> {
        for (std::size_t at = script.find("PROXY", from); at != std::string_view::npos;
             at = script.find("PROXY", at + 1))
            if (auto entry = entryAt(at)) return entry;
        return std::nullopt;
    };
    // The last "return" of the script is usually its answer for ordinary addresses;
    // earlier ones serve special cases (other schemes, chosen hosts).
    std::size_t lastReturn = std::string_view::npos;
    for (std::size_t at = script.find("return"); at != std::string_view::npos;
         at = script.find("return", at + 1))
        if ((at == 0 || !isWordChar(script[at - 1])) &&
            (at + 6 >= script.size() || !isWordChar(script[at + 6])))
            lastReturn = at;
    if (lastReturn != std::string_view::npos)
        if (auto entry = firstFrom(lastReturn)) return entry;
    return firstFrom(0);
}

std::optional<ProxyAddress> resolveAutoConfig(const std::string& url, int32_t timeoutSeconds) {
    if (startsWithCaseBlind(url, "file://")) {
        std::string path = url.substr(7);
        if (path.empty() || path.front() != '/') return std::nullopt;
        auto text = readSmallFile(path, kMaxScript);
        return text ? scanAutoConfig(*text) : std::nullopt;
    }
    if (!startsWithCaseBlind(url, "http://")) return std::nullopt;
    char* host = nullptr;
    char* path = nullptr;
    int32_t port = 0;
    if (!httpSplitUrl(url.c_str(), &host, &port, &path)) return std::nullopt;
    const std::string target = std::string("/") + path;
    memFree(path);
    std::optional<ProxyAddress> found;
    HttpRequest* request = nullptr;
    if (port >= 1 && port <= 65535 && httpRequestCreate(&request) == 0) {
        const int32_t wait = timeoutSeconds > 0 ? timeoutSeconds : 10;
        if (httpRequestSetHost(request, host, port) == 0 &&
            httpRequestSetUrl(request, target.c_str()) == 0 &&
            httpRequestSetTimeouts(request, wait, wait) == 0 &&
            httpRequestSetMaxResponse(request, kMaxScript) == 0) {
            int32_t status = 0;
            char* body = nullptr;
            int32_t length = 0;
            if (httpRequestSend(request, &status, nullptr, &body, &length) == 0 && status == 200 &&
                body != nullptr && length > 0)
                found = scanAutoConfig(std::string_view(body, static_cast<std::size_t>(length)));
            if (body) memFree(body);
        }
        httpRequestDestroy(&request);
    }
    memFree(host);
    return found;
}

std::optional<ProxyAddress> parseProxyAddress(std::string_view text) {
    text = trim(text);
    if (std::size_t scheme = text.find("://"); scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    text = text.substr(0, text.find('/'));
    if (std::size_t at = text.rfind('@'); at != std::string_view::npos) text.remove_prefix(at + 1);
    ProxyAddress out;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        out.host.assign(text.substr(0, close + 1));
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            portText = rest.substr(1);
        }
    } else {
        std::size_t colon = text.find(':');
        out.host.assign(text.substr(0, colon));
        if (colon != std::string_view::npos) portText = text.substr(colon + 1);
    }
    if (!validHost(out.host)) return std::nullopt;
    if (portText.empty()) {
        out.port = 80;
    } else {
        auto port = parsePort(portText);
        if (!port) return std::nullopt;
        out.port = *port;
    }
    return out;
}

std::vector<DetectedProxy> detectProxies(const ProxyDetectEnv& env) {
    Collector out;
    detectFirefox(env, out);
    detectGnome(env, out);
    detectKde(env, out);
    detectEnvironment(env, out);
    if (out.systemNamesProxy && !out.full())
        out.entries.push_back({"System settings (desktop and environment)", kAutoProxyHost, 0});
    return out.entries;
}

ProxyDetectEnv systemProxyDetectEnv() {
    ProxyDetectEnv env;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        env.home = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        env.home = pw->pw_dir;
    }
    env.getEnv = [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
    env.readGSetting = [](const std::string& schema, const std::string& key) {
        return platform::readGSetting(schema, key);
    };
    return env;
}

std::string detectedProxyLabel(const DetectedProxy& entry) {
    if (entry.host == kAutoProxyHost) return entry.description;
    return entry.description + ": " + entry.host + ":" + std::to_string(entry.port);
}

bool applyDetectedProxy(CAppParameters& settings, const DetectedProxy& entry,
                        const std::string& username, const std::string& password) {
    bool ok = true;
    if (entry.host == kAutoProxyHost) {
        ok &= settings.SetUseProxy(1);
        ok &= settings.SetProxyHost("");
        ok &= settings.SetProxyPort(0);
        ok &= settings.SetProxyUsername("");
    } else {
        ok &= settings.SetUseProxy(2);
        ok &= settings.SetProxyHost(entry.host);
        ok &= settings.SetProxyPort(entry.port);
        ok &= settings.SetProxyUsername(username);
        ok &= settings.SetProxyPassword(password);
    }
    return ok;
}

}  // namespace agent
