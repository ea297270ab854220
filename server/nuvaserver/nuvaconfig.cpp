#include "server/nuvaserver/nuvaconfig.h"

#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/inifile.h"

namespace nuvaserver {

namespace fs = std::filesystem;
using ixoserver::iniValue;
using ixoserver::parseIniInt;
using ixoserver::trimmedText;
using ixoserver::upperAscii;

std::string NuvaConfig::iniPath() const {
    return (fs::path(home) / "nuvaserver.ini").string();
}
std::string NuvaConfig::resolve(const std::string& relative) const {
    fs::path p(relative);
    return p.is_absolute() ? p.string() : (fs::path(home) / p).string();
}
std::string NuvaConfig::stopFilePath() const {
    return (fs::path(home) / "nuvaserver.stop").string();
}
std::string NuvaConfig::portFilePath() const {
    return (fs::path(home) / "nuvaserver.port").string();
}

std::string defaultNuvaIni() {
    return "[SERVER]\r\n"
           "PORT=6225\r\n"
           "; address the port is bound to; 127.0.0.1 keeps the server private\r\n"
           "BINDADDRESS=127.0.0.1\r\n"
           "; requests go to /PATH/EXECUTABLENAME?METHOD=...\r\n"
           "PATH=sapiolux\r\n"
           "EXECUTABLENAME=account\r\n"
           "; host[:port] the agents reach this server at (for the upgrade address);\r\n"
           "; empty: BINDADDRESS:PORT\r\n"
           "PUBLICADDRESS=\r\n"
           "WORKERTHREADS=4\r\n"
           "ACCOUNTS=accounts.db\r\n"
           "; banner files, served as /banners/NAME\r\n"
           "BANNERS=banners\r\n"
           "; upgrade programs, served as /upgrades/NAME\r\n"
           "UPGRADES=upgrades\r\n"
           "MAXFILEBYTES=67108864\r\n"
           "\r\n"
           "[UPGRADE]\r\n"
           "; a program in the UPGRADES folder, offered to agents whose version is below\r\n"
           "; VERSION (both must be set)\r\n"
           "FILE=\r\n"
           "VERSION=\r\n"
           "\r\n"
           "; Handed to every agent that logs in; these keys (and further sections) are\r\n"
           "; merged into the agent's Extended file.\r\n"
           "[Settings]\r\n"
           "Alive=1\r\n"
           "; the retrieval server and its databases\r\n"
           "IXO=127.0.0.1\r\n"
           "Port=6223\r\n"
           "DB0=Default\r\n"
           "DBName0=Default\r\n"
           "; logo bitmaps, by absolute http:// address (empty: none)\r\n"
           "AboutLogo=\r\n"
           "SplashLogo=\r\n"
           "QueryLogo=\r\n"
           "ShowIxoSettingsPage=1\r\n"
           "ShowProxySettingsPage=1\r\n"
           "ShowPreferencesSettingsPage=1\r\n"
           "ShowSourcesSettingsPage=1\r\n"
           "ShowHotKeySettingsPage=1\r\n"
           "ShowAdvancedSettingsPage=0\r\n"
           "ShowUrlManipulationSettingsPage=0\r\n"
           "\r\n";
}

std::string replySections(const std::string& iniText) {
    std::string out;
    bool handed = false;
    std::istringstream in(iniText);
    for (std::string line; std::getline(in, line);) {
        const std::string t = trimmedText(line);
        if (t.empty()) continue;
        if (t.front() == '[' && t.find(']') != std::string::npos) {
            const std::string name = trimmedText(t.substr(1, t.find(']') - 1));
            const std::string upper = upperAscii(name);
            handed = !name.empty() && upper != "SERVER" && upper != "UPGRADE" && upper != "DEFAULT";
            if (handed) out += "[" + name + "]\r\n";
            continue;
        }
        const unsigned char first = static_cast<unsigned char>(t.front());
        if (!handed || t.find('=') == std::string::npos) continue;
        if (!(std::isalnum(first) || first == '%')) continue;
        out += t + "\r\n";
    }
    return out;
}

int compareVersions(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        long x = 0, y = 0;
        while (i < a.size() && a[i] != '.') {
            if (a[i] >= '0' && a[i] <= '9' && x < 100000000) x = x * 10 + (a[i] - '0');
            ++i;
        }
        while (j < b.size() && b[j] != '.') {
            if (b[j] >= '0' && b[j] <= '9' && y < 100000000) y = y * 10 + (b[j] - '0');
            ++j;
        }
        if (x != y) return x < y ? -1 : 1;
        if (i < a.size()) ++i;
        if (j < b.size()) ++j;
    }
    return 0;
}

bool loadNuvaConfig(const std::string& home, NuvaConfig& config, std::string& error) {
    config.home = home.empty() ? std::string(".") : home;
    const std::string path = config.iniPath();
    ixoserver::ConfigPtr cfg = ixoserver::openServerIni(path, defaultNuvaIni(), error);
    if (!cfg) return false;
    std::string v;
    long n = 0;
    auto server = [&](const char* key) { return iniValue(cfg.get(), "SERVER", key, v); };
    if (server("PORT") && parseIniInt(v, 0, 65535, n)) config.port = static_cast<int>(n);
    if (server("WORKERTHREADS") && parseIniInt(v, 1, 64, n))
        config.workerThreads = static_cast<int>(n);
    if (server("MAXFILEBYTES") && parseIniInt(v, 1024, 1L << 30, n))
        config.maxFileBytes = static_cast<std::size_t>(n);
    auto text = [&](const char* key, std::string& target) {
        if (server(key) && !trimmedText(v).empty()) target = trimmedText(v);
    };
    text("BINDADDRESS", config.bindAddress);
    text("PATH", config.path);
    text("EXECUTABLENAME", config.executableName);
    text("PUBLICADDRESS", config.publicAddress);
    text("ACCOUNTS", config.accounts);
    text("BANNERS", config.banners);
    text("UPGRADES", config.upgrades);
    if (iniValue(cfg.get(), "UPGRADE", "FILE", v)) config.upgradeFile = trimmedText(v);
    if (iniValue(cfg.get(), "UPGRADE", "VERSION", v)) config.upgradeVersion = trimmedText(v);
    // The path segments are compared with the request's as they stand.
    while (!config.path.empty() && config.path.front() == '/') config.path.erase(0, 1);
    while (!config.path.empty() && config.path.back() == '/') config.path.pop_back();
    std::ifstream in(path, std::ios::binary);
    std::string iniText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    config.replyText = replySections(iniText);
    return true;
}

}  // namespace nuvaserver
