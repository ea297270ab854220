#include "server/srvconfig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "server/inifile.h"
#include "support/envcfgutil.h"

namespace ixoserver {

namespace fs = std::filesystem;

namespace {

bool toInt(const std::string& text, long lo, long hi, long& out) {
    return parseIniInt(text, lo, hi, out);
}

// The value of key in section "SERVER" (or "DEFAULT"); false when absent.
bool serverValue(ConfigFile* cfg, const char* key, std::string& value) {
    return iniValue(cfg, "SERVER", key, value);
}

std::string trimmed(const std::string& s) {
    return trimmedText(s);
}

std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text + ",") {
        if (c == ',' || c == ' ' || c == ';' || c == '\t') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

}  // namespace

std::string ShardSpec::text() const {
    if (!remote()) return path;
    const bool v6 = host.find(':') != std::string::npos;
    return "tcp " + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool parseShardSpec(const std::string& value, ShardSpec& spec) {
    spec = ShardSpec{};
    const std::string v = trimmed(value);
    if (v.empty()) return false;
    const bool tcp =
        v.size() > 3 && upperAscii(v.substr(0, 3)) == "TCP" && (v[3] == ' ' || v[3] == '\t');
    if (!tcp) {
        spec.path = v;
        std::replace(spec.path.begin(), spec.path.end(), '\\', '/');
        return true;
    }
    const std::string address = trimmed(v.substr(4));
    std::string host, port;
    if (!address.empty() && address[0] == '[') {
        const size_t close = address.find(']');
        if (close == std::string::npos || close + 1 >= address.size() || address[close + 1] != ':')
            return false;
        host = address.substr(1, close - 1);
        port = address.substr(close + 2);
    } else {
        const size_t colon = address.rfind(':');
        if (colon == std::string::npos || address.find(':') != colon) return false;
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
    }
    long n = 0;
    if (host.empty() || host.find_first_of(" \t") != std::string::npos || !toInt(port, 1, 65535, n))
        return false;
    spec.host = host;
    spec.port = static_cast<int>(n);
    return true;
}

std::string setIniServerValue(const std::string& text, const std::string& key,
                              const std::string& value) {
    return setIniValue(text, "SERVER", key, value);
}

bool generateCredentials(std::string& user, std::string& password) {
    unsigned char bytes[20];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    static const char hex[] = "0123456789abcdef";
    auto toHex = [&](const unsigned char* p, size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            s += hex[p[i] >> 4];
            s += hex[p[i] & 15];
        }
        return s;
    };
    user = "ixo-" + toHex(bytes, 4);
    password = toHex(bytes + 4, 16);
    return true;
}

std::string ServerConfig::iniPath() const {
    return (fs::path(home) / "ixo" / "ixo.ini").string();
}
std::string ServerConfig::stopFilePath() const {
    return (fs::path(home) / "ixo" / "ixo.stop").string();
}
std::string ServerConfig::portsFilePath() const {
    return (fs::path(home) / "ixo" / "ports").string();
}
std::string ServerConfig::dataPath() const {
    fs::path d(directory);
    if (d.is_absolute()) return d.string();
    return (fs::path(home) / d).string();
}

std::string defaultIniText() {
    return "[SERVER]\r\n"
           "QUERYPORT=6223\r\n"
           "INDEXPORT=6224\r\n"
           "DIRECTORY=ixo/data\r\n"
           "; address the ports are bound to; 127.0.0.1 keeps the server private\r\n"
           "BINDADDRESS=127.0.0.1\r\n"
           "WORKERTHREADS=4\r\n"
           "MAXBODYBYTES=67108864\r\n"
           "MAXHEADERBYTES=65536\r\n"
           "COMMITINTERVALMS=500\r\n"
           "; index commands and /IXOSHUTDOWN need &user= and &pass= with these values;\r\n"
           "; left empty, a random pair is generated at the next start\r\n"
           "INDEXUSER=\r\n"
           "INDEXPASSWORD=\r\n"
           "; queries need &user= and &pass= with these values; left empty, a random\r\n"
           "; pair is generated at the next start (QUERYAUTH=OFF answers anyone)\r\n"
           "QUERYUSER=\r\n"
           "QUERYPASSWORD=\r\n"
           "; host names a request's Host header may give besides loopback and localhost\r\n"
           "ALLOWEDHOSTS=\r\n"
           "\r\n";
}

bool loadServerConfig(const std::string& home, ServerConfig& config, std::string& error) {
    config.home = home.empty() ? std::string(".") : home;
    const std::string path = config.iniPath();
    ConfigPtr cfg = openServerIni(path, defaultIniText(), error);
    if (!cfg) return false;

    std::string v;
    long n = 0;
    auto intKey = [&](const char* key, long lo, long hi, auto& target) {
        if (serverValue(cfg.get(), key, v) && toInt(v, lo, hi, n))
            target = static_cast<std::remove_reference_t<decltype(target)>>(n);
    };
    intKey("QUERYPORT", 0, 65535, config.queryPort);
    intKey("INDEXPORT", 0, 65535, config.indexPort);
    intKey("WORKERTHREADS", 1, 64, config.workerThreads);
    intKey("MAXBODYBYTES", 1024, LONG_MAX, config.maxBodyBytes);
    intKey("MAXHEADERBYTES", 1024, 16L << 20, config.maxHeaderBytes);
    intKey("COMMITINTERVALMS", 10, 60000, config.commitIntervalMs);
    if (serverValue(cfg.get(), "DIRECTORY", v) && !v.empty()) config.directory = v;
    if (serverValue(cfg.get(), "BINDADDRESS", v) && !v.empty()) config.bindAddress = v;
    if (serverValue(cfg.get(), "INDEXUSER", v)) config.indexUser = v;
    if (serverValue(cfg.get(), "INDEXPASSWORD", v)) config.indexPassword = v;
    auto switchedOff = [&](const char* key) {
        return serverValue(cfg.get(), key, v) &&
               (upperAscii(trimmed(v)) == "OFF" || trimmed(v) == "0");
    };
    config.indexAuth = !switchedOff("INDEXAUTH");
    config.queryAuth = !switchedOff("QUERYAUTH");
    if (serverValue(cfg.get(), "QUERYUSER", v)) config.queryUser = v;
    if (serverValue(cfg.get(), "QUERYPASSWORD", v)) config.queryPassword = v;
    if (serverValue(cfg.get(), "ALLOWEDHOSTS", v)) config.allowedHosts = splitNames(v);
    if (serverValue(cfg.get(), "READONLY", v)) config.readOnly = trimmed(v) == "1";
    if (serverValue(cfg.get(), "PARTIALRESULTS", v)) config.partialResults = trimmed(v) == "1";
    intKey("SHARDTIMEOUTMS", 100, 3600000, config.shardTimeoutMs);
    // Shards are numbered without gaps: a document's number depends on the shard count
    // and its shard's place, so a missing key would renumber every later shard.
    config.shards.clear();
    for (int i = 1;; ++i) {
        char* text = nullptr;
        const std::string key = "SHARD" + std::to_string(i);
        const int found = envCfgGetText(cfg.get(), "SHARDS", key.c_str(), &text, nullptr);
        const std::string value = text ? text : "";
        if (text) memFree(text);
        if (found != 1) {
            for (int j = i + 1; j <= i + 64; ++j) {
                char* later = nullptr;
                const std::string next = "SHARD" + std::to_string(j);
                const int gap = envCfgGetText(cfg.get(), "SHARDS", next.c_str(), &later, nullptr);
                if (later) memFree(later);
                if (gap == 1) {
                    error = "section SHARDS of " + path + " has " + next + " but no " + key;
                    return false;
                }
            }
            break;
        }
        ShardSpec spec;
        if (!parseShardSpec(value, spec)) {
            error = key + " in " + path + " is neither a folder nor \"tcp HOST:PORT\"";
            return false;
        }
        if (!spec.remote() && !fs::path(spec.path).is_absolute())
            spec.path = (fs::path(config.home) / spec.path).string();
        config.shards.push_back(spec);
        if (i >= 1000) break;
    }
    cfg.reset();
    // Missing pairs are generated and written in one replacement of the file; they are
    // taken only once the file holds them.
    struct Pair {
        bool needed;
        const char *userKey, *passwordKey;
        std::string *user, *password;
        bool* generated;
        std::string madeUser, madePassword;
    };
    Pair pairs[] = {
        {config.indexAuth && config.indexUser.empty() && config.indexPassword.empty(),
         "INDEXUSER",
         "INDEXPASSWORD",
         &config.indexUser,
         &config.indexPassword,
         &config.credentialsGenerated,
         {},
         {}},
        {config.queryAuth && config.queryUser.empty() && config.queryPassword.empty(),
         "QUERYUSER",
         "QUERYPASSWORD",
         &config.queryUser,
         &config.queryPassword,
         &config.queryCredentialsGenerated,
         {},
         {}},
    };
    if (pairs[0].needed || pairs[1].needed) {
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bool ok = !in.bad();
        for (Pair& p : pairs) {
            if (!ok || !p.needed) continue;
            ok = generateCredentials(p.madeUser, p.madePassword);
            text = setIniServerValue(setIniServerValue(text, p.userKey, p.madeUser), p.passwordKey,
                                     p.madePassword);
        }
        if (!ok || !replaceFilePrivately(path, text)) {
            error = "cannot store the generated credentials in " + path;
            return false;
        }
        for (Pair& p : pairs) {
            if (!p.needed) continue;
            *p.user = std::move(p.madeUser);
            *p.password = std::move(p.madePassword);
            *p.generated = true;
        }
    }
    // A folder written with Windows separators still works here.
    std::replace(config.directory.begin(), config.directory.end(), '\\', '/');
    return true;
}

}  // namespace ixoserver
