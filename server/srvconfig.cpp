#include "server/srvconfig.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "support/envcfgutil.h"

namespace ixoserver {

namespace fs = std::filesystem;

namespace {

bool toInt(const std::string& text, long lo, long hi, long& out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno != 0 || v < lo || v > hi) return false;
    out = v;
    return true;
}

struct ConfigCloser {
    void operator()(ConfigFile* cfg) const {
        if (cfg) envCfgClose(&cfg);
    }
};

// The value of key in section "SERVER" (or "DEFAULT"); false when absent.
bool serverValue(ConfigFile* cfg, const char* key, std::string& value) {
    char* text = nullptr;
    const int found = envCfgGetText(cfg, "SERVER", key, &text, nullptr);
    value = text ? text : "";
    if (text) memFree(text);
    return found == 1;
}

}  // namespace

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
           "; when both are set, index commands need &user= and &pass= with these values\r\n"
           "INDEXUSER=\r\n"
           "INDEXPASSWORD=\r\n"
           "\r\n";
}

bool loadServerConfig(const std::string& home, ServerConfig& config, std::string& error) {
    config.home = home.empty() ? std::string(".") : home;
    const std::string path = config.iniPath();
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        fs::create_directories(fs::path(path).parent_path(), ec);
        std::ofstream out(path, std::ios::binary);
        out << defaultIniText();
        if (!out) {
            error = "cannot create " + path;
            return false;
        }
    }
    ConfigFile* raw = nullptr;
    if (envCfgLoad(&raw, path.c_str(), 0) != 0) {
        error = "cannot read " + path;
        return false;
    }
    std::unique_ptr<ConfigFile, ConfigCloser> cfg(raw);

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
    // A folder written with Windows separators still works here.
    std::replace(config.directory.begin(), config.directory.end(), '\\', '/');
    return true;
}

}  // namespace ixoserver
