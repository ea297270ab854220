// Converter slave for office documents. The file's actual type (libmagic, not its
// extension) picks the converter: antiword or catdoc for Word, xls2csv and catppt for
// Excel and PowerPoint, unrtf for RTF, odt2txt for OpenDocument, docx2txt for Word
// 2007 and later, the archive's own XML (through unzip) for newer spreadsheets and
// presentations. Plain text and HTML pass through. Other types are not converted.
#include <magic.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "convcommon.h"

namespace {

std::string mimeType(const std::string& file) {
    magic_t m = magic_open(MAGIC_MIME_TYPE);
    if (!m) return {};
    std::string type;
    if (magic_load(m, nullptr) == 0) {
        const char* t = magic_file(m, file.c_str());
        if (t) type = t;
    }
    magic_close(m);
    return type;
}

std::string extensionOf(const std::string& file) {
    size_t slash = file.find_last_of("/\\");
    size_t dot = file.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = file.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool hasText(const std::string& s) {
    return s.find_first_not_of(" \t\r\n\f") != std::string::npos;
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Runs the first program of the list that succeeds with some text.
bool firstText(const std::vector<std::vector<std::string>>& commands, std::string& text) {
    for (const auto& argv : commands) {
        conv::RunResult r = conv::runProgram(argv, conv::converterTimeLimit());
        if (r.ok() && hasText(r.output)) {
            text = conv::utf8ToLatin1(r.output);
            return true;
        }
    }
    return false;
}

std::string zipMember(const std::string& file, const std::string& member) {
    conv::RunResult r =
        conv::runProgram({"unzip", "-p", "-qq", file, member}, conv::converterTimeLimit());
    return r.started && !r.timedOut ? r.output : std::string();
}

std::string zipTitle(const std::string& file, const std::string& member) {
    return conv::utf8ToLatin1(conv::xmlElementText(zipMember(file, member), "dc:title"));
}

bool writeText(const std::string& output, const std::string& title, const std::string& text) {
    return conv::writeFile(output, conv::textToHtml(title, text));
}

enum class Kind {
    Unknown,
    Word,
    Excel,
    PowerPoint,
    Rtf,
    OpenDocument,
    Docx,
    Xlsx,
    Pptx,
    Html,
    Text
};

Kind kindOf(const std::string& input) {
    const std::string type = mimeType(input);
    const std::string ext = extensionOf(input);
    if (type == "application/msword") return Kind::Word;
    if (type == "application/vnd.ms-excel") return Kind::Excel;
    if (type == "application/vnd.ms-powerpoint") return Kind::PowerPoint;
    if (type == "text/rtf" || type == "application/rtf") return Kind::Rtf;
    if (startsWith(type, "application/vnd.oasis.opendocument.")) return Kind::OpenDocument;
    if (type == "application/vnd.openxmlformats-officedocument.wordprocessingml.document")
        return Kind::Docx;
    if (type == "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")
        return Kind::Xlsx;
    if (type == "application/vnd.openxmlformats-officedocument.presentationml.presentation")
        return Kind::Pptx;
    // Compound files and archives that libmagic cannot place more closely: the
    // extension decides among the formats of that container.
    if (type == "application/vnd.ms-office" || type == "application/CDFV2" ||
        type == "application/x-ole-storage") {
        if (ext == "xls") return Kind::Excel;
        if (ext == "ppt") return Kind::PowerPoint;
        return Kind::Word;
    }
    if (type == "application/zip" || type == "application/octet-stream") {
        if (ext == "docx") return Kind::Docx;
        if (ext == "xlsx") return Kind::Xlsx;
        if (ext == "pptx") return Kind::Pptx;
        if (ext == "odt" || ext == "ods" || ext == "odp") return Kind::OpenDocument;
        return Kind::Unknown;
    }
    if (type == "text/html" || type == "application/xhtml+xml") return Kind::Html;
    if (startsWith(type, "text/")) return Kind::Text;
    return Kind::Unknown;
}

bool convertDocument(const std::string& input, const std::string& output) {
    std::string text, title;
    switch (kindOf(input)) {
        case Kind::Word:
            if (!firstText(
                    {{"antiword", "-m", "UTF-8.txt", input}, {"catdoc", "-d", "utf-8", input}},
                    text))
                return false;
            break;
        case Kind::Excel:
            if (!firstText({{"xls2csv", "-d", "utf-8", input}}, text)) return false;
            break;
        case Kind::PowerPoint:
            if (!firstText({{"catppt", "-d", "utf-8", input}}, text)) return false;
            break;
        case Kind::Rtf: {
            // unrtf writes HTML itself, with the document's title when it has one.
            conv::RunResult r =
                conv::runProgram({"unrtf", "--html", input}, conv::converterTimeLimit());
            if (!r.ok() || !hasText(r.output)) return false;
            return conv::writeFile(output, r.output);
        }
        case Kind::OpenDocument:
            if (!firstText({{"odt2txt", "--encoding=UTF-8", input}}, text)) return false;
            title = zipTitle(input, "meta.xml");
            break;
        case Kind::Docx:
            if (!firstText({{"docx2txt", input, "-"}}, text)) return false;
            title = zipTitle(input, "docProps/core.xml");
            break;
        case Kind::Xlsx:
            text = conv::utf8ToLatin1(conv::xmlToText(zipMember(input, "xl/sharedStrings.xml")));
            if (!hasText(text)) return false;
            title = zipTitle(input, "docProps/core.xml");
            break;
        case Kind::Pptx:
            text = conv::utf8ToLatin1(conv::xmlToText(zipMember(input, "ppt/slides/slide*.xml")));
            if (!hasText(text)) return false;
            title = zipTitle(input, "docProps/core.xml");
            break;
        case Kind::Html: {
            std::string html;
            return conv::readFile(input, html) && hasText(html) && conv::writeFile(output, html);
        }
        case Kind::Text:
            if (!conv::readFile(input, text) || !hasText(text)) return false;
            break;
        case Kind::Unknown:
            return false;
    }
    return writeText(output, title, text);
}

}  // namespace

int main(int argc, char** argv) {
    return conv::slaveMain(argc, argv, convertDocument);
}
