// Configuration files of our servers: an ini file under the server's home, created
// with defaults when missing, kept private (0600 in a 0700 folder) because it may hold
// passwords, read through the support library's configuration reader (names compared
// without regard to case, a key missing from a section taken from "DEFAULT"), and
// edited in place line by line so comments and order survive.
#pragma once

#include <memory>
#include <string>

struct ConfigFile;

namespace ixoserver {

struct ConfigCloser {
    void operator()(ConfigFile* cfg) const;
};
using ConfigPtr = std::unique_ptr<ConfigFile, ConfigCloser>;

// Creates path (and its folder) with defaultText when it does not exist, makes file and
// folder private, and loads it read-only. Null with a message in error on failure.
ConfigPtr openServerIni(const std::string& path, const std::string& defaultText,
                        std::string& error);

// The value of key in section (or "DEFAULT"); false when absent.
bool iniValue(ConfigFile* cfg, const char* section, const char* key, std::string& value);

// A decimal number within lo..hi; false (out untouched) for anything else.
bool parseIniInt(const std::string& text, long lo, long hi, long& out);

// ON/OFF, YES/NO, TRUE/FALSE, 1/0 (any case); fallback for anything else.
bool parseIniFlag(const std::string& text, bool fallback);

// Sets key=value in section of the ini text (replacing the key's line there, or adding
// it after the section's last line; a missing section is appended). Keeps the text's
// line ends.
std::string setIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value);

// Writes text to path through a private temporary file beside it, renamed over it, so
// a crash leaves the old file or the new one, never half of one.
bool replaceFilePrivately(const std::string& path, const std::string& text);

std::string upperAscii(std::string s);
std::string trimmedText(const std::string& s);

}  // namespace ixoserver
