#include "server/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "support/envcfgutil.h"

namespace ixoserver {

namespace fs = std::filesystem;

void ConfigCloser::operator()(ConfigFile* cfg) const {
    if (cfg) envCfgClose(&cfg);
}

std::string upperAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string trimmedText(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

bool parseIniInt(const std::string& text, long lo, long hi, long& out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno != 0 || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseIniFlag(const std::string& text, bool fallback) {
    const std::string t = upperAscii(trimmedText(text));
    if (t == "ON" || t == "YES" || t == "TRUE" || t == "1") return true;
    if (t == "OFF" || t == "NO" || t == "FALSE" || t == "0") return false;
    return fallback;
}

bool iniValue(ConfigFile* cfg, const char* section, const char* key, std::string& value) {
    char* text = nullptr;
    const int found = envCfgGetText(cfg, section, key, &text, nullptr);
    value = text ? text : "";
    if (text) memFree(text);
    return found == 1;
}

bool replaceFilePrivately(const std::string& path, const std::string& text) {
    const std::string temp = path + ".new";
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t off = 0;
    bool ok = true;
    while (off < text.size()) {
        ssize_t n = ::write(fd, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        off += static_cast<size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string setIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value) {
    const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    const std::string wanted = upperAscii(key);
    const std::string wantedSection = upperAscii(section);
    bool inSection = false;
    long sectionLine = -1;
    long keyLine = -1;
    long lastInSection = -1;  // the section's last line that is not blank
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string t = trimmedText(lines[i]);
        if (!t.empty() && t.front() == '[') {
            std::string name =
                t.substr(1, t.find(']') == std::string::npos ? std::string::npos : t.find(']') - 1);
            inSection = upperAscii(trimmedText(name)) == wantedSection;
            if (inSection && sectionLine < 0) {
                sectionLine = static_cast<long>(i);
                lastInSection = sectionLine;
            }
            continue;
        }
        if (inSection && !t.empty()) lastInSection = static_cast<long>(i);
        if (!inSection || t.empty() || t[0] == ';' || t[0] == '#') continue;
        const size_t eq = t.find('=');
        if (eq != std::string::npos && upperAscii(trimmedText(t.substr(0, eq))) == wanted)
            keyLine = static_cast<long>(i);
    }
    const std::string entry = key + "=" + value;
    if (keyLine >= 0) {
        lines[static_cast<size_t>(keyLine)] = entry;
    } else if (sectionLine >= 0) {
        lines.insert(lines.begin() + lastInSection + 1, entry);
    } else {
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    }
    std::string out;
    for (const auto& l : lines) out += l + eol;
    return out;
}

ConfigPtr openServerIni(const std::string& path, const std::string& defaultText,
                        std::string& error) {
    std::error_code ec;
    const fs::path folder = fs::path(path).parent_path();
    if (!fs::exists(path, ec)) {
        if (!folder.empty()) fs::create_directories(folder, ec);
        if (!replaceFilePrivately(path, defaultText)) {
            error = "cannot create " + path;
            return nullptr;
        }
    }
    // The file may hold passwords: only its owner reads it.
    if (fs::is_regular_file(path, ec)) {
        ::chmod(path.c_str(), 0600);
        if (!folder.empty()) ::chmod(folder.c_str(), 0700);
    }
    ConfigFile* raw = nullptr;
    if (envCfgLoad(&raw, path.c_str(), 0) != 0) {
        error = "cannot read " + path;
        return nullptr;
    }
    return ConfigPtr(raw);
}

}  // namespace ixoserver
