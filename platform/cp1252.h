// Text from the desktop (UTF-8) as the single-byte Windows-1252 text the agent's
// libraries work in. Used where window text enters the agent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 as Windows-1252, at most limit bytes (cut between characters): characters the
// code page lacks and broken sequences become '?'; zero bytes become blanks.
std::string utf8ToCp1252(std::string_view in, size_t limit = std::string::npos);
// Windows-1252 as UTF-8 (0x80-0x9F through the code page's own table; its five unassigned
// bytes stand for the control characters of the same numbers).
std::string cp1252ToUtf8(std::string_view in);

}  // namespace platform
