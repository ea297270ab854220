// Fallback converter slave: the printable text of any file, as runs of at least four
// printable characters (blanks and tabs included), one run per line.
#include <string>

#include "convcommon.h"

namespace {

constexpr size_t kMinRun = 4;
constexpr size_t kMaxInput = size_t{64} << 20;

bool printable(unsigned char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c >= 0xA0;
}

bool convertBinary(const std::string& input, const std::string& output) {
    std::string data;
    if (!conv::readFile(input, data, kMaxInput)) return false;
    std::string text, run;
    for (char ch : data) {
        if (printable(static_cast<unsigned char>(ch))) {
            run += ch;
            continue;
        }
        if (run.size() >= kMinRun && run.find_first_not_of(" \t") != std::string::npos)
            text += run + "\n";
        run.clear();
    }
    if (run.size() >= kMinRun && run.find_first_not_of(" \t") != std::string::npos) text += run;
    if (text.empty()) return false;
    return conv::writeFile(output, conv::textToHtml("", text));
}

}  // namespace

int main(int argc, char** argv) {
    return conv::slaveMain(argc, argv, convertBinary);
}
