// Reading one of the desktop's settings through the gsettings program.
#pragma once

#include <optional>
#include <string>

namespace platform {

// What "gsettings get schema key" prints (its first line, GVariant text such as
// 'manual' or 8080), nullopt when gsettings is not installed, fails, or has not answered
// within timeoutMs (it is then stopped). The program is found on PATH and started with
// an argument vector; its standard input and error go to /dev/null.
std::optional<std::string> readGSetting(const std::string& schema, const std::string& key,
                                        int timeoutMs = 3000);

}  // namespace platform
