// Where each mail program keeps its mailboxes: the settings registry for the Windows
// programs, the user's home folder for mbox (Thunderbird profiles) and Maildir, or the
// store folders and files the user names.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "import/eudoraparse.h"
#include "import/oe5parse.h"
#include "import/outlookparse.h"
#include "mailfetch/emailclient.h"
#include "platform/registry.h"
#include "support/diaglog.h"

namespace fs = std::filesystem;

namespace mailfetch {

namespace {

constexpr int kMaxDepth = 16;     // sub-folder levels followed
constexpr size_t kMaxLine = 260;  // longest Descmap.pce line

bool sameCaseBlind(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool hasExtension(const fs::path& p, const char* ext) {
    return sameCaseBlind(p.extension().string(), ext);
}

// The entry of directory named name without regard to case, or empty.
fs::path findCaseBlind(const fs::path& directory, const std::string& name) {
    std::error_code ec;
    if (fs::exists(directory / name, ec)) return directory / name;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec))
        if (sameCaseBlind(it->path().filename().string(), name)) return it->path();
    return {};
}

void listWithExtension(const fs::path& directory, const char* ext, std::vector<Mailbox>& out) {
    std::vector<Mailbox> found;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || !hasExtension(it->path(), ext)) continue;
        fs::path stem = it->path();
        stem.replace_extension();
        found.push_back({stem.string(), stem.filename().string()});
    }
    std::sort(found.begin(), found.end(),
              [](const Mailbox& a, const Mailbox& b) { return a.path < b.path; });
    out.insert(out.end(), found.begin(), found.end());
}

void walkDescmap(const fs::path& directory, const std::string& displayPath, int depth,
                 std::vector<Mailbox>& out) {
    if (depth > kMaxDepth) return;
    fs::path map = findCaseBlind(directory, "Descmap.pce");
    if (map.empty()) return;
    std::ifstream in(map, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > kMaxLine) line.resize(kMaxLine);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 3; ++i) {
            size_t comma = line.find(',', start);
            fields.push_back(
                line.substr(start, comma == std::string::npos ? comma : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        while (fields.size() < 3) fields.emplace_back();
        const std::string& name = fields[0];
        const std::string& file = fields[1];
        if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..")
            continue;
        if (fields[2] == "F") {
            walkDescmap(directory / file, displayPath + name + "\\", depth + 1, out);
        } else {
            out.push_back(
                {(directory / file.substr(0, file.find('.'))).string(), displayPath + name});
        }
    }
}

// Thunderbird keeps one mbox per folder; sub-folders of "X" live in "X.sbd/". Index
// files (".msf") and other side files are not mailboxes: a mailbox is a file that is
// empty or begins with "From ".
void walkMboxFolder(const fs::path& directory, const std::string& displayPath, int depth,
                    std::vector<Mailbox>& out) {
    if (depth > kMaxDepth) return;
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& p : entries) {
        std::error_code e;
        std::string name = p.filename().string();
        if (fs::is_directory(p, e)) {
            if (hasExtension(p, ".sbd"))
                walkMboxFolder(p, displayPath + p.stem().string() + "/", depth + 1, out);
            continue;
        }
        if (!fs::is_regular_file(p, e) || hasExtension(p, ".msf") || name[0] == '.') continue;
        char head[5] = {};
        std::ifstream in(p, std::ios::binary);
        in.read(head, 5);
        if (in.gcount() == 0 || (in.gcount() == 5 && std::string(head, 5) == "From "))
            out.push_back({p.string(), displayPath + name});
    }
}

void addMaildir(const fs::path& directory, std::vector<Mailbox>& out) {
    std::error_code ec;
    if (!fs::is_directory(directory / "cur", ec) && !fs::is_directory(directory / "new", ec))
        return;
    out.push_back({directory.string(), "Inbox"});
    // Maildir++ sub-folders: ".Name" (and ".Parent.Child") beside cur/ and new/.
    std::vector<Mailbox> subs;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code e;
        if (name.size() > 1 && name[0] == '.' && fs::is_directory(it->path() / "cur", e))
            subs.push_back({it->path().string(), name.substr(1)});
    }
    std::sort(subs.begin(), subs.end(),
              [](const Mailbox& a, const Mailbox& b) { return a.path < b.path; });
    out.insert(out.end(), subs.begin(), subs.end());
}

// The open command of "mailto" links in the classes root, and the mail program's own.
constexpr const char* kClassesMailto = "Software\\Classes\\mailto\\shell\\open\\command";
constexpr const char* kEudoraCommand = "SOFTWARE\\Clients\\Mail\\Eudora\\shell\\open\\command";

void addOnce(std::vector<std::string>& list, const std::string& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

std::string home() {
    const char* h = std::getenv("HOME");
    return h ? h : "";
}

// The program path of a shell command: a quoted path runs to the closing quote,
// otherwise to the first blank.
bool commandProgram(const std::string& command, std::string& program) {
    if (!command.empty() && command[0] == '"') {
        size_t close = command.find('"', 1);
        if (close == std::string::npos) {
            diagLog("Error parsing mailto: string \"%s\"\n", command.c_str());
            return false;
        }
        program = command.substr(1, close - 1);
        return true;
    }
    program = command.substr(0, command.find(' '));
    return !program.empty();
}

// A Wine prefix's registry files ("user.reg", "system.reg"): sections
// "[Key\\Path] stamp" with doubled backslashes, values "Name"="text" or @="text" (the
// default value) with backslash escapes. Only text values are read.
class WineRegistry {
  public:
    static WineRegistry load(const fs::path& file) {
        WineRegistry reg;
        std::ifstream in(file, std::ios::binary);
        std::string line, key;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == ';' || line[0] == '#') continue;
            if (line[0] == '[') {
                size_t close = line.find(']');
                key = close == std::string::npos ? "" : upper(unescape(line.substr(1, close - 1)));
                continue;
            }
            if (key.empty()) continue;
            std::string name;
            size_t at = 0;
            if (line[0] == '@') {
                at = 1;
            } else if (line[0] == '"') {
                if (!quoted(line, at, name)) continue;
            } else {
                continue;
            }
            if (at >= line.size() || line[at] != '=' || at + 1 >= line.size() ||
                line[at + 1] != '"')
                continue;
            ++at;
            std::string value;
            if (quoted(line, at, value)) reg.values_[key + "\n" + upper(name)] = value;
        }
        return reg;
    }
    std::optional<std::string> text(const std::string& key, const std::string& name) const {
        auto it = values_.find(upper(key) + "\n" + upper(name));
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }

  private:
    static std::string upper(std::string t) {
        for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return t;
    }
    static std::string unescape(const std::string& t) {
        std::string out;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '\\' && i + 1 < t.size()) ++i;
            out += t[i];
        }
        return out;
    }
    // Reads a double-quoted text at line[at], leaving at after the closing quote.
    static bool quoted(const std::string& line, size_t& at, std::string& out) {
        if (at >= line.size() || line[at] != '"') return false;
        out.clear();
        for (size_t i = at + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                out += line[++i];
            } else if (line[i] == '"') {
                at = i + 1;
                return true;
            } else {
                out += line[i];
            }
        }
        return false;
    }
    std::map<std::string, std::string> values_;
};

// "C:\\path\\to" inside a Wine prefix: prefix/dosdevices/c:/path/to.
std::string winePath(const fs::path& prefix, const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') return {};
    std::string rest = windowsPath.substr(2);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    std::string drive(1,
                      static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0]))));
    return (prefix / "dosdevices" / (drive + ":") / rest).string();
}

// Stores named by the registry of the Wine prefix ($WINEPREFIX, else ~/.wine).
std::vector<std::string> wineStores(const std::string& tag) {
    std::vector<std::string> stores;
    const char* env = std::getenv("WINEPREFIX");
    fs::path prefix = env && *env ? fs::path(env) : fs::path(home()) / ".wine";
    std::error_code ec;
    if (!fs::is_directory(prefix, ec)) return stores;
    WineRegistry user = WineRegistry::load(prefix / "user.reg");
    if (tag == "oe4") {
        auto root = user.text("Software\\Microsoft\\Outlook Express", "Store Root");
        if (root && !winePath(prefix, *root).empty())
            stores.push_back(winePath(prefix, *root) + "/mail");
    } else if (tag == "oe5") {
        auto id = user.text("Identities", "Default User ID");
        auto root =
            id ? user.text("Identities\\" + *id + "\\Software\\Microsoft\\Outlook Express\\5.0",
                           "Store Root")
               : std::nullopt;
        if (root && !winePath(prefix, *root).empty()) stores.push_back(winePath(prefix, *root));
    } else if (tag == "eudora") {
        WineRegistry machine = WineRegistry::load(prefix / "system.reg");
        // The mail program of "mailto" links (the classes root: the user's classes over
        // the machine's), then the machine's entry of the program itself.
        for (const auto& command : {user.text(kClassesMailto, ""), machine.text(kClassesMailto, ""),
                                    machine.text(kEudoraCommand, "")}) {
            std::string program;
            if (!command || !commandProgram(*command, program)) continue;
            fs::path p(winePath(prefix, program));
            if (!p.empty() && sameCaseBlind(p.stem().string(), "Eudora")) {
                addOnce(stores, p.parent_path().string());
            }
        }
    }
    return stores;
}

std::vector<std::string> defaultStores(const std::string& tag) {
    using platform::RegHive;
    std::vector<std::string> stores;
    if (tag == "oe4") {
        auto root = platform::regReadText(RegHive::User, "Software\\Microsoft\\Outlook Express",
                                          "Store Root");
        if (root) stores.push_back(*root + "/mail");
    } else if (tag == "oe5") {
        auto id = platform::regReadText(RegHive::User, "Identities", "Default User ID");
        if (id) {
            auto root = platform::regReadText(
                RegHive::User, "Identities\\" + *id + "\\Software\\Microsoft\\Outlook Express\\5.0",
                "Store Root");
            if (root) stores.push_back(*root);
        }
    } else if (tag == "eudora") {
        // The mail program of "mailto" links (the classes root: the user's classes over
        // the machine's), then the machine's entry of the program itself.
        for (const auto& command : {platform::regReadText(RegHive::User, kClassesMailto, ""),
                                    platform::regReadText(RegHive::Machine, kClassesMailto, ""),
                                    platform::regReadText(RegHive::Machine, kEudoraCommand, "")}) {
            std::string program;
            if (!command || !commandProgram(*command, program)) continue;
            std::string normal = program;
            std::replace(normal.begin(), normal.end(), '\\', '/');
            fs::path p(normal);
            if (sameCaseBlind(p.stem().string(), "Eudora"))
                addOnce(stores, p.parent_path().string());
        }
    } else if (tag == "mbox") {
        std::error_code ec;
        fs::path profiles = fs::path(home()) / ".thunderbird";
        std::vector<std::string> found;
        for (fs::directory_iterator it(profiles, ec), end; !ec && it != end; it.increment(ec)) {
            for (const char* kind : {"Mail", "ImapMail"}) {
                std::error_code e;
                for (fs::directory_iterator acc(it->path() / kind, e), aend; !e && acc != aend;
                     acc.increment(e))
                    if (acc->is_directory(e)) found.push_back(acc->path().string());
            }
        }
        std::sort(found.begin(), found.end());
        stores = found;
    } else if (tag == "maildir") {
        if (!home().empty()) stores.push_back(home() + "/Maildir");
    }
    if (tag == "oe4" || tag == "oe5" || tag == "eudora") {
        for (std::string& wine : wineStores(tag)) stores.push_back(std::move(wine));
    }
    return stores;
}

}  // namespace

std::vector<Mailbox> readDescmap(const std::string& directory) {
    std::vector<Mailbox> out;
    walkDescmap(directory, "", 0, out);
    return out;
}

std::vector<Mailbox> discoverMailboxes(const std::string& tag,
                                       const std::vector<std::string>& stores) {
    std::vector<Mailbox> out;
    for (const std::string& store : stores.empty() ? defaultStores(tag) : stores) {
        std::error_code ec;
        fs::path p(store);
        bool isDir = fs::is_directory(p, ec);
        if (tag == "oe4" || tag == "oe5") {
            const char* ext = tag == "oe4" ? ".idx" : ".dbx";
            if (isDir) {
                listWithExtension(p, ext, out);
            } else {
                if (hasExtension(p, ext)) p.replace_extension();
                out.push_back({p.string(), p.filename().string()});
            }
        } else if (tag == "eudora") {
            if (isDir) {
                std::vector<Mailbox> listed = readDescmap(store);
                if (listed.empty()) listWithExtension(p, ".toc", listed);
                out.insert(out.end(), listed.begin(), listed.end());
            } else {
                if (hasExtension(p, ".toc") || hasExtension(p, ".mbx")) p.replace_extension();
                out.push_back({p.string(), p.filename().string()});
            }
        } else if (tag == "mbox") {
            if (isDir)
                walkMboxFolder(p, "", 0, out);
            else
                out.push_back({p.string(), p.filename().string()});
        } else if (tag == "maildir") {
            addMaildir(p, out);
        }
    }
    return out;
}

}  // namespace mailfetch
