#include "server/srvconfig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ixoserver {

namespace fs = std::filesystem;

namespace {

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::strchr(" \t\r\n", s[b])) ++b;
    while (e > b && std::strchr(" \t\r\n", s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool toInt(const std::string& text, long lo, long hi, long& out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno != 0 || v < lo || v > hi) return false;
    out = v;
    return true;
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

bool iniLookup(const std::string& text, const std::string& section, const std::string& key,
               std::string& value) {
    std::istringstream in(text);
    std::string line, current;
    const std::string wantSection = upper(section), wantKey = upper(key);
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty()) continue;
        if (line[0] == '[') {
            auto close = line.find(']');
            if (close != std::string::npos) current = upper(trim(line.substr(1, close - 1)));
            continue;
        }
        if (current != wantSection) continue;
        if (!std::isalnum(static_cast<unsigned char>(line[0])) && line[0] != '%') continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (upper(trim(line.substr(0, eq))) != wantKey) continue;
        value = trim(line.substr(eq + 1));
        return true;
    }
    return false;
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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream buf;
    buf << in.rdbuf();
    const std::string text = buf.str();

    std::string v;
    long n = 0;
    auto intKey = [&](const char* key, long lo, long hi, auto& target) {
        if (iniLookup(text, "SERVER", key, v) && toInt(v, lo, hi, n))
            target = static_cast<std::remove_reference_t<decltype(target)>>(n);
    };
    intKey("QUERYPORT", 0, 65535, config.queryPort);
    intKey("INDEXPORT", 0, 65535, config.indexPort);
    intKey("WORKERTHREADS", 1, 64, config.workerThreads);
    intKey("MAXBODYBYTES", 1024, LONG_MAX, config.maxBodyBytes);
    intKey("MAXHEADERBYTES", 1024, 16L << 20, config.maxHeaderBytes);
    intKey("COMMITINTERVALMS", 10, 60000, config.commitIntervalMs);
    if (iniLookup(text, "SERVER", "DIRECTORY", v) && !v.empty()) config.directory = v;
    if (iniLookup(text, "SERVER", "BINDADDRESS", v) && !v.empty()) config.bindAddress = v;
    if (iniLookup(text, "SERVER", "INDEXUSER", v)) config.indexUser = v;
    if (iniLookup(text, "SERVER", "INDEXPASSWORD", v)) config.indexPassword = v;
    // A folder written with Windows separators still works here.
    std::replace(config.directory.begin(), config.directory.end(), '\\', '/');
    return true;
}

}  // namespace ixoserver
