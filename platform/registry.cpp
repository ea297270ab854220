#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const char* rootName(RegHive hive) {
    return hive == RegHive::User ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string hiveDir(RegHive hive) {
    const char* env =
        std::getenv(hive == RegHive::User ? "SAPIOLUX_USER_HIVE_DIR" : "SAPIOLUX_MACHINE_HIVE_DIR");
    if (env && *env) return env;
    if (hive == RegHive::Machine) return "/etc/sapiolux";
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::string(xdg) + "/sapiolux";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/sapiolux";
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after the closing quote.
bool readQuoted(const std::string& text, size_t& pos, std::string& out) {
    if (pos >= text.size() || text[pos] != '"') return false;
    out.clear();
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (++pos >= text.size()) return false;
            c = text[pos];
        }
        out += c;
    }
    return false;
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

std::string regHiveFile(RegHive hive) {
    return hiveDir(hive) + (hive == RegHive::User ? "/user.reg" : "/machine.reg");
}

RegSnapshot RegSnapshot::load(RegHive hive) {
    return parse(readFile(regHiveFile(hive)));
}

RegSnapshot RegSnapshot::parse(const std::string& text) {
    RegSnapshot snap;
    Key* current = nullptr;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.front() == '[') {
            current = nullptr;
            if (line.back() != ']') continue;
            std::string full = line.substr(1, line.size() - 2);
            size_t slash = full.find('\\');
            if (slash == std::string::npos || slash + 1 >= full.size()) continue;
            std::string path = full.substr(slash + 1);
            Key& key = snap.keys_[upper(path)];
            if (key.path.empty()) key.path = path;
            current = &key;
            continue;
        }
        if (!current) continue;
        // A value line: "name"=... or @=... for the key's default value (empty name).
        size_t pos = 0;
        std::string name;
        if (line.front() == '@')
            pos = 1;
        else if (line.front() != '"' || !readQuoted(line, pos, name))
            continue;
        if (pos >= line.size() || line[pos] != '=') continue;
        ++pos;
        if (pos < line.size() && line[pos] == '"') {
            std::string value;
            if (!readQuoted(line, pos, value) || pos != line.size()) continue;
            current->values[upper(name)] = Value{name, value};
        } else if (line.compare(pos, 6, "dword:") == 0) {
            std::string digits = line.substr(pos + 6);
            if (digits.empty() || digits.size() > 8) continue;
            bool ok = true;
            for (char c : digits) ok = ok && std::isxdigit(static_cast<unsigned char>(c));
            if (!ok) continue;
            uint32_t v = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
            current->values[upper(name)] = Value{name, v};
        }
    }
    return snap;
}

const RegSnapshot::Value* RegSnapshot::find(const std::string& keyPath,
                                            const std::string& name) const {
    auto k = keys_.find(upper(keyPath));
    if (k == keys_.end()) return nullptr;
    auto v = k->second.values.find(upper(name));
    return v == k->second.values.end() ? nullptr : &v->second;
}

std::optional<uint32_t> RegSnapshot::number(const std::string& keyPath,
                                            const std::string& name) const {
    const Value* v = find(keyPath, name);
    if (!v || !std::holds_alternative<uint32_t>(v->value)) return std::nullopt;
    return std::get<uint32_t>(v->value);
}

std::optional<std::string> RegSnapshot::text(const std::string& keyPath,
                                             const std::string& name) const {
    const Value* v = find(keyPath, name);
    if (!v || !std::holds_alternative<std::string>(v->value)) return std::nullopt;
    return std::get<std::string>(v->value);
}

void RegSnapshot::set(const std::string& keyPath, const std::string& name, RegValue value) {
    Key& key = keys_[upper(keyPath)];
    if (key.path.empty()) key.path = keyPath;
    Value& v = key.values[upper(name)];
    if (v.name.empty()) v.name = name;
    v.value = std::move(value);
}

std::string RegSnapshot::format(const std::string& root) const {
    std::string out = "REGEDIT4\n\n";
    for (const auto& [id, key] : keys_) {
        out += "[" + root + "\\" + key.path + "]\n";
        for (const auto& [vid, v] : key.values) {
            out += (v.name.empty() ? std::string("@") : quote(v.name)) + "=";
            if (const auto* n = std::get_if<uint32_t>(&v.value)) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", *n);
                out += buf;
            } else {
                out += quote(std::get<std::string>(v.value));
            }
            out += "\n";
        }
        out += "\n";
    }
    return out;
}

std::optional<uint32_t> regReadNumber(RegHive hive, const std::string& keyPath,
                                      const std::string& name) {
    return RegSnapshot::load(hive).number(keyPath, name);
}

std::optional<std::string> regReadText(RegHive hive, const std::string& keyPath,
                                       const std::string& name) {
    return RegSnapshot::load(hive).text(keyPath, name);
}

namespace {

// Values are single-line texts in the file form; a line break would end the line.
bool writable(const std::string& s) {
    return s.find_first_of("\r\n") == std::string::npos;
}

bool writeValue(RegHive hive, const std::string& keyPath, const std::string& name, RegValue value) {
    if (keyPath.empty() || !writable(keyPath) || keyPath.find_first_of("[]") != std::string::npos ||
        !writable(name))
        return false;
    if (const auto* s = std::get_if<std::string>(&value); s && !writable(*s)) return false;
    std::string file = regHiveFile(hive);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);

    int lock = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) return false;
    bool ok = false;
    if (::flock(lock, LOCK_EX) == 0) {
        RegSnapshot snap = RegSnapshot::load(hive);
        snap.set(keyPath, name, std::move(value));
        std::string text = snap.format(rootName(hive));
        std::string temp = file + ".tmp." + std::to_string(::getpid());
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            size_t done = 0;
            while (done < text.size()) {
                ssize_t n = ::write(fd, text.data() + done, text.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            bool written = done == text.size() && ::fsync(fd) == 0;
            written = (::close(fd) == 0) && written;
            ok = written && ::rename(temp.c_str(), file.c_str()) == 0;
            if (!ok) ::unlink(temp.c_str());
        }
        ::flock(lock, LOCK_UN);
    }
    ::close(lock);
    return ok;
}

}  // namespace

bool regWriteNumber(RegHive hive, const std::string& keyPath, const std::string& name,
                    uint32_t value) {
    return writeValue(hive, keyPath, name, value);
}

bool regWriteText(RegHive hive, const std::string& keyPath, const std::string& name,
                  const std::string& value) {
    return writeValue(hive, keyPath, name, value);
}

}  // namespace platform
