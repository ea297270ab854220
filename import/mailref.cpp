// Mail references, their URL encoding, and the store-file helpers of the mailbox readers.
#include "import/mailref.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "import/mailstore.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool keptAsIs(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*';
}

std::string encode(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (unsigned char c : text) {
        if (c < 0x80 && keptAsIs(c)) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// False when the text holds an encoded zero byte.
bool decode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            int value = hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]);
            if (value == 0) return false;
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool sameCaseBlind(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool parseTime(std::string_view text, int64_t& value) {
    size_t i = 0;
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        i = 1;
    }
    if (i >= text.size() || text.size() - i > 18) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    value = negative ? -v : v;
    return true;
}

}  // namespace

extern "C" {

char* mailrefUrlEncode(const char* text) {
    if (!text) return nullptr;
    try {
        return mailstore::ownedCopy(encode(text));
    } catch (...) {
        return nullptr;
    }
}

char* mailrefUrlDecode(const char* text) {
    if (!text) return nullptr;
    try {
        std::string out;
        if (!decode(text, out)) return nullptr;
        return mailstore::ownedCopy(out);
    } catch (...) {
        return nullptr;
    }
}

char* mailrefFormat(const char* tag, const char* folder, const char* key, int64_t time) {
    if (!tag || !*tag || std::strchr(tag, '&')) return nullptr;
    try {
        std::string out = MAILREF_PREFIX;
        out += tag;
        out += '&';
        out += encode(folder ? folder : "");
        out += '&';
        out += encode(key ? key : "");
        out += '&';
        out += std::to_string(time);
        return mailstore::ownedCopy(out);
    } catch (...) {
        return nullptr;
    }
}

int mailrefParse(const char* reference, const char* tag, char** foundTag, char** folder, char** key,
                 int64_t* time) {
    if (!reference) return MAILREF_BAD_ARGUMENTS;
    try {
        std::string_view ref(reference);
        std::string_view prefix(MAILREF_PREFIX);
        if (ref.substr(0, prefix.size()) != prefix) return MAILREF_NOT_A_REFERENCE;
        ref.remove_prefix(prefix.size());
        std::string_view items[4];
        for (int i = 0; i < 4; ++i) {
            size_t amp = ref.find('&');
            if (i < 3) {
                if (amp == std::string_view::npos) return MAILREF_NOT_A_REFERENCE;
                items[i] = ref.substr(0, amp);
                ref.remove_prefix(amp + 1);
            } else {
                if (amp != std::string_view::npos) return MAILREF_NOT_A_REFERENCE;
                items[i] = ref;
            }
        }
        if (items[0].empty()) return MAILREF_NOT_A_REFERENCE;
        if (tag && !sameCaseBlind(items[0], tag)) return MAILREF_OTHER_CLIENT;
        std::string folderText, keyText;
        int64_t seconds = 0;
        if (!decode(items[1], folderText) || !decode(items[2], keyText) ||
            !parseTime(items[3], seconds))
            return MAILREF_NOT_A_REFERENCE;
        char* t = nullptr;
        char* f = nullptr;
        char* k = nullptr;
        if (foundTag) t = mailstore::ownedCopy(std::string(items[0]));
        if (folder) f = mailstore::ownedCopy(folderText);
        if (key) k = mailstore::ownedCopy(keyText);
        if ((foundTag && !t) || (folder && !f) || (key && !k)) {
            if (t) memFree(t);
            if (f) memFree(f);
            if (k) memFree(k);
            return MAILREF_MEMORY;
        }
        if (foundTag) *foundTag = t;
        if (folder) *folder = f;
        if (key) *key = k;
        if (time) *time = seconds;
        return MAILREF_OK;
    } catch (...) {
        return MAILREF_MEMORY;
    }
}

int64_t mailrefFileTimeToUnix(uint64_t fileTime) {
    if (fileTime == 0) return 0;
    // 100-nanosecond units between 1601-01-01 and 1970-01-01.
    const int64_t epochSeconds = 11644473600LL;
    return static_cast<int64_t>(fileTime / 10000000ULL) - epochSeconds;
}

void mailrefFreeList(char*** list, int32_t count) {
    if (!list || !*list) return;
    char** items = *list;
    for (int32_t i = 0; i < count; ++i) {
        if (items[i]) memFree(items[i]);
    }
    memFree(*list);
}

}  // extern "C"

namespace mailstore {

bool StoreFile::open(const std::string& path) {
    close();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    // The size as the open stream sees it: seek to the end and back.
    if (std::fseek(f, 0, SEEK_END) != 0) {
        std::fclose(f);
        return false;
    }
    long end = std::ftell(f);
    if (end < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return false;
    }
    file_ = f;
    size_ = static_cast<uint64_t>(end);
    return true;
}

void StoreFile::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    size_ = 0;
}

bool StoreFile::readAt(uint64_t pos, void* buffer, size_t n) const {
    if (!file_ || !contains(pos, n)) return false;
    if (n == 0) return true;
    if (pos > static_cast<uint64_t>(LONG_MAX)) return false;
    if (std::fseek(file_, static_cast<long>(pos), SEEK_SET) != 0) return false;
    return std::fread(buffer, 1, n, file_) == n;
}

bool StoreFile::readU32(uint64_t pos, uint32_t& value) const {
    unsigned char b[4];
    if (!readAt(pos, b, 4)) return false;
    value = le32(b);
    return true;
}

std::vector<std::string> listWithExtension(const std::string& directory, const std::string& ext) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(directory, ec), end;
    if (ec) return names;
    std::string want = "." + ext;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        std::string name = it->path().filename().string();
        if (name.size() <= want.size()) continue;
        if (!sameCaseBlind(std::string_view(name).substr(name.size() - want.size()), want))
            continue;
        names.push_back(name.substr(0, name.size() - want.size()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

char** toOwnedList(const std::vector<std::string>& names, int32_t* count) {
    if (count) *count = 0;
    if (names.empty()) return nullptr;
    auto** list = static_cast<char**>(memAlloc((names.size() + 1) * sizeof(char*)));
    if (!list) return nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        list[i] = ownedCopy(names[i]);
        if (!list[i]) {
            mailrefFreeList(&list, static_cast<int32_t>(i));
            return nullptr;
        }
    }
    if (count) *count = static_cast<int32_t>(names.size());
    return list;
}

bool writeFile(const char* name, const char* mode, const char* data, size_t n) {
    if (!name) return false;
    FILE* f = std::fopen(name, mode);
    if (!f) return false;
    bool ok = n == 0 || std::fwrite(data, 1, n, f) == n;
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

char* ownedCopy(const std::string& text) {
    char* copy = static_cast<char*>(memAlloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.data(), text.size());
    return copy;
}

}  // namespace mailstore
