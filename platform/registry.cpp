#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "support/diaglog.h"

// The machine hive's folder under the install's configuration folder (set by the build
// from the install prefix: /etc/sapiolux for /usr, /usr/local/etc/sapiolux for /usr/local).
#ifndef SAPIOLUX_MACHINE_HIVE_DEFAULT
#define SAPIOLUX_MACHINE_HIVE_DEFAULT "/etc/sapiolux"
#endif

namespace platform {
namespace {

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

const char* rootName(RegHive hive) {
    return hive == RegHive::User ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

// The hives in the user's own folder, which may hold passwords.
bool isPrivate(RegHive hive) {
    return hive != RegHive::Machine;
}

std::string hiveDir(RegHive hive) {
    const char* env = std::getenv(hive == RegHive::Machine ? "SAPIOLUX_MACHINE_HIVE_DIR"
                                                           : "SAPIOLUX_USER_HIVE_DIR");
    if (env && *env) return env;
    if (hive == RegHive::Machine) return regDefaultMachineHiveDir();
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::string(xdg) + "/sapiolux";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/sapiolux";
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    return s;
}

// A line without its ending ("\n", "\r\n" or none at the end of the text).
std::string_view content(const std::string& line) {
    std::string_view s = line;
    if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    return s;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after the closing quote.
// A backslash takes the next character as it is.
bool readQuoted(std::string_view text, size_t& pos, std::string& out) {
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

// Comma-separated hexadecimal bytes ("01,a0, ff"); one empty item at the end is
// allowed (a list that ended with a comma before its continuation).
bool parseHexBytes(std::string_view list, std::string& out) {
    out.clear();
    list = trimRight(trimLeft(list));
    if (list.empty()) return true;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string_view::npos) comma = list.size();
        std::string_view item = trimRight(trimLeft(list.substr(pos, comma - pos)));
        pos = comma + 1;
        if (item.empty()) {
            if (comma == list.size()) break;
            return false;
        }
        if (item.size() > 2) return false;
        int value = 0;
        for (char c : item) {
            int d = hexDigit(c);
            if (d < 0) return false;
            value = value * 16 + d;
        }
        out += static_cast<char>(value);
    }
    return true;
}

bool writableText(const std::string& s) {
    return s.find_first_of("\r\n") == std::string::npos;
}

std::string valueLine(const std::string& name, const RegValue& value) {
    std::string out = (name.empty() ? std::string("@") : quote(name)) + "=";
    if (const auto* n = std::get_if<uint32_t>(&value)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", *n);
        out += buf;
    } else {
        out += quote(std::get<std::string>(value));
    }
    return out;
}

// Gives the last line of text its line end if it has none; a CR already there
// becomes part of a CRLF (the reader takes one CR off a line, not two).
void endLine(std::string& text, const std::string& eol) {
    if (text.empty() || text.back() == '\n') return;
    text += text.back() == '\r' ? std::string("\n") : eol;
}

bool endsWithBlankLine(const std::string& s) {
    size_t n = s.size();
    return (n >= 2 && s[n - 1] == '\n' && s[n - 2] == '\n') ||
           (n >= 3 && s[n - 1] == '\n' && s[n - 2] == '\r' && s[n - 3] == '\n');
}

// The whole file: nothing when it cannot be opened or read to its end.
std::optional<std::string> readWhole(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

}  // namespace

const char* regDefaultMachineHiveDir() {
    return SAPIOLUX_MACHINE_HIVE_DEFAULT;
}

std::string regHiveFile(RegHive hive) {
    switch (hive) {
        case RegHive::User:
            return hiveDir(hive) + "/user.reg";
        case RegHive::Machine:
            return hiveDir(hive) + "/machine.reg";
        case RegHive::MachineOverlay:
            break;
    }
    return hiveDir(hive) + "/machine-overlay.reg";
}

std::optional<RegSnapshot> RegSnapshot::tryLoad(RegHive hive) {
    const std::string file = regHiveFile(hive);
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        if (errno == ENOENT) return RegSnapshot{};
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    auto text = readWhole(file);
    if (!text) return std::nullopt;
    return parse(*text);
}

RegSnapshot RegSnapshot::load(RegHive hive) {
    auto snap = tryLoad(hive);
    return snap ? std::move(*snap) : RegSnapshot{};
}

RegSnapshot RegSnapshot::parse(const std::string& text) {
    RegSnapshot snap;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        snap.lines_.emplace_back(text, pos, end - pos);
        pos = end;
    }
    for (const auto& line : snap.lines_) {
        if (line.size() >= 2 && line.back() == '\n') {
            snap.eol_ = line[line.size() - 2] == '\r' ? "\r\n" : "\n";
            break;
        }
    }
    if (!snap.lines_.empty())
        snap.unicodeHex_ =
            content(snap.lines_[0]).rfind("Windows Registry Editor Version 5", 0) == 0;
    snap.index();
    return snap;
}

void RegSnapshot::index() {
    keys_.clear();
    Key* current = nullptr;
    for (size_t i = 0; i < lines_.size(); ++i) {
        std::string_view line = content(lines_[i]);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            current = nullptr;
            line = trimRight(line);
            if (line.size() < 2 || line.back() != ']' || line[1] == '-') continue;
            std::string_view full = line.substr(1, line.size() - 2);
            size_t slash = full.find('\\');
            if (slash == std::string_view::npos || slash + 1 >= full.size()) continue;
            std::string path(full.substr(slash + 1));
            Key& key = keys_[upper(path)];
            if (key.path.empty()) key.path = path;
            key.insertAt = i + 1;
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
        while (pos < line.size() && isBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != '=') continue;
        ++pos;
        while (pos < line.size() && isBlank(line[pos])) ++pos;
        std::string_view rest = line.substr(pos);

        Value value;
        value.name = name;
        value.line = i;
        value.lineCount = 1;
        bool ok = false;
        if (!rest.empty() && rest.front() == '"') {
            size_t q = 0;
            ok = readQuoted(rest, q, value.text) && trimRight(rest.substr(q)).empty();
            value.kind = Kind::Text;
        } else if (rest.substr(0, 6) == "dword:") {
            std::string_view digits = trimRight(rest.substr(6));
            ok = !digits.empty() && digits.size() <= 8;
            uint32_t n = 0;
            for (char c : digits) {
                int d = hexDigit(c);
                ok = ok && d >= 0;
                n = n * 16 + static_cast<uint32_t>(d < 0 ? 0 : d);
            }
            value.kind = Kind::Number;
            value.number = n;
        } else if (rest.substr(0, 3) == "hex") {
            // hex: or hex(N):, the bytes possibly continued over the next lines, each
            // continued line ending with a backslash.
            std::string_view tail = rest.substr(3);
            long type = 3;  // plain bytes
            if (!tail.empty() && tail.front() == '(') {
                size_t close = tail.find(')');
                ok = close != std::string_view::npos && close >= 2 && close <= 9;
                type = 0;
                for (size_t k = 1; ok && k < close; ++k) {
                    int d = hexDigit(tail[k]);
                    ok = d >= 0;
                    type = type * 16 + d;
                }
                tail = ok ? tail.substr(close + 1) : std::string_view();
                if (!ok) type = -1;
            }
            std::string list;
            bool typed = type >= 0 && !tail.empty() && tail.front() == ':';
            if (typed) tail.remove_prefix(1);
            std::string_view piece = trimRight(tail);
            while (!piece.empty() && piece.back() == '\\' && i + value.lineCount < lines_.size()) {
                std::string_view next = trimRight(trimLeft(content(lines_[i + value.lineCount])));
                if (next.empty()) break;  // a blank line ends the value, not continues it
                list.append(piece.substr(0, piece.size() - 1));
                piece = next;
                ++value.lineCount;
            }
            // A list whose last line still asks for a continuation has lost its end.
            const bool cut = !piece.empty() && piece.back() == '\\';
            list.append(piece);
            std::string bytes;
            ok = typed && !cut && parseHexBytes(list, bytes);
            if (ok && (type == 1 || type == 2)) {
                // A text (expandable or not) with its terminating zero.
                value.kind = Kind::Text;
                if (unicodeHex_) {
                    for (size_t k = 0; k + 1 < bytes.size(); k += 2) {
                        unsigned unit = static_cast<unsigned char>(bytes[k]) |
                                        static_cast<unsigned char>(bytes[k + 1]) << 8;
                        if (unit == 0) break;
                        value.text += unit < 256 ? static_cast<char>(unit) : '?';
                    }
                } else {
                    value.text = bytes.substr(0, bytes.find('\0'));
                }
            } else if (ok && type == 4 && bytes.size() == 4) {
                value.kind = Kind::Number;
                for (int k = 3; k >= 0; --k)
                    value.number = value.number << 8 | static_cast<unsigned char>(bytes[k]);
            } else {
                value.kind = Kind::Bytes;
            }
        }
        const size_t used = value.lineCount;
        if (ok) {
            current->values[upper(name)] = std::move(value);
            current->insertAt = i + used;
        }
        i += used - 1;
    }
}

const RegSnapshot::Value* RegSnapshot::find(const std::string& keyPath,
                                            const std::string& name) const {
    const std::string upperPath = upper(keyPath);
    for (const auto* keys : {&keys_, &addedKeys_}) {
        auto k = keys->find(upperPath);
        if (k == keys->end()) continue;
        auto v = k->second.values.find(upper(name));
        if (v != k->second.values.end()) return &v->second;
    }
    return nullptr;
}

std::optional<uint32_t> RegSnapshot::number(const std::string& keyPath,
                                            const std::string& name) const {
    const Value* v = find(keyPath, name);
    if (!v || v->kind != Kind::Number) return std::nullopt;
    return v->number;
}

std::optional<std::string> RegSnapshot::text(const std::string& keyPath,
                                             const std::string& name) const {
    const Value* v = find(keyPath, name);
    if (!v || v->kind != Kind::Text) return std::nullopt;
    return v->text;
}

bool RegSnapshot::set(const std::string& keyPath, const std::string& name, RegValue value) {
    if (keyPath.empty() || !writableText(keyPath) ||
        keyPath.find_first_of("[]") != std::string::npos || !writableText(name))
        return false;
    if (const auto* s = std::get_if<std::string>(&value); s && !writableText(*s)) return false;

    const std::string upperPath = upper(keyPath);
    const std::string upperName = upper(name);
    auto inText = keys_.find(upperPath);
    if (inText == keys_.end()) {
        // A key the text does not hold: format() writes it at the end.
        Key& key = addedKeys_[upperPath];
        if (key.path.empty()) {
            key.path = keyPath;
            addedOrder_.push_back(upperPath);
        }
        Value& v = key.values[upperName];
        if (v.name.empty()) v.name = name;
        if (const auto* n = std::get_if<uint32_t>(&value)) {
            v.kind = Kind::Number;
            v.number = *n;
        } else {
            v.kind = Kind::Text;
            v.text = std::get<std::string>(value);
        }
        return true;
    }
    Key& key = inText->second;
    auto old = key.values.find(upperName);
    if (old != key.values.end()) {
        // The value's line(s) become one line, keeping the ending of the last one.
        const Value& v = old->second;
        const std::string& last = lines_[v.line + v.lineCount - 1];
        std::string ending =
            last.size() - content(last).size() ? last.substr(content(last).size()) : std::string();
        lines_[v.line] = valueLine(v.name, value) + ending;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(v.line + 1),
                     lines_.begin() + static_cast<std::ptrdiff_t>(v.line + v.lineCount));
    } else {
        const size_t at = key.insertAt;
        if (at > 0) endLine(lines_[at - 1], eol_);
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                      valueLine(name, value) + eol_);
    }
    index();
    return true;
}

std::string RegSnapshot::format(const std::string& root) const {
    std::string out;
    if (lines_.empty()) out = "REGEDIT4" + eol_ + eol_;
    for (const auto& line : lines_) out += line;
    for (const auto& upperPath : addedOrder_) {
        const Key& key = addedKeys_.at(upperPath);
        if (!out.empty()) endLine(out, eol_);
        if (!endsWithBlankLine(out)) out += eol_;
        out += "[" + root + "\\" + key.path + "]" + eol_;
        for (const auto& [id, v] : key.values) {
            RegValue value = v.kind == Kind::Number ? RegValue(v.number) : RegValue(v.text);
            out += valueLine(v.name, value) + eol_;
        }
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

bool writeFileReplacing(const std::string& path, std::string_view bytes, mode_t mode) {
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    const fs::path target(path);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = (dir / ("." + target.filename().string() + ".tmp." + std::to_string(::getpid()) +
                       "." + std::to_string(counter.fetch_add(1))))
                   .string();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0 && ::fchmod(fd, mode & 07777) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

namespace {

// Makes the missing folders of dir, each 0700 whatever the umask; folders that exist
// are left as they are.
void makePrivateDirs(const std::filesystem::path& dir) {
    if (dir.empty()) return;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return;
    makePrivateDirs(dir.parent_path());
    if (::mkdir(dir.c_str(), 0700) == 0) ::chmod(dir.c_str(), 0700);
}

bool writeValue(RegHive hive, const std::string& keyPath, const std::string& name, RegValue value) {
    std::string file = regHiveFile(hive);
    const std::filesystem::path dir = std::filesystem::path(file).parent_path();
    if (isPrivate(hive)) {
        makePrivateDirs(dir);
    } else {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
    }

    int lock = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) return false;
    bool ok = false;
    if (::flock(lock, LOCK_EX) == 0) {
        // The hive is replaced only when all of it was read and it may be written: a
        // hive that cannot be read would otherwise be replaced by the one value set,
        // and a read-only one would be overwritten.
        struct stat st {};
        const bool exists = ::stat(file.c_str(), &st) == 0;
        std::optional<RegSnapshot> snap;
        if (exists && ((st.st_mode & 0222) == 0 || ::access(file.c_str(), W_OK) != 0)) {
            diagLog("settings: %s is read-only; \"%s\" of [%s] was not written\n", file.c_str(),
                    name.c_str(), keyPath.c_str());
        } else {
            snap = RegSnapshot::tryLoad(hive);
            if (!snap)
                diagLog("settings: %s cannot be read; \"%s\" of [%s] was not written\n",
                        file.c_str(), name.c_str(), keyPath.c_str());
        }
        if (snap) {
            const std::string before = snap->format(rootName(hive));
            if (snap->set(keyPath, name, std::move(value))) {
                const std::string after = snap->format(rootName(hive));
                // A hive reached through a symbolic link is replaced where it lies.
                std::string target = file;
                if (exists) {
                    char real[PATH_MAX];
                    if (::realpath(file.c_str(), real)) target = real;
                }
                const mode_t mode = exists ? st.st_mode : (isPrivate(hive) ? 0600 : 0644);
                ok = (exists && after == before) || writeFileReplacing(target, after, mode);
            }
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
