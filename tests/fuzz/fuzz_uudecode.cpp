// uudecode over arbitrary lines: never reads past a line, and never produces more
// bytes than the length characters announce (at most 63 per line).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import/emlparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string lines(reinterpret_cast<const char*>(data), size);
    std::string out;
    emlUudecode(lines, out);
    size_t lineCount = 1;
    for (char c : lines) lineCount += c == '\n';
    if (out.size() > lineCount * 63) std::abort();
    // A Turnpike message around the same lines.
    EmlMessage m = emlParseMessage("X-Mailer: Turnpike\n\nbegin 644 f.bin\n" + lines);
    if (m.parts.empty()) std::abort();
    return 0;
}
