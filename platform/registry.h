// The settings registry: two hives, "user" and "machine", each a text file in the
// REGEDIT4 export form:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Halvoran\Sapiolux\Suggestions]
//   "NSuggests"=dword:00000006
//   "UrlPrefix"="http://example"
//   @="the key's default value, read and written under the empty name"
//
// The user hive is <SAPIOLUX_USER_HIVE_DIR>/user.reg (default $XDG_CONFIG_HOME/sapiolux,
// or ~/.config/sapiolux); the machine hive is <SAPIOLUX_MACHINE_HIVE_DIR>/machine.reg
// (default /etc/sapiolux). Key paths and value names are compared without regard to
// case. Numbers are 32-bit. A missing or unreadable value is reported as absent so the
// caller can use its default. Writes create the key, hold an exclusive lock on
// "<hive>.lock" for the whole read-modify-write, and replace the file atomically (a
// temporary file renamed over it), so two processes can write the same hive safely.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace platform {

enum class RegHive { User, Machine };

// The file that holds a hive.
std::string regHiveFile(RegHive hive);

// One value: a number (dword) or a text.
using RegValue = std::variant<uint32_t, std::string>;

// A hive read once, for callers that look many values up (the settings loader).
class RegSnapshot {
  public:
    // Reads the hive's file; a missing or unreadable file gives an empty snapshot.
    static RegSnapshot load(RegHive hive);
    // Parses REGEDIT4 text. Lines that cannot be read are skipped.
    static RegSnapshot parse(const std::string& text);

    std::optional<uint32_t> number(const std::string& keyPath, const std::string& name) const;
    std::optional<std::string> text(const std::string& keyPath, const std::string& name) const;
    void set(const std::string& keyPath, const std::string& name, RegValue value);
    // The REGEDIT4 text of every key under the given root name ("HKEY_CURRENT_USER").
    std::string format(const std::string& rootName) const;

  private:
    struct Value {
        std::string name;  // as first written
        RegValue value;
    };
    struct Key {
        std::string path;                     // as first written, without the root
        std::map<std::string, Value> values;  // by upper-cased name
    };
    const Value* find(const std::string& keyPath, const std::string& name) const;
    std::map<std::string, Key> keys_;  // by upper-cased path
};

std::optional<uint32_t> regReadNumber(RegHive hive, const std::string& keyPath,
                                      const std::string& name);
std::optional<std::string> regReadText(RegHive hive, const std::string& keyPath,
                                       const std::string& name);
// True when the value was written and the hive file replaced.
bool regWriteNumber(RegHive hive, const std::string& keyPath, const std::string& name,
                    uint32_t value);
bool regWriteText(RegHive hive, const std::string& keyPath, const std::string& name,
                  const std::string& value);

}  // namespace platform
