// Converter slave for PDF files: the text through pdftotext (layout kept), the title
// through pdfinfo.
#include <string>

#include "convcommon.h"

namespace {

bool hasText(const std::string& s) {
    return s.find_first_not_of(" \t\r\n\f") != std::string::npos;
}

std::string pdfTitle(const std::string& input) {
    conv::RunResult info =
        conv::runProgram({"pdfinfo", "-enc", "UTF-8", input}, conv::converterTimeLimit());
    if (!info.ok()) return {};
    size_t pos = 0;
    while (pos < info.output.size()) {
        size_t end = info.output.find('\n', pos);
        if (end == std::string::npos) end = info.output.size();
        std::string line = info.output.substr(pos, end - pos);
        if (line.rfind("Title:", 0) == 0) {
            size_t v = line.find_first_not_of(' ', 6);
            return v == std::string::npos ? std::string() : conv::utf8ToLatin1(line.substr(v));
        }
        pos = end + 1;
    }
    return {};
}

bool convertPdf(const std::string& input, const std::string& output) {
    conv::RunResult text = conv::runProgram(
        {"pdftotext", "-layout", "-enc", "UTF-8", "-q", input, "-"}, conv::converterTimeLimit());
    if (!text.ok() || !hasText(text.output)) return false;
    return conv::writeFile(output,
                           conv::textToHtml(pdfTitle(input), conv::utf8ToLatin1(text.output)));
}

}  // namespace

int main(int argc, char** argv) {
    return conv::slaveMain(argc, argv, convertPdf);
}
