// The settings registry: two hives, "user" and "machine", each a text file in the
// REGEDIT4 export form:
//
//   REGEDIT4
//
//   ; comments and lines this reader does not know are kept as they are
//   [HKEY_CURRENT_USER\Software\Halvoran\Sapiolux\Suggestions]
//   "NSuggests"=dword:00000006
//   "UrlPrefix"="http://example"
//   "Command"=hex(2):25,53,79,73,00
//   @="the key's default value, read and written under the empty name"
//
// Value kinds: "text", dword:, hex: (bytes), hex(N): (bytes of registry type N; hex(2),
// an expandable text, and hex(1) read as texts, hex(4) as a number), continued over
// several lines by a trailing backslash; blanks around "=" are allowed.
//
// The user hive is <SAPIOLUX_USER_HIVE_DIR>/user.reg (default $XDG_CONFIG_HOME/sapiolux,
// or ~/.config/sapiolux); the machine hive is <SAPIOLUX_MACHINE_HIVE_DIR>/machine.reg
// (default <sysconfdir>/sapiolux of the install: /etc/sapiolux for a /usr install,
// /usr/local/etc/sapiolux for /usr/local). A normal user cannot write the machine hive, so
// a user's own values of machine-wide settings go to the machine overlay beside the user hive,
// <SAPIOLUX_USER_HIVE_DIR>/machine-overlay.reg, which the settings loader reads before the
// machine hive; the machine hive keeps the administrator's defaults.
//
// The user hive and the overlay hold passwords: when a write creates them they are made
// 0600, and the folders made for them 0700, whatever the umask. Key paths and value names are
// compared without regard to case. Numbers are 32-bit. A missing or unreadable value is reported as
// absent so the caller can use its default.
//
// A write changes only the line(s) of the value written (or adds a line, or a key at
// the end) and keeps every other byte of the file. It holds an exclusive lock on
// "<hive>.lock" for the whole read-modify-write and replaces the file atomically (a
// temporary file renamed over it, with the old file's permissions), so two processes
// can write the same hive safely. A hive that exists but cannot be read, or that is
// read-only, is never replaced: the write fails.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

enum class RegHive { User, Machine, MachineOverlay };

// The file that holds a hive.
std::string regHiveFile(RegHive hive);
// The folder of the machine hive when SAPIOLUX_MACHINE_HIVE_DIR does not name one: the
// installation's configuration folder.
const char* regDefaultMachineHiveDir();

// One value as written: a number (dword) or a text.
using RegValue = std::variant<uint32_t, std::string>;

// A hive read once, for callers that look many values up (the settings loader), and
// the text a write edits.
class RegSnapshot {
  public:
    // Reads the hive's file; a missing or unreadable file gives an empty snapshot.
    static RegSnapshot load(RegHive hive);
    // Reads the hive's file: an empty snapshot when it does not exist, nothing when it
    // exists but cannot be read in full (or is not a regular file).
    static std::optional<RegSnapshot> tryLoad(RegHive hive);
    // Parses REGEDIT4 text. Lines that cannot be read are kept but give no value.
    static RegSnapshot parse(const std::string& text);

    std::optional<uint32_t> number(const std::string& keyPath, const std::string& name) const;
    std::optional<std::string> text(const std::string& keyPath, const std::string& name) const;
    // Sets a value, creating its key. False (and nothing changed) for a key path or
    // name that cannot be written in the file form (line breaks, brackets in the key,
    // an empty key) or a text holding a line break.
    bool set(const std::string& keyPath, const std::string& name, RegValue value);
    // The REGEDIT4 text: the text parsed, byte for byte, with the values set since
    // changed in place; keys that were not in it follow at the end under the given
    // root name ("HKEY_CURRENT_USER"). An empty snapshot starts with the REGEDIT4 line.
    std::string format(const std::string& rootName) const;

  private:
    enum class Kind { Text, Number, Bytes };
    struct Value {
        std::string name;  // as first written
        Kind kind = Kind::Text;
        std::string text;                // Text
        uint32_t number = 0;             // Number
        size_t line = 0, lineCount = 0;  // where it is in lines_
    };
    struct Key {
        std::string path;                     // as first written, without the root
        std::map<std::string, Value> values;  // by upper-cased name
        size_t insertAt = 0;                  // line index after the last value of its last section
    };
    const Value* find(const std::string& keyPath, const std::string& name) const;
    void index();

    std::vector<std::string> lines_;   // each with its own line ending
    std::string eol_ = "\n";           // the line ending of the text, for added lines
    bool unicodeHex_ = false;          // version 5 export: hex(2) texts are UTF-16LE
    std::map<std::string, Key> keys_;  // in the text, by upper-cased path
    // Keys added by set() that the text does not hold, by upper-cased path and in the
    // order added.
    std::map<std::string, Key> addedKeys_;
    std::vector<std::string> addedOrder_;
};

std::optional<uint32_t> regReadNumber(RegHive hive, const std::string& keyPath,
                                      const std::string& name);
std::optional<std::string> regReadText(RegHive hive, const std::string& keyPath,
                                       const std::string& name);
// True when the value was written and the hive file replaced (or already held it).
bool regWriteNumber(RegHive hive, const std::string& keyPath, const std::string& name,
                    uint32_t value);
bool regWriteText(RegHive hive, const std::string& keyPath, const std::string& name,
                  const std::string& value);

// Replaces the file at path with bytes so that it holds either its old or its new
// contents, never a part: the bytes go to a temporary file made exclusively beside it,
// are flushed to disk, get the given permissions and are renamed over path. False,
// with path untouched, when any step fails. Used for every data file the agent
// rewrites.
bool writeFileReplacing(const std::string& path, std::string_view bytes, mode_t mode);

}  // namespace platform
