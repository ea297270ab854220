// Sectioned configuration files: loading (line form in place or owned, tag form),
// lookups with the DEFAULT fallback, setters, saving and the used-entries report.
#include "support/envcfgutil.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/diaglog.h"

namespace {

constexpr const char* kDefaultSection = "DEFAULT";
constexpr const char* kHelpSection = "CONFIGHELP";
// Larger files are refused: the configuration counts its bytes in an int32.
constexpr std::uintmax_t kMaxFileSize = 256u * 1024u * 1024u;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}
bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
char toUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char toLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view trimView(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// The form every stored name has: trimmed and upper-cased.
std::string normalizeName(std::string_view s) {
    std::string out(trimView(s));
    for (char& c : out) c = toUpper(c);
    return out;
}

int32_t addSaturated(int32_t a, size_t b) {
    if (b > static_cast<size_t>(INT32_MAX - a)) return INT32_MAX;
    return a + static_cast<int32_t>(b);
}

size_t lenOrZero(const char* s) {
    return s ? std::strlen(s) : 0;
}

// ---- records ----------------------------------------------------------------------

ConfigSection* findSectionNorm(ConfigFile* cfg, const std::string& name) {
    if (cfg->foundSection && name == cfg->foundSection->name) return cfg->foundSection;
    if (cfg->defaultSection && name == cfg->defaultSection->name) return cfg->defaultSection;
    for (ConfigSection* s = cfg->sections; s; s = s->next) {
        if (name == s->name) return s;
    }
    return nullptr;
}

ConfigEntry* findEntryNorm(ConfigSection* section, const std::string& key) {
    for (ConfigEntry* e = section->entries; e; e = e->next) {
        if (key == e->key) return e;
    }
    return nullptr;
}

// Appends a section; name is taken over (owned or pointing into cfg->text).
ConfigSection* appendSection(ConfigFile* cfg, char* name) {
    auto* s = static_cast<ConfigSection*>(memAlloc(sizeof(ConfigSection)));
    if (!s) return nullptr;
    s->name = name;
    s->prev = cfg->lastSection;
    if (cfg->lastSection)
        cfg->lastSection->next = s;
    else
        cfg->sections = s;
    cfg->lastSection = s;
    cfg->size = addSaturated(cfg->size, lenOrZero(name));
    return s;
}

ConfigEntry* appendEntry(ConfigFile* cfg, ConfigSection* section, char* key, char* value) {
    auto* e = static_cast<ConfigEntry*>(memAlloc(sizeof(ConfigEntry)));
    if (!e) return nullptr;
    e->key = key;
    e->value = value;
    e->prev = section->lastEntry;
    if (section->lastEntry)
        section->lastEntry->next = e;
    else
        section->entries = e;
    section->lastEntry = e;
    cfg->size = addSaturated(cfg->size, lenOrZero(key) + lenOrZero(value));
    return e;
}

void releaseAll(ConfigFile* cfg) {
    const bool owned = !cfg->readOnly;
    ConfigSection* s = cfg->sections;
    while (s) {
        ConfigEntry* e = s->entries;
        while (e) {
            ConfigEntry* next = e->next;
            if (owned) {
                if (e->key) memFree(e->key);
                if (e->value) memFree(e->value);
            }
            memFree(e);
            e = next;
        }
        ConfigSection* next = s->next;
        if (owned && s->name) memFree(s->name);
        memFree(s);
        s = next;
    }
    cfg->sections = cfg->lastSection = nullptr;
    cfg->foundSection = cfg->defaultSection = nullptr;
    if (cfg->text) memFree(cfg->text);
    if (cfg->fileName) memFree(cfg->fileName);
}

// ---- parsing ----------------------------------------------------------------------

// Receives the names and values the parsers find. In place, the texts point into the
// parse buffer (which then becomes cfg->text); otherwise they are copied.
class Collector {
  public:
    Collector(ConfigFile* cfg, bool inPlace) : cfg_(cfg), inPlace_(inPlace) {}

    bool section(char* name, size_t nameLen) {
        std::string norm = normalizeName(std::string_view(name, nameLen));
        current_ = findSectionNorm(cfg_, norm);
        if (current_) return true;
        char* stored = store(name, nameLen, norm);
        if (!stored) return false;
        current_ = appendSection(cfg_, stored);
        if (!current_ && !inPlace_) memFree(stored);
        return current_ != nullptr;
    }

    bool defaultSection() {
        std::string norm = kDefaultSection;
        current_ = findSectionNorm(cfg_, norm);
        if (current_) return true;
        char* stored = memStrDup(kDefaultSection);
        if (!stored) return false;
        current_ = appendSection(cfg_, stored);
        if (!current_) memFree(stored);
        return current_ != nullptr;
    }

    bool inSection() const { return current_ != nullptr; }

    // key/value are writable ranges of the parse buffer; value is stored as it stands.
    bool entry(char* key, size_t keyLen, char* value, size_t valueLen) {
        if (!current_) return true;
        std::string norm = normalizeName(std::string_view(key, keyLen));
        char* k = store(key, keyLen, norm);
        if (!k) return false;
        char* v;
        if (inPlace_) {
            value[valueLen] = '\0';
            v = value;
        } else {
            v = memStrNDup(value, valueLen);
            if (!v) {
                memFree(k);
                return false;
            }
        }
        if (!appendEntry(cfg_, current_, k, v)) {
            if (!inPlace_) {
                memFree(k);
                memFree(v);
            }
            return false;
        }
        return true;
    }

  private:
    // In place the normalised name (never longer than the range) overwrites the range.
    char* store(char* text, size_t len, const std::string& norm) {
        if (inPlace_) {
            std::memcpy(text, norm.data(), norm.size());
            text[norm.size()] = '\0';
            (void)len;
            return text;
        }
        return memStrNDup(norm.data(), norm.size());
    }

    ConfigFile* cfg_;
    bool inPlace_;
    ConfigSection* current_ = nullptr;
};

bool isLineBreak(char c) {
    return c == '\n' || c == '\r' || c == '\0';
}

// Line form over buf[0, len); buf[len] must exist (the terminator). Every write stays
// inside the line being parsed, so names and values can point into buf afterwards.
bool parseLines(char* buf, size_t len, Collector& out) {
    size_t pos = 0;
    while (pos < len) {
        size_t end = pos;
        while (end < len && !isLineBreak(buf[end])) ++end;
        size_t b = pos, e = end;
        pos = end + 1;
        while (b < e && isSpace(buf[b])) ++b;
        while (e > b && isSpace(buf[e - 1])) --e;
        if (b == e) continue;
        std::string_view line(buf + b, e - b);
        if (line.find("^M") != std::string_view::npos) diagLog("WARNING: ^M characters in line\n");
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close != std::string_view::npos) {
                if (!out.section(buf + b + 1, close - 1)) return false;
                continue;
            }
        }
        if (!out.inSection()) continue;
        char first = line.front();
        if (!(isAsciiAlnum(first) || first == '%')) continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        size_t keyLen = eq;
        while (keyLen > 0 && isBlankOrTab(line[keyLen - 1])) --keyLen;
        size_t vb = b + eq + 1;
        while (vb < e && isBlankOrTab(buf[vb])) ++vb;
        if (!out.entry(buf + b, keyLen, buf + vb, e - vb)) return false;
    }
    return true;
}

struct Tag {
    size_t start;  // the '<'
    size_t end;    // after the '>'
    bool closing;
    std::string name;  // normalised
};

// Every tag of text in order. An opening tag is '<' not followed by '/', whose '>' comes
// before any further '<'; a closing tag is "</", a name and '>'. Tags with empty names
// are plain text.
std::vector<Tag> scanTags(std::string_view text) {
    std::vector<Tag> tags;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '<') {
            ++i;
            continue;
        }
        bool closing = i + 1 < text.size() && text[i + 1] == '/';
        size_t nameStart = i + (closing ? 2 : 1);
        size_t j = nameStart;
        while (j < text.size() && text[j] != '>' && text[j] != '<') ++j;
        if (j < text.size() && text[j] == '>') {
            std::string name = normalizeName(text.substr(nameStart, j - nameStart));
            if (!name.empty()) {
                tags.push_back(Tag{i, j + 1, closing, std::move(name)});
                i = j + 1;
                continue;
            }
        }
        ++i;
    }
    return tags;
}

bool addTagEntry(Collector& out, std::string& scratch, const std::string& key,
                 std::string_view value) {
    value = trimView(value);
    scratch.assign(key);
    size_t keyLen = scratch.size();
    scratch.append(value);
    scratch.push_back('\0');
    return out.entry(scratch.data(), keyLen, scratch.data() + keyLen, value.size());
}

// Tag form. Top-level elements holding further elements are sections; other top-level
// elements are entries of "DEFAULT". An element without its closing tag runs to the
// next tag.
bool parseTags(std::string_view text, Collector& out) {
    std::vector<Tag> tags = scanTags(text);
    // Closing tags by name, in order, to find an element's end without rescanning.
    std::map<std::string, std::vector<size_t>> closingByName;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (tags[i].closing) closingByName[tags[i].name].push_back(i);
    }
    auto closingAfter = [&](const std::string& name, size_t index) -> size_t {
        auto it = closingByName.find(name);
        if (it == closingByName.end()) return tags.size();
        auto pos = std::upper_bound(it->second.begin(), it->second.end(), index);
        return pos == it->second.end() ? tags.size() : *pos;
    };

    std::string scratch;
    size_t i = 0;
    while (i < tags.size()) {
        const Tag& t = tags[i];
        if (t.closing) {
            ++i;
            continue;
        }
        size_t next = i + 1;
        if (next < tags.size() && !tags[next].closing) {
            size_t close = closingAfter(t.name, i);
            if (close < tags.size()) {
                // A section: its inner elements up to the closing tag are entries.
                std::string sectionName = t.name;
                if (!out.section(sectionName.data(), sectionName.size())) return false;
                size_t k = next;
                while (k < close) {
                    const Tag& inner = tags[k];
                    if (inner.closing) {
                        ++k;
                        continue;
                    }
                    size_t valueEnd = tags[k + 1].start;  // k + 1 <= close
                    if (!addTagEntry(out, scratch, inner.name,
                                     text.substr(inner.end, valueEnd - inner.end)))
                        return false;
                    k = (tags[k + 1].closing && tags[k + 1].name == inner.name && k + 1 < close)
                            ? k + 2
                            : k + 1;
                }
                i = close + 1;
                continue;
            }
        }
        // An entry of the default section, its value up to the next tag.
        size_t valueEnd = next < tags.size() ? tags[next].start : text.size();
        if (!out.defaultSection()) return false;
        if (!addTagEntry(out, scratch, t.name, text.substr(t.end, valueEnd - t.end))) return false;
        i = (next < tags.size() && tags[next].closing && tags[next].name == t.name) ? next + 1
                                                                                    : next;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX escapes resolved in place ("%00" stays as it is: a text cannot hold a zero byte).
void percentDecodeInPlace(char* s) {
    char* w = s;
    for (const char* r = s; *r;) {
        if (r[0] == '%' && r[1] && r[2]) {
            int hi = hexValue(r[1]), lo = hexValue(r[2]);
            if (hi >= 0 && lo >= 0 && (hi | lo) != 0) {
                *w++ = static_cast<char>(hi * 16 + lo);
                r += 3;
                continue;
            }
        }
        *w++ = *r++;
    }
    *w = '\0';
}

void decodeValues(ConfigFile* cfg) {
    for (ConfigSection* s = cfg->sections; s; s = s->next) {
        for (ConfigEntry* e = s->entries; e; e = e->next) {
            if (e->value) percentDecodeInPlace(e->value);
        }
    }
}

// ---- lookups ----------------------------------------------------------------------

ConfigSection* defaultSectionOf(ConfigFile* cfg) {
    if (!cfg->defaultSection) cfg->defaultSection = findSectionNorm(cfg, kDefaultSection);
    return cfg->defaultSection;
}

// The entry for key in section, else in "DEFAULT"; marks it used. sectionFound
// receives the name of the section it came from.
ConfigEntry* lookup(ConfigFile* cfg, const char* section, const char* key,
                    const char** sectionFound) {
    if (!cfg || !section || !key) return nullptr;
    std::string sectionName = normalizeName(section);
    std::string keyName = normalizeName(key);
    ConfigSection* s = findSectionNorm(cfg, sectionName);
    if (s) {
        cfg->foundSection = s;
        if (ConfigEntry* e = findEntryNorm(s, keyName)) {
            e->used = 1;
            if (sectionFound) *sectionFound = s->name;
            return e;
        }
    }
    ConfigSection* d = defaultSectionOf(cfg);
    if (d && d != s) {
        if (ConfigEntry* e = findEntryNorm(d, keyName)) {
            if (cfg->listDefaults) diagLog("Using %s from default section\n", key);
            e->used = 1;
            if (sectionFound) *sectionFound = d->name;
            return e;
        }
    }
    if (cfg->listDefaults) diagLog("Failed to find %s in default section\n", key);
    return nullptr;
}

// A value as callers see it: surrounding double quotes removed, escapes resolved.
std::string unquote(const char* v) {
    if (!v) return std::string();
    std::string_view s(v);
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return std::string(s);
    s = s.substr(1, s.size() - 2);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// atol with saturation instead of overflow, then the INT_MAX clamp on the digit count.
long readNumber(const std::string& text, const char* key, const char* section) {
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    // Leading zeros do not make a number large.
    size_t p = 0;
    while (p < text.size() && isBlankOrTab(text[p])) ++p;
    while (p + 1 < text.size() && text[p] == '0' && text[p + 1] >= '0' && text[p + 1] <= '9') ++p;
    size_t digits = 0;
    while (p + digits < text.size() && text[p + digits] >= '0' && text[p + digits] <= '9') ++digits;
    bool clamp =
        digits > 10 || (digits == 10 && text.compare(p, 10, "2147483647") > 0) || v > INT_MAX;
    if (clamp) {
        diagLog(
            "WARNING: Exceeded INT_MAX=%ld at %s for key %s in section/default %s, using "
            "INT_MAX\n",
            static_cast<long>(INT_MAX), text.c_str(), key, section);
        return INT_MAX;
    }
    if (v < LONG_MIN) return LONG_MIN;
    return static_cast<long>(v);
}

bool lookupNumber(ConfigFile* cfg, const char* section, const char* key, long* out) {
    const char* found = nullptr;
    ConfigEntry* e = lookup(cfg, section, key, &found);
    if (!e) return false;
    *out = readNumber(unquote(e->value), key, found ? found : section);
    return true;
}

std::string numberedKey(const char* base, int32_t index) {
    return std::string(base) + std::to_string(index);
}

// ---- saving -----------------------------------------------------------------------

void appendPercentEncoded(std::string& out, std::string_view v) {
    static const char hex[] = "0123456789ABCDEF";
    for (char c : v) {
        auto u = static_cast<unsigned char>(c);
        if (c == '%' || u < 0x20 || u == 0x7F) {
            out.push_back('%');
            out.push_back(hex[u >> 4]);
            out.push_back(hex[u & 15]);
        } else {
            out.push_back(c);
        }
    }
}

// The value as written: encoded when values are decoded on load, and quoted with
// escapes when reading it back would otherwise change it (line breaks would split the
// entry; blanks at either end would be trimmed). False when the form cannot hold it.
bool encodeValue(const ConfigFile* cfg, const char* value, std::string& out) {
    out.clear();
    if (!value) return true;
    std::string v;
    if (cfg->decodedValues)
        appendPercentEncoded(v, value);
    else
        v = value;
    if (cfg->tagForm && v.find('<') != std::string::npos) return false;
    bool quote = !v.empty() && (isSpace(v.front()) || isSpace(v.back()) ||
                                v.find_first_of("\r\n") != std::string::npos);
    if (!quote) {
        out = std::move(v);
        return true;
    }
    out.push_back('"');
    for (char c : v) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                out.push_back(c);
        }
    }
    out.push_back('"');
    return true;
}

bool buildText(const ConfigFile* cfg, std::string& out) {
    out.clear();
    out.reserve(static_cast<size_t>(cfg->size) + 64);
    std::string value;
    for (const ConfigSection* s = cfg->sections; s; s = s->next) {
        if (cfg->tagForm) {
            out.append("<").append(s->name).append(">\n");
        } else {
            out.append("[").append(s->name).append("]\r\n");
        }
        for (const ConfigEntry* e = s->entries; e; e = e->next) {
            if (!encodeValue(cfg, e->value, value)) return false;
            if (cfg->tagForm) {
                out.append("<").append(e->key).append(">").append(value);
                out.append("</").append(e->key).append(">\n");
            } else {
                out.append(e->key).append("=").append(value).append("\r\n");
            }
        }
        if (cfg->tagForm) {
            out.append("</").append(s->name).append("> \n\n");
        } else {
            out.append("\r\n");
        }
    }
    if (cfg->scrambled) {
        for (char& c : out) c = static_cast<char>(c ^ ENVCFG_SCRAMBLE_KEY);
    }
    return true;
}

// Makes a rename in path's folder durable; a failure only loses that guarantee.
void syncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes bytes to a new file beside path, then renames it over path, so path holds
// either the old or the new contents, never a part.
bool writeReplacing(const std::string& path, const std::string& bytes) {
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 rng{std::random_device{}()};
    std::string tmp;
    FILE* f = nullptr;
    for (int attempt = 0; attempt < 20 && !f; ++attempt) {
        tmp = path + ".tmp" + std::to_string(rng() % 1000000u) + "_" +
              std::to_string(counter.fetch_add(1));
        f = std::fopen(tmp.c_str(), "wbx");
        if (!f && errno != EEXIST) return false;
    }
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    // On disk before the rename, or a crash right after it could leave an empty file
    // in place of the settings.
    ok = ok && ::fsync(::fileno(f)) == 0;
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) {
        // Keep the permissions of the file being replaced (it may hold passwords).
        fs::file_status st = fs::status(path, ec);
        if (!ec && fs::exists(st)) fs::permissions(tmp, st.permissions(), ec);
        ec.clear();
        fs::rename(tmp, path, ec);
        ok = !ec;
        if (ok) syncFolderOf(path);
    }
    if (!ok) fs::remove(tmp, ec);
    return ok;
}

// ---- name checks ------------------------------------------------------------------

bool validSectionName(const std::string& n) {
    return !n.empty() && n.find_first_of("\r\n]<>") == std::string::npos;
}

bool validKeyName(const std::string& n) {
    return !n.empty() && (isAsciiAlnum(n.front()) || n.front() == '%') &&
           n.find_first_of("\r\n<>=") == std::string::npos;
}

int setTextImpl(ConfigFile* cfg, const char* section, const char* key, const char* value) {
    if (!cfg || !section || !key) return -1;
    if (cfg->readOnly) return -4;
    std::string sectionName = normalizeName(section);
    std::string keyName = normalizeName(key);
    if (!validSectionName(sectionName) || !validKeyName(keyName)) return -1;

    char* newValue = nullptr;
    if (value) {
        newValue = memStrDup(value);
        if (!newValue) return -1;
    }
    ConfigSection* s = findSectionNorm(cfg, sectionName);
    if (!s) {
        char* name = memStrDup(sectionName.c_str());
        s = name ? appendSection(cfg, name) : nullptr;
        if (!s) {
            if (name) memFree(name);
            if (newValue) memFree(newValue);
            return -1;
        }
    }
    ConfigEntry* e = findEntryNorm(s, keyName);
    if (e) {
        size_t oldLen = lenOrZero(e->value);
        if (e->value) memFree(e->value);
        e->value = newValue;
        cfg->size = addSaturated(std::max<int32_t>(0, cfg->size - static_cast<int32_t>(oldLen)),
                                 lenOrZero(newValue));
    } else {
        char* k = memStrDup(keyName.c_str());
        if (!k || !appendEntry(cfg, s, k, newValue)) {
            if (k) memFree(k);
            if (newValue) memFree(newValue);
            return -1;
        }
    }
    return 0;
}

int boolOf(const std::string& text) {
    std::string t = text.substr(0, 10);
    for (char& c : t) c = toLower(c);
    if (t.empty()) return 0;
    if (t.rfind("y", 0) == 0) return 1;
    if (t.rfind("n", 0) == 0) return 0;
    if (t.rfind("on", 0) == 0) return 1;
    if (t.rfind("off", 0) == 0) return 0;
    if (t.rfind("true", 0) == 0) return 1;
    if (t.rfind("false", 0) == 0) return 0;
    return std::strtol(text.c_str(), nullptr, 10) != 0 ? 1 : 0;
}

int helpFlag(ConfigFile* cfg, const char* key) {
    ConfigSection* s = findSectionNorm(cfg, kHelpSection);
    if (!s) return 0;
    ConfigEntry* e = findEntryNorm(s, normalizeName(key));
    if (!e) return 0;
    e->used = 1;
    return boolOf(unquote(e->value));
}

int loadImpl(ConfigFile** out, std::string bytes, const char* fileName, int32_t flags) {
    auto* cfg = static_cast<ConfigFile*>(memAlloc(sizeof(ConfigFile)));
    if (!cfg) return -3;
    const bool tagForm = (flags & ENVCFG_TAGFORM) != 0;
    const bool inPlace = !tagForm && !(flags & ENVCFG_OWNED);
    cfg->scrambled = (flags & ENVCFG_SCRAMBLED) ? 1 : 0;
    cfg->tagForm = tagForm ? 1 : 0;
    cfg->decodedValues = (flags & ENVCFG_DECODE_VALUES) ? 1 : 0;
    cfg->readOnly = inPlace ? 1 : 0;
    if (fileName) {
        cfg->fileName = memStrDup(fileName);
        if (!cfg->fileName) {
            memFree(cfg);
            return -3;
        }
    }
    if (cfg->scrambled) {
        for (char& c : bytes) c = static_cast<char>(c ^ ENVCFG_SCRAMBLE_KEY);
    }
    bool ok;
    if (tagForm) {
        Collector collector(cfg, false);
        // A zero byte ends the text, as it would for any reader of texts.
        std::string_view text(bytes.data(), std::strlen(bytes.c_str()));
        ok = parseTags(text, collector);
    } else {
        char* buf = static_cast<char*>(memAlloc(bytes.size() + 1));
        ok = buf != nullptr;
        if (ok) {
            std::memcpy(buf, bytes.data(), bytes.size());
            Collector collector(cfg, inPlace);
            ok = parseLines(buf, bytes.size(), collector);
            if (inPlace)
                cfg->text = buf;
            else
                memFree(buf);
        }
    }
    if (!ok) {
        releaseAll(cfg);
        memFree(cfg);
        return -3;
    }
    if (cfg->decodedValues) decodeValues(cfg);
    cfg->listDefaults = helpFlag(cfg, "ListDefaults");
    *out = cfg;
    return 0;
}

template <typename F>
auto guarded(F&& f, decltype(f()) onError) noexcept -> decltype(f()) {
    try {
        return f();
    } catch (...) {
        return onError;
    }
}

}  // namespace

extern "C" {

int envCfgLoad(ConfigFile** cfg, const char* fileName, int32_t flags) {
    if (!cfg || !fileName) return -1;
    *cfg = nullptr;
    return guarded(
        [&]() -> int {
            namespace fs = std::filesystem;
            std::error_code ec;
            fs::file_status st = fs::status(fileName, ec);
            if (st.type() == fs::file_type::not_found) {
                if (!(flags & ENVCFG_CREATE)) return -3;
                // An empty configuration that can be filled and saved.
                int32_t f = flags;
                if (!(f & ENVCFG_TAGFORM)) f |= ENVCFG_OWNED;
                return loadImpl(cfg, std::string(), fileName, f);
            }
            // Anything else that cannot be examined or read is reported, never treated
            // as missing: saving an empty configuration would replace the file.
            if (ec || fs::is_directory(st)) return -3;
            FILE* f = std::fopen(fileName, "rb");
            if (!f) return -3;
            std::string bytes;
            char chunk[65536];
            size_t n;
            bool tooLarge = false;
            while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
                if (bytes.size() + n > kMaxFileSize) {
                    tooLarge = true;
                    break;
                }
                bytes.append(chunk, n);
            }
            bool readError = std::ferror(f) != 0;
            std::fclose(f);
            if (tooLarge || readError) return -3;
            return loadImpl(cfg, std::move(bytes), fileName, flags & ~ENVCFG_CREATE);
        },
        -3);
}

int envCfgLoadFromMemory(ConfigFile** cfg, const char* text, int32_t length, const char* fileName,
                         int32_t flags) {
    if (!cfg || (!text && length > 0) || length < 0) return -1;
    *cfg = nullptr;
    return guarded(
        [&]() -> int {
            return loadImpl(cfg, std::string(text ? text : "", static_cast<size_t>(length)),
                            fileName, flags & ~ENVCFG_CREATE);
        },
        -3);
}

int envCfgClose(ConfigFile** cfgp) {
    if (!cfgp || !*cfgp) return 0;
    ConfigFile* cfg = *cfgp;
    guarded(
        [&]() -> int {
            if (helpFlag(cfg, "ListUnused")) {
                diagLog("Config entries used this run:\n");
                for (ConfigSection* s = cfg->sections; s; s = s->next) {
                    diagLog("Section: %s\n", s->name);
                    for (ConfigEntry* e = s->entries; e; e = e->next) {
                        diagLog("  %s %s=%s\n", e->used ? "Y" : "N", e->key,
                                e->value ? e->value : "");
                    }
                }
            }
            return 0;
        },
        0);
    releaseAll(cfg);
    memFree(*cfgp);
    return 0;
}

int envCfgSave(ConfigFile* cfg) {
    if (!cfg) return -1;
    if (cfg->readOnly || !cfg->fileName) return -4;
    return guarded(
        [&]() -> int {
            std::string text;
            if (!buildText(cfg, text)) return -4;
            return writeReplacing(cfg->fileName, text) ? 0 : -4;
        },
        -4);
}

int envCfgGetText(ConfigFile* cfg, const char* section, const char* key, char** value,
                  const char* def) {
    if (!value) return 0;
    *value = nullptr;
    return guarded(
        [&]() -> int {
            ConfigEntry* e = lookup(cfg, section, key, nullptr);
            if (!e) {
                *value = def ? memStrDup(def) : nullptr;
                return 0;
            }
            std::string v = unquote(e->value);
            *value = memStrNDup(v.data(), v.size());
            return 1;
        },
        0);
}

long envCfgGetLong(ConfigFile* cfg, const char* section, const char* key, long* value, long def) {
    long result = guarded(
        [&]() -> long {
            long n;
            return lookupNumber(cfg, section, key, &n) ? n : def;
        },
        def);
    if (value) *value = result;
    return result;
}

int32_t envCfgGetInt(ConfigFile* cfg, const char* section, const char* key, int32_t* value,
                     int32_t def) {
    long n = envCfgGetLong(cfg, section, key, nullptr, def);
    int32_t result = n < INT32_MIN ? INT32_MIN : static_cast<int32_t>(n);
    if (value) *value = result;
    return result;
}

int envCfgGetBool(ConfigFile* cfg, const char* section, const char* key, int* value, int def) {
    int result = guarded(
        [&]() -> int {
            ConfigEntry* e = lookup(cfg, section, key, nullptr);
            if (!e) return def;
            return boolOf(unquote(e->value));
        },
        def);
    if (value) *value = result;
    return result;
}

int32_t envCfgGetNumberedTexts(ConfigFile* cfg, const char* section, const char* base,
                               int32_t* count, char*** texts, const char* def) {
    if (!count || !texts) return 0;
    *texts = nullptr;
    int32_t n = *count;
    *count = 0;
    if (!cfg || !section || !base || n <= 0) return 0;
    auto** arr = static_cast<char**>(memAlloc(sizeof(char*) * static_cast<size_t>(n)));
    if (!arr) return 0;
    int32_t last = -1;
    for (int32_t i = 0; i < n; ++i) {
        std::string key = guarded([&] { return numberedKey(base, i); }, std::string());
        if (key.empty()) break;
        if (envCfgGetText(cfg, section, key.c_str(), &arr[i], def) == 1) last = i;
    }
    for (int32_t i = last + 1; i < n; ++i) {
        if (arr[i]) memFree(arr[i]);
    }
    if (last < 0) {
        memFree(arr);
        return 0;
    }
    *texts = arr;
    *count = last + 1;
    return *count;
}

int32_t envCfgGetNumberedInts(ConfigFile* cfg, const char* section, const char* base, int32_t count,
                              int32_t* values, int32_t def) {
    if (!cfg || !section || !base || !values || count <= 0) return 0;
    int32_t found = 0;
    for (int32_t i = 0; i < count; ++i) {
        std::string key = guarded([&] { return numberedKey(base, i); }, std::string());
        values[i] = def;
        long n = 0;
        if (key.empty() ||
            !guarded([&] { return lookupNumber(cfg, section, key.c_str(), &n); }, false))
            continue;
        ++found;
        values[i] = n < INT32_MIN ? INT32_MIN : static_cast<int32_t>(n);
    }
    return found;
}

int32_t envCfgGetNumberedRun(ConfigFile* cfg, const char* section, const char* base, int32_t* count,
                             char*** texts, const char* def) {
    if (!count || !texts) return 0;
    *count = 0;
    *texts = nullptr;
    if (!cfg || !section || !base) return 0;
    int32_t n = 0;
    while (n < INT32_MAX) {
        std::string key = guarded([&] { return numberedKey(base, n); }, std::string());
        if (key.empty() || !lookup(cfg, section, key.c_str(), nullptr)) break;
        ++n;
    }
    if (n == 0) return 0;
    *count = n;
    return envCfgGetNumberedTexts(cfg, section, base, count, texts, def);
}

void envCfgFreeTexts(char*** texts, int32_t count) {
    if (!texts || !*texts) return;
    for (int32_t i = 0; i < count; ++i) {
        if ((*texts)[i]) memFree((*texts)[i]);
    }
    memFree(*texts);
}

int envCfgSetText(ConfigFile* cfg, const char* section, const char* key, const char* value) {
    return guarded(
        [&]() -> int {
            int rc = setTextImpl(cfg, section, key, value);
            if (rc == 0 && normalizeName(section) == kHelpSection &&
                normalizeName(key) == "LISTDEFAULTS")
                cfg->listDefaults = value ? boolOf(unquote(value)) : 0;
            return rc;
        },
        -1);
}

int envCfgSetInt(ConfigFile* cfg, const char* section, const char* key, long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld", value);
    return envCfgSetText(cfg, section, key, buf);
}

int envCfgSetBool(ConfigFile* cfg, const char* section, const char* key, int value) {
    return envCfgSetText(cfg, section, key, value ? "on" : "off");
}

int envCfgCopyEntries(ConfigFile* target, ConfigFile* source) {
    if (!target || !source) return -1;
    if (target->readOnly) return -4;
    for (ConfigSection* s = source->sections; s; s = s->next) {
        for (ConfigEntry* e = s->entries; e; e = e->next) {
            if (!e->value) continue;
            int rc = envCfgSetText(target, s->name, e->key, e->value);
            if (rc != 0) return rc;
        }
    }
    return 0;
}

ConfigSection* envCfgFindSection(ConfigFile* cfg, const char* section) {
    if (!cfg || !section) return nullptr;
    return guarded([&] { return findSectionNorm(cfg, normalizeName(section)); },
                   static_cast<ConfigSection*>(nullptr));
}

}  // extern "C"
