// What the indexer remembers between runs and what a personal server's home says should
// be indexed.
//
// The state file has one line per file: modification time TAB size TAB reference TAB
// path. The time is whole seconds, optionally followed by '.' and nine digits of
// nanoseconds; a reader that takes the whole seconds only (strtoll) reads it too.
//
// The content list is HOME/ixo/content.ini, beside the server's own ixo.ini: section
// CONTENT, keys FOLDER0.. (folders), MAIL0.. (CLIENT or CLIENT=STORE) and ANALYSIS (1
// while live indexing should run). Values are %XX-encoded so any path survives.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ixowatch {

struct FileState {
    int64_t mtime = 0;     // seconds
    int64_t mtimeNs = -1;  // nanoseconds within the second, -1 when not recorded
    int64_t size = 0;
    std::string reference;  // of the file's first document, empty when it had none
};

using StateMap = std::map<std::string, FileState>;

// An unreadable or missing file gives an empty map; malformed lines are skipped.
StateMap loadState(const std::string& path);
// Written beside the old file and renamed over it, so a crash never leaves half a file.
bool saveState(const std::string& path, const StateMap& state);
// Whether a file whose stat gave these values still matches the remembered state.
// Nanoseconds are compared only when both sides have them.
bool sameFile(const FileState& remembered, const FileState& now);

struct ContentList {
    std::vector<std::string> folders;
    std::vector<std::string> mail;  // CLIENT or CLIENT=STORE, as ixoindex --mail takes
    bool analysis = false;
};

// HOME/ixo/content.ini.
std::string contentListPath(const std::string& home);
// False when the file exists but cannot be read; a missing file is an empty list.
bool loadContentList(const std::string& home, ContentList& out);
// Replaces the file as a whole. False when it cannot be written.
bool saveContentList(const std::string& home, const ContentList& list);

}  // namespace ixowatch
