#include "support/fileutil.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/strutil.h"

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr openFile(const char* name, const char* mode) {
    return FilePtr(std::fopen(name, mode));
}

// Closes the file and reports whether everything written reached it.
bool closeChecked(FilePtr& f) {
    FILE* raw = f.release();
    return raw && std::fclose(raw) == 0;
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool writeAll(FILE* f, const void* bytes, size_t length) {
    return length == 0 || std::fwrite(bytes, 1, length, f) == length;
}

bool isDirectory(const char* name) {
    std::error_code ec;
    return fs::is_directory(fs::path(name), ec);
}

// Reads everything from the current position of f into a zero-terminated block of
// expected + 1 bytes (expected being what is left of the file). A file that turns out
// shorter gives fewer bytes; one that grew meanwhile is read up to expected.
int64_t readRest(FILE* f, int64_t expected, char** buffer) {
    if (expected < 0) return 0;
    char* block = static_cast<char*>(memAlloc(static_cast<size_t>(expected) + 1));
    if (!block) return 0;
    size_t got = expected ? std::fread(block, 1, static_cast<size_t>(expected), f) : 0;
    block[got] = '\0';
    *buffer = block;
    return static_cast<int64_t>(got);
}

constexpr unsigned kScramblePeriod = 254;

// Bytes of a marked file's data begin to be combined with counter 0.
void scramble(unsigned char* bytes, size_t length) {
    unsigned counter = 0;
    for (size_t i = 0; i < length; ++i) {
        bytes[i] ^= static_cast<unsigned char>(counter);
        if (++counter == kScramblePeriod) counter = 0;
    }
}

std::atomic<long> nextThreadNumber{1};
std::atomic<long> nextTempSequence{1};

long threadNumber() {
    thread_local long number = nextThreadNumber.fetch_add(1);
    return number;
}

// A new text of at least minimum bytes holding part (zero-filled beyond it).
char* newPart(std::string_view part, size_t minimum) {
    size_t size = std::max(minimum, part.size() + 1);
    char* text = static_cast<char*>(memAlloc(size));
    if (text) std::memcpy(text, part.data(), part.size());
    return text;
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty() || isSeparator(directory.back())) return directory + name;
    return directory + '/' + name;
}

// One directory of a walk; returns 0, 1 (stopped) or -1 (unreadable).
int walkOne(const std::string& directory, const char* patterns, FileWalkCallback callback,
            void* context, bool recursive) {
    std::error_code ec;
    fs::directory_iterator it(fs::path(directory), ec);
    if (ec) return -1;

    struct Entry {
        std::string name;
        bool isFile;
        bool isDirectory;
    };
    std::vector<Entry> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const fs::directory_entry& e = *it;
        std::error_code typeError;
        bool link = e.is_symlink(typeError);
        bool dir = !link && e.is_directory(typeError);
        bool file = e.is_regular_file(typeError);  // follows links to files
        entries.push_back({e.path().filename().string(), file, dir});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });

    bool all = !patterns || !*patterns;
    for (const Entry& e : entries) {
        if (e.isFile) {
            if (all || strPatternListMatchCaseBlind(patterns, ",", e.name.c_str())) {
                if (callback(directory.c_str(), e.name.c_str(), context)) return 1;
            }
        } else if (e.isDirectory && recursive && e.name != "." && e.name != "..") {
            // An unreadable subdirectory is skipped; the rest of the walk goes on.
            if (walkOne(joinPath(directory, e.name), patterns, callback, context, true) == 1)
                return 1;
        }
    }
    return callback(directory.c_str(), "", context) ? 1 : 0;
}

}  // namespace

extern "C" {

int64_t fileReadWhole(const char* fileName, char** buffer) {
    if (!buffer) return 0;
    *buffer = nullptr;
    if (!fileName || isDirectory(fileName)) return 0;
    FilePtr f = openFile(fileName, "rb");
    if (!f) return 0;
    int64_t size = fileSize(f.get());
    return readRest(f.get(), size, buffer);
}

int fileWriteWhole(const char* fileName, const void* bytes, int64_t length) {
    if (!fileName || length < 0 || (!bytes && length > 0)) return 0;
    FilePtr f = openFile(fileName, "wb");
    if (!f) return 0;
    bool ok = writeAll(f.get(), bytes, static_cast<size_t>(length));
    return closeChecked(f) && ok ? 1 : 0;
}

int fileCopy(const char* source, const char* target, const char* mode) {
    if (!source || !target || !mode) return 0;
    if (!std::strchr(mode, 'w') && !std::strchr(mode, 'a')) return 0;
    std::string targetMode = mode;
    if (targetMode.find('b') == std::string::npos) targetMode += 'b';

    FilePtr in = openFile(source, "rb");
    if (!in) return 0;
    // Copying a file onto itself (by the same name, another name, a hard or a symbolic
    // link) would empty it in "w" mode and never end in "a" mode: refused before the
    // target is opened.
    struct stat from {};
    struct stat to {};
    if (fstat(fileno(in.get()), &from) != 0) return 0;
    if (stat(target, &to) == 0 && to.st_dev == from.st_dev && to.st_ino == from.st_ino) return 0;
    FilePtr out = openFile(target, targetMode.c_str());
    if (!out) return 0;

    char block[2047];
    bool ok = true;
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, in.get())) > 0) {
        if (!writeAll(out.get(), block, got)) {
            ok = false;
            break;
        }
    }
    if (std::ferror(in.get())) ok = false;
    return closeChecked(out) && ok ? 1 : 0;
}

int fileTouch(const char* fileName) {
    if (!fileName) return 0;
    std::error_code ec;
    fs::path p(fileName);
    if (!fs::exists(p, ec)) {
        FilePtr f = openFile(fileName, "ab");
        if (!f) return 0;
        return closeChecked(f) ? 1 : 0;
    }
    fs::last_write_time(p, fs::file_time_type::clock::now(), ec);
    return ec ? 0 : 1;
}

int64_t fileSize(FILE* file) {
    if (!file) return -1;
    long here = std::ftell(file);
    if (here < 0) return -1;
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

int fileExists(const char* fileName) {
    if (!fileName) return -1;
    FilePtr f = openFile(fileName, "r");
    return f ? 0 : -1;
}

int64_t fileModificationTime(const char* fileName) {
    if (!fileName) return 0;
    struct stat st;
    if (::stat(fileName, &st) != 0) return 0;
    return static_cast<int64_t>(st.st_mtime);
}

int fileDelete(const char* fileName) {
    if (!fileName) return 0;
    return std::remove(fileName) == 0 ? 1 : 0;
}

int fileMove(const char* oldName, const char* newName) {
    if (!oldName || !newName) return 0;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(fs::path(newName), ec))) return 0;
    fs::rename(fs::path(oldName), fs::path(newName), ec);
    return ec ? 0 : 1;
}

char* fileTempName(const char* base) {
    if (!base) return nullptr;
    std::string name = base;
    name += std::to_string(static_cast<long>(getpid()));
    name += '-';
    name += std::to_string(threadNumber());
    name += '-';
    name += std::to_string(nextTempSequence.fetch_add(1));
    name += ".tmp";
    return memStrDup(name.c_str());
}

int fileMakeDirectoryPath(const char* path) {
    if (!path || !*path) return 0;
    std::string p = path;
    std::string sofar;
    size_t i = 0;
    if (isSeparator(p[0])) {
        sofar = "/";
        while (i < p.size() && isSeparator(p[i])) ++i;
    }
    std::error_code ec;
    while (i < p.size()) {
        size_t end = i;
        while (end < p.size() && !isSeparator(p[end])) ++end;
        std::string part = p.substr(i, end - i);
        if (!sofar.empty() && sofar.back() != '/') sofar += '/';
        sofar += part;
        // A drive name ("C:") is not a directory to create.
        bool drive = part.size() == 2 && part[1] == ':' && i == 0;
        if (!drive && !fs::is_directory(fs::path(sofar), ec)) {
            fs::create_directory(fs::path(sofar), ec);
        }
        i = end;
        while (i < p.size() && isSeparator(p[i])) ++i;
    }
    return fs::is_directory(fs::path(sofar), ec) ? 1 : 0;
}

int fileSplitPath(const char* path, char** drive, char** directory, char** name, char** extension) {
    if (!path) return -1;
    std::string_view p(path);
    std::string_view drivePart, dirPart, namePart, extPart;
    if (p.size() >= 2 && p[1] == ':') {
        drivePart = p.substr(0, 2);
        p.remove_prefix(2);
    }
    size_t lastSep = p.find_last_of("\\/");
    if (lastSep != std::string_view::npos) {
        dirPart = p.substr(0, lastSep + 1);
        p.remove_prefix(lastSep + 1);
    }
    size_t dot = p.rfind('.');
    if (dot != std::string_view::npos) {
        namePart = p.substr(0, dot);
        extPart = p.substr(dot);
    } else {
        namePart = p;
    }

    char* parts[4] = {
        drive ? newPart(drivePart, 3) : nullptr,
        directory ? newPart(dirPart, 256) : nullptr,
        name ? newPart(namePart, 256) : nullptr,
        extension ? newPart(extPart, 256) : nullptr,
    };
    char** outs[4] = {drive, directory, name, extension};
    for (int k = 0; k < 4; ++k) {
        if (outs[k] && !parts[k]) {
            for (int j = 0; j < 4; ++j) memFree(parts[j]);
            return -1;
        }
    }
    for (int k = 0; k < 4; ++k) {
        if (outs[k]) *outs[k] = parts[k];
    }
    return 0;
}

int fileCutAtMarker(const char* fileName, const char* marker) {
    if (!fileName || !marker) return 0;
    FilePtr in = openFile(fileName, "rb");
    if (!in) return 0;
    if (!*marker) return 1;  // an empty marker is found nowhere

    // The temporary file sits beside the original so that it can replace it by a
    // rename on the same file system.
    std::string original = fileName;
    size_t sep = original.find_last_of("\\/");
    std::string dir = sep == std::string::npos ? std::string() : original.substr(0, sep + 1);
    char* tempName = fileTempName((dir + "temp").c_str());
    if (!tempName) return 0;
    std::string temp = tempName;
    memFree(tempName);

    FilePtr out = openFile(temp.c_str(), "wb");
    if (!out) return 0;

    // Whole lines are compared, however long, so a marker is never missed at a block
    // boundary.
    bool ok = true;
    std::string line;
    int c;
    bool cut = false;
    while (!cut && ok) {
        line.clear();
        while ((c = std::fgetc(in.get())) != EOF) {
            line += static_cast<char>(c);
            if (c == '\n') break;
        }
        if (line.empty()) break;
        size_t at = line.find(marker);
        if (at != std::string::npos) {
            line.resize(at);
            cut = true;
        }
        ok = writeAll(out.get(), line.data(), line.size());
    }
    if (std::ferror(in.get())) ok = false;
    in.reset();
    if (!closeChecked(out) || !ok) {
        std::remove(temp.c_str());
        return 0;
    }
    std::error_code ec;
    // The replacement keeps the original's permissions.
    fs::file_status originalStatus = fs::status(fs::path(original), ec);
    if (!ec) fs::permissions(fs::path(temp), originalStatus.permissions(), ec);
    fs::rename(fs::path(temp), fs::path(original), ec);
    if (ec) {
        std::remove(temp.c_str());
        return 0;
    }
    return 1;
}

int fileWalkDirectory(const char* directory, const char* patterns, FileWalkCallback callback,
                      void* context, int recursive) {
    if (!directory || !callback) return -1;
    try {
        return walkOne(directory, patterns, callback, context, recursive != 0);
    } catch (...) {
        return -1;
    }
}

int fileWriteMarked(const void* bytes, int64_t length, const char* fileName) {
    if (!fileName || length < 0 || (!bytes && length > 0)) return 0;
    FilePtr f = openFile(fileName, "wb");
    if (!f) return 0;
    bool ok = writeAll(f.get(), FILE_MARKER_TEXT, FILE_MARKER_LENGTH);

    // Scrambled through a bounded scratch block so the caller's bytes stay intact.
    const unsigned char* src = static_cast<const unsigned char*>(bytes);
    unsigned char block[64 * 1024];
    int64_t done = 0;
    while (ok && done < length) {
        size_t n = static_cast<size_t>(std::min<int64_t>(length - done, sizeof block));
        for (size_t i = 0; i < n; ++i) {
            block[i] = static_cast<unsigned char>(
                src[done + i] ^ static_cast<unsigned char>((done + i) % kScramblePeriod));
        }
        ok = writeAll(f.get(), block, n);
        done += static_cast<int64_t>(n);
    }
    return closeChecked(f) && ok ? 1 : 0;
}

int64_t fileReadMarked(const char* fileName, char** buffer) {
    if (!buffer) return 0;
    *buffer = nullptr;
    if (!fileName || isDirectory(fileName)) return 0;
    FilePtr f = openFile(fileName, "rb");
    if (!f) return 0;
    int64_t size = fileSize(f.get());
    if (size < 0) return 0;

    unsigned char head[FILE_MARKER_LENGTH];
    size_t got = std::fread(head, 1, sizeof head, f.get());
    if (got == FILE_MARKER_LENGTH && std::memcmp(head, FILE_MARKER_TEXT, FILE_MARKER_LENGTH) == 0) {
        int64_t n = readRest(f.get(), size - FILE_MARKER_LENGTH, buffer);
        if (*buffer) scramble(reinterpret_cast<unsigned char*>(*buffer), static_cast<size_t>(n));
        return n;
    }
    // A plain file: read it whole from the start.
    if (std::fseek(f.get(), 0, SEEK_SET) != 0) return 0;
    return readRest(f.get(), size, buffer);
}

void fileScrambleBytes(void* bytes, int64_t length) {
    if (!bytes || length <= 0) return;
    scramble(static_cast<unsigned char*>(bytes), static_cast<size_t>(length));
}

}  // extern "C"
