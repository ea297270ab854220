// Mail message parsing: header block, encoded words, the MIME walk and uudecode.
#include "import/emlparse.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "import/asciicase.h"
#include "import/charset.h"
#include "import/htmlparse.h"
#include "support/strparse.h"

namespace {

using ascii_case::equalsCaseBlind;
using ascii_case::startsWithCaseBlind;
using ascii_case::upperAscii;
using ascii_case::upperCopy;

// Nested multiparts deeper than this are not searched for their text.
constexpr int kMaxDepth = 8;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimView(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// The first token of a header value (up to blank, tab, ';' or line end), upper-cased.
std::string firstToken(std::string_view value) {
    value = trimView(value);
    size_t end = value.find_first_of(" \t;\r\n");
    return upperCopy(value.substr(0, end));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Base64 that keeps whatever can be read: characters outside the alphabet are skipped,
// the first '=' ends the data, and a final group of two or three characters still
// gives its one or two bytes.
std::string decodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t acc = 0;
    int have = 0;
    for (char c : text) {
        if (c == '=') break;
        int v = base64Value(c);
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        if (++have == 4) {
            out += static_cast<char>((acc >> 16) & 0xFF);
            out += static_cast<char>((acc >> 8) & 0xFF);
            out += static_cast<char>(acc & 0xFF);
            acc = 0;
            have = 0;
        }
    }
    if (have == 2) {
        out += static_cast<char>((acc >> 4) & 0xFF);
    } else if (have == 3) {
        out += static_cast<char>((acc >> 10) & 0xFF);
        out += static_cast<char>((acc >> 2) & 0xFF);
    }
    return out;
}

std::string decodeQuotedPrintable(std::string_view text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT32_MAX / 2)) return std::string(text);
    char* out = nullptr;
    int32_t n = strDecodeQuotedPrintable(text.data(), static_cast<int32_t>(text.size()), 0, &out);
    if (!out) return {};
    std::string result(out, static_cast<size_t>(n < 0 ? 0 : n));
    memFree(out);
    return result;
}

// The transfer encoding of an entity, upper-cased, and whether the header is there.
struct TransferEncoding {
    bool present = false;
    std::string name;
};

TransferEncoding transferEncodingOf(const std::vector<EmlHeader>& headers) {
    TransferEncoding e;
    if (const std::string* v = emlFindHeader(headers, "Content-Transfer-Encoding")) {
        e.present = true;
        e.name = firstToken(*v);
    }
    return e;
}

std::string contentTypeValueOf(const std::vector<EmlHeader>& headers) {
    const std::string* v = emlFindHeader(headers, "Content-Type");
    return v ? *v : std::string();
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// Text of a text/plain or text/html entity in Windows-1252.
std::string textToWindows1252(std::string_view bytes, std::string_view contentTypeValue) {
    return charsetDocumentToWindows1252(bytes, charsetFromContentType(contentTypeValue));
}

std::string htmlToWindows1252Text(std::string_view bytes, std::string_view contentTypeValue) {
    std::string declared = charsetFromContentType(contentTypeValue);
    std::string page = declared.empty() ? charsetHtmlToWindows1252(bytes)
                                        : charsetDocumentToWindows1252(bytes, declared);
    return htmlToTextString(page, kHtmlDecodeReferences | kHtmlKeepLines);
}

// A MIME entity cut from a multipart body: its headers and its body.
struct Entity {
    std::vector<EmlHeader> headers;
    std::string_view body;
};

bool looksLikeHeaderLine(std::string_view text) {
    size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c <= 32 || c >= 127) return false;
    }
    return true;
}

// Splits one part text (what follows its "--boundary") into headers and body: the
// rest of the delimiter line is skipped; a blank line right after it means no headers.
Entity splitEntity(std::string_view part) {
    Entity e;
    size_t nl = part.find('\n');
    std::string_view rest = nl == std::string_view::npos ? std::string_view() : part.substr(nl + 1);
    if (startsWith(rest, "\r\n")) {
        e.body = rest.substr(2);
        return e;
    }
    if (startsWith(rest, "\n")) {
        e.body = rest.substr(1);
        return e;
    }
    EmlHeaderEnd end = emlFindHeaderEnd(rest);
    if (end.found) {
        e.headers = emlParseHeaders(rest.substr(0, end.headerLength));
        e.body = rest.substr(end.bodyStart);
    } else if (looksLikeHeaderLine(rest)) {
        e.headers = emlParseHeaders(rest);
    } else {
        e.body = rest;
    }
    return e;
}

// The parts of a multipart body. A delimiter is "--" + boundary at the start of a line
// (after CR LF or a bare LF), followed by "--", white space or the end. The text
// before the first delimiter is the preamble; a missing closing delimiter leaves the
// last part running to the end of the text.
struct Multipart {
    bool found = false;
    size_t preambleEnd = 0;               // offset where the first delimiter's line starts
    std::vector<std::string_view> parts;  // text after each "--boundary"
};

Multipart splitMultipart(std::string_view text, size_t from, std::string_view boundary) {
    Multipart m;
    if (boundary.empty()) return m;
    const std::string needle = "\n--" + std::string(boundary);
    const std::string_view dashes = std::string_view(needle).substr(1);
    auto delimiterEndsAt = [&](size_t after) {
        return after >= text.size() || isSpace(text[after]) || text.substr(after, 2) == "--";
    };
    // Position of the line feed before the next delimiter at or after pos, or npos.
    auto findDelimiter = [&](size_t pos) -> size_t {
        while ((pos = text.find(needle, pos)) != std::string_view::npos) {
            if (delimiterEndsAt(pos + needle.size())) return pos;
            pos += 1;
        }
        return std::string_view::npos;
    };
    size_t start;
    if (from == 0 && startsWith(text, dashes) && delimiterEndsAt(dashes.size())) {
        // The body starts with the delimiter itself.
        start = dashes.size();
    } else {
        size_t pos = findDelimiter(from);
        if (pos == std::string_view::npos) return m;
        m.preambleEnd = (pos > from && text[pos - 1] == '\r') ? pos - 1 : pos;
        start = pos + needle.size();
    }
    m.found = true;
    while (text.substr(start, 2) != "--") {  // the closing delimiter ends the parts
        size_t next = findDelimiter(start);
        size_t end = next == std::string_view::npos ? text.size() : next;
        if (next != std::string_view::npos && end > start && text[end - 1] == '\r') --end;
        m.parts.push_back(text.substr(start, end - start));
        if (next == std::string_view::npos) break;
        start = next + needle.size();
    }
    return m;
}

void logLine(const EmlLogSink& log, int level, std::string line) {
    log(level, line);
}

// Transfer decoding of a body by its encoding; "decoded" tells whether a decoder ran.
std::string transferDecode(const TransferEncoding& e, std::string_view body, bool* decoded) {
    *decoded = true;
    if (e.name == "BASE64") return decodeBase64(body);
    if (e.name == "QUOTED-PRINTABLE") return decodeQuotedPrintable(body);
    *decoded = false;
    return std::string(body);
}

std::optional<std::string> plainTextAlternative(std::string_view contentTypeValue,
                                                std::string_view body, const EmlLogSink& log,
                                                int depth, std::optional<std::string>& html);

// The text of a multipart/alternative or multipart/related entity: its plain-text
// alternative, else its first HTML alternative as text, else the text before the first
// delimiter.
std::string alternativeText(std::string_view contentTypeValue, std::string_view body,
                            const EmlLogSink& log, int depth) {
    std::optional<std::string> html;
    if (std::optional<std::string> plain =
            plainTextAlternative(contentTypeValue, body, log, depth, html))
        return *plain;
    if (html) return *html;
    std::optional<std::string> boundary = emlParameter(contentTypeValue, "BOUNDARY");
    std::string_view text = body;
    if (boundary) {
        Multipart m = splitMultipart(body, 0, *boundary);
        if (m.found) text = body.substr(0, m.preambleEnd);
    }
    return std::string(text);
}

std::optional<std::string> plainTextAlternative(std::string_view contentTypeValue,
                                                std::string_view body, const EmlLogSink& log,
                                                int depth, std::optional<std::string>& html) {
    std::optional<std::string> boundary = emlParameter(contentTypeValue, "BOUNDARY");
    if (!boundary || depth > kMaxDepth) return std::nullopt;
    Multipart m = splitMultipart(body, 0, *boundary);
    for (std::string_view part : m.parts) {
        Entity e = splitEntity(part);
        const std::string ctValue = contentTypeValueOf(e.headers);
        const std::string type = emlMediaType(ctValue);
        if (type.empty()) break;
        const TransferEncoding enc = transferEncodingOf(e.headers);
        if (startsWith(type, "TEXT/PLAIN")) {
            std::string text;
            if (enc.name == "QUOTED-PRINTABLE") {
                text = decodeQuotedPrintable(e.body);
            } else if (enc.name == "BASE64") {
                text = decodeBase64(e.body);
            } else {
                if (enc.name == "7BIT" || enc.name == "8BIT")
                    logLine(log, 3, "Content-Transfer-Encoding: " + enc.name + "\n");
                else if (enc.present)
                    logLine(log, 2, "Unknown Content Type: " + enc.name + "\n");
                text = std::string(e.body);
            }
            return textToWindows1252(text, ctValue);
        }
        if (startsWith(type, "MULTIPART/")) {
            if (std::optional<std::string> inner =
                    plainTextAlternative(ctValue, e.body, log, depth + 1, html))
                return inner;
            continue;
        }
        if (startsWith(type, "TEXT/HTML") && !html) {
            bool decoded = false;
            std::string bytes = transferDecode(enc, e.body, &decoded);
            html = htmlToWindows1252Text(bytes, ctValue);
        }
    }
    return std::nullopt;
}

// Decodes one entity by the decoding table. asAttachment keeps the transfer-decoded
// bytes as they are (no charset conversion, no HTML-to-text), since they are written
// to a file of their own.
std::string decodeEntity(const std::vector<EmlHeader>& headers, std::string_view body,
                         const std::string* fileName, bool asAttachment, const EmlLogSink& log,
                         int depth) {
    const std::string ctValue = contentTypeValueOf(headers);
    const std::string type = emlMediaType(ctValue);
    const TransferEncoding enc = transferEncodingOf(headers);
    if (fileName && enc.present)
        logLine(log, 3, "Decoding " + enc.name + " attachment: " + *fileName + "\n");
    const std::string name = fileName ? *fileName : std::string();
    bool decoded = false;

    if (startsWith(type, "TEXT/PLAIN")) {
        std::string text;
        if (enc.name == "QUOTED-PRINTABLE" || enc.name == "BASE64") {
            text = transferDecode(enc, body, &decoded);
        } else {
            if (enc.present && enc.name != "7BIT" && enc.name != "8BIT")
                logLine(log, 2, "Unknown Content Type: " + type + "\n");
            text = std::string(body);
        }
        return asAttachment ? text : textToWindows1252(text, ctValue);
    }
    if (startsWith(type, "TEXT/HTML")) {
        std::string text;
        if (enc.name == "7BIT" || enc.name == "QUOTED-PRINTABLE" || enc.name == "BASE64") {
            text = transferDecode(enc, body, &decoded);
        } else {
            // No encoding header means 7bit; 8bit and binary need no decoding either.
            if (enc.present && enc.name != "8BIT" && enc.name != "BINARY")
                logLine(log, 2, "Unknown Content Type: " + type + "\n");
            text = std::string(body);
        }
        return asAttachment ? text : htmlToWindows1252Text(text, ctValue);
    }
    if (startsWith(type, "MESSAGE/RFC822")) return std::string(body);
    if (startsWith(type, "MULTIPART/ALTERNATIVE") || startsWith(type, "MULTIPART/RELATED")) {
        if (enc.name == "BASE64" || enc.name == "QUOTED-PRINTABLE") {
            logLine(log, 3, "Decoding " + enc.name + ": " + type + " content\n");
            return transferDecode(enc, body, &decoded);
        }
        return alternativeText(ctValue, body, log, depth + 1);
    }
    // Other nested multiparts (mixed, signed, ...) give their text, not their raw form.
    if (startsWith(type, "MULTIPART/") && !enc.present && depth < kMaxDepth &&
        emlParameter(ctValue, "BOUNDARY"))
        return alternativeText(ctValue, body, log, depth + 1);
    const bool application = startsWith(type, "APPLICATION");
    if (startsWith(type, "IMAGE") && enc.name == "BASE64") return decodeBase64(body);
    if (!application && (enc.name == "BASE64" || enc.name == "QUOTED-PRINTABLE"))
        logLine(log, 2, "Unknown Content Type: " + type + "\n");
    if (enc.name == "BASE64") {
        logLine(log, 3, "Decoding base64 attachment: " + name + "\n");
        return decodeBase64(body);
    }
    if (enc.name == "QUOTED-PRINTABLE") {
        logLine(log, 3, "Decoding qp attachment: " + name + "\n");
        return decodeQuotedPrintable(body);
    }
    return std::string(body);
}

bool isTextType(const std::string& type) {
    return type.empty() || startsWith(type, "TEXT/") || startsWith(type, "MULTIPART/") ||
           startsWith(type, "MESSAGE/");
}

void appendBody(std::string& body, const std::string& text) {
    if (text.empty()) return;
    if (!body.empty() && body.back() != '\n') body += '\n';
    body += text;
}

// Turnpike messages carry their attachments uuencoded after the text: the text runs to
// the first section marker, every "begin 644" block to its end line is a file.
void extractUuencoded(std::string_view text, size_t bodyStart, EmlMessage& m,
                      const EmlLogSink& log) {
    std::string_view body = text.substr(bodyStart);
    size_t marker = body.find("[ Section: 1/1 File: ");
    m.body = std::string(body.substr(0, marker));
    size_t pos = 0;
    while ((pos = body.find("begin 644", pos)) != std::string_view::npos) {
        size_t lineEnd = body.find('\n', pos);
        std::string_view nameLine =
            body.substr(pos, (lineEnd == std::string_view::npos ? body.size() : lineEnd) - pos);
        std::string_view name = nameLine.size() > 10 ? nameLine.substr(10) : std::string_view();
        while (!name.empty() && (name.back() == '\r' || name.back() == '\n')) name.remove_suffix(1);
        size_t dataStart = lineEnd == std::string_view::npos ? body.size() : lineEnd + 1;
        size_t endMarker = body.find("`\r\nend", dataStart);
        size_t endLf = body.find("`\nend", dataStart);
        if (endLf < endMarker) endMarker = endLf;
        size_t dataEnd = endMarker == std::string_view::npos ? body.size() : endMarker;
        std::string_view lines = body.substr(dataStart, dataEnd - dataStart);
        EmlPart part;
        part.fileName = std::string(name);
        std::string bytes;
        if (emlUudecode(lines, bytes)) {
            part.text = std::move(bytes);
            part.hasData = !part.text.empty();
        } else {
            logLine(log, 2, "uudecode: Error in encoded block\n");
        }
        m.parts.push_back(std::move(part));
        if (endMarker == std::string_view::npos) break;
        pos = endMarker + 1;
    }
}

}  // namespace

EmlHeaderEnd emlFindHeaderEnd(std::string_view text) {
    // The earliest blank line of any kind: a line feed directly followed by another
    // line end (LF, CR LF, or a CR standing alone). Searching for "\r\n\r\n" first
    // would take a CRLF blank line deep in the body of a message with LF-ended headers
    // for the header end.
    EmlHeaderEnd end;
    size_t pos = 0;
    while (pos < text.size()) {
        const void* hit = std::memchr(text.data() + pos, '\n', text.size() - pos);
        if (!hit) break;
        const size_t lf = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
        pos = lf + 1;
        if (pos >= text.size() || (text[pos] != '\n' && text[pos] != '\r')) continue;
        end.found = true;
        end.headerLength = lf > 0 && text[lf - 1] == '\r' ? lf - 1 : lf;
        end.bodyStart = pos + 1;
        if (text[pos] == '\r' && end.bodyStart < text.size() && text[end.bodyStart] == '\n')
            ++end.bodyStart;
        return end;
    }
    return end;
}

std::vector<std::string> emlUnfoldHeaderLines(std::string_view block) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < block.size()) {
        size_t nl = block.find('\n', pos);
        size_t end = nl == std::string_view::npos ? block.size() : nl;
        std::string_view line = block.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty())
            lines.back().append(line);
        else if (!line.empty())
            lines.emplace_back(line);
        pos = end + 1;
    }
    return lines;
}

std::vector<EmlHeader> emlParseHeaders(std::string_view block) {
    std::vector<EmlHeader> headers;
    for (std::string& line : emlUnfoldHeaderLines(block)) {
        EmlHeader h;
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            h.value = std::move(line);
        } else {
            h.name = line.substr(0, colon);
            size_t v = colon + 1;
            while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
            h.value = line.substr(v);
        }
        headers.push_back(std::move(h));
    }
    return headers;
}

const std::string* emlFindHeader(const std::vector<EmlHeader>& headers, std::string_view name) {
    for (const EmlHeader& h : headers)
        if (equalsCaseBlind(trimView(h.name), name)) return &h.value;
    return nullptr;
}

std::string emlMediaType(std::string_view contentType) {
    return firstToken(contentType);
}

std::optional<std::string> emlParameter(std::string_view value, std::string_view name) {
    const std::string upper = upperCopy(value);
    const std::string needle = upperCopy(name) + "=";
    size_t pos = 0;
    while ((pos = upper.find(needle, pos)) != std::string::npos) {
        // The name must stand on its own: after ';', white space or the start.
        if (pos > 0 && !(isSpace(upper[pos - 1]) || upper[pos - 1] == ';')) {
            pos += 1;
            continue;
        }
        size_t start = pos + needle.size();
        while (start < value.size() && (value[start] == ' ' || value[start] == '\t')) ++start;
        if (start < value.size() && value[start] == '"') {
            size_t close = value.find('"', start + 1);
            size_t end = close == std::string_view::npos ? value.size() : close;
            return std::string(value.substr(start + 1, end - start - 1));
        }
        size_t end = value.find_first_of(" \t\r\n;", start);
        if (end == std::string_view::npos) end = value.size();
        return std::string(value.substr(start, end - start));
    }
    return std::nullopt;
}

std::string emlDecodeHeaderText(std::string_view value) {
    std::string out;
    std::string pendingSpace;  // white space after an encoded word, dropped before another
    bool lastEncoded = false;
    size_t pos = 0;
    auto appendPlain = [&](std::string_view text) {
        if (text.empty()) return;
        if (charsetIsUtf8(text))
            out += charsetToWindows1252(text, "utf-8");
        else
            out.append(text);
    };
    while (pos < value.size()) {
        size_t start = value.find("=?", pos);
        if (start == std::string_view::npos) break;
        // =?charset?X?text?=
        size_t q1 = value.find('?', start + 2);
        size_t q2 = q1 == std::string_view::npos ? q1 : value.find('?', q1 + 1);
        size_t end = q2 == std::string_view::npos ? q2 : value.find("?=", q2 + 1);
        if (end == std::string_view::npos || q2 != q1 + 2) {
            appendPlain(value.substr(pos, start + 2 - pos));
            pos = start + 2;
            lastEncoded = false;
            continue;
        }
        std::string_view between = value.substr(pos, start - pos);
        bool onlySpace = trimView(between).empty();
        if (!(lastEncoded && onlySpace)) appendPlain(between);
        std::string charset(value.substr(start + 2, q1 - start - 2));
        if (size_t star = charset.find('*'); star != std::string::npos) charset.resize(star);
        const char mode = upperAscii(value[q1 + 1]);
        std::string_view payload = value.substr(q2 + 1, end - q2 - 1);
        std::string bytes;
        if (mode == 'B') {
            bytes = decodeBase64(payload);
        } else if (mode == 'Q') {
            for (size_t i = 0; i < payload.size(); ++i) {
                char c = payload[i];
                if (c == '_') {
                    bytes += ' ';
                } else if (c == '=' && i + 2 < payload.size() && hexValue(payload[i + 1]) >= 0 &&
                           hexValue(payload[i + 2]) >= 0) {
                    bytes +=
                        static_cast<char>(hexValue(payload[i + 1]) * 16 + hexValue(payload[i + 2]));
                    i += 2;
                } else {
                    bytes += c;
                }
            }
        } else {
            appendPlain(value.substr(start, end + 2 - start));
            pos = end + 2;
            lastEncoded = false;
            continue;
        }
        for (char& c : charset) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out += charset.empty() ? bytes : charsetToWindows1252(bytes, charset);
        pos = end + 2;
        lastEncoded = true;
    }
    if (pos < value.size()) appendPlain(value.substr(pos));
    return out;
}

bool emlUudecode(std::string_view lines, std::string& out) {
    size_t pos = 0;
    while (pos < lines.size()) {
        size_t nl = lines.find('\n', pos);
        size_t end = nl == std::string_view::npos ? lines.size() : nl;
        std::string_view line = lines.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const size_t count = static_cast<size_t>((line[0] - 32) & 63);
        if (count == 0) break;  // the "`" line before "end"
        const size_t groups = (count + 2) / 3;
        if (line.size() < 1 + groups * 4) return false;
        size_t produced = 0;
        for (size_t g = 0; g < groups; ++g) {
            uint32_t acc = 0;
            for (size_t k = 0; k < 4; ++k)
                acc = (acc << 6) | static_cast<uint32_t>((line[1 + g * 4 + k] - 32) & 63);
            for (int b = 2; b >= 0 && produced < count; --b, ++produced)
                out += static_cast<char>((acc >> (8 * b)) & 0xFF);
        }
    }
    return true;
}

std::string emlDecodeBodyText(const std::vector<EmlHeader>& headers, std::string_view body,
                              const EmlLogSink& log) {
    return decodeEntity(headers, body, nullptr, false, log, 0);
}

EmlMessage emlParseMessage(std::string_view text, const EmlLogSink& log) {
    EmlMessage m;
    m.headerEnd = emlFindHeaderEnd(text);
    if (!m.headerEnd.found && looksLikeHeaderLine(text)) {
        // A message that is all header: no body.
        m.headerEnd.found = true;
        m.headerEnd.headerLength = text.size();
        m.headerEnd.bodyStart = text.size();
    }
    if (!m.headerEnd.found) return m;
    m.headers = emlParseHeaders(text.substr(0, m.headerEnd.headerLength));
    const std::string* version = emlFindHeader(m.headers, "MIME-Version");
    const std::string* type = emlFindHeader(m.headers, "Content-Type");
    if (version) {
        std::string_view v = trimView(*version);
        m.mimeVersion = std::string(v.substr(0, v.find_first_of(" \t")));
    }
    if (type) {
        m.contentTypeValue = *type;
        m.contentType = emlMediaType(*type);
    }
    if (!version || !type) {
        const std::string* mailer = emlFindHeader(m.headers, "X-Mailer");
        if (mailer && startsWithCaseBlind(trimView(*mailer), "TURNPIKE"))
            extractUuencoded(text, m.headerEnd.bodyStart, m, log);
        return m;
    }

    const std::string_view whole = text;
    std::string body;
    bool bodySet = false;
    const bool mixed = startsWith(m.contentType, "MULTIPART/MIXED");
    if (mixed || startsWith(m.contentType, "MULTIPART/RELATED")) {
        std::optional<std::string> boundary = emlParameter(m.contentTypeValue, "BOUNDARY");
        Multipart split;
        if (boundary) split = splitMultipart(whole, m.headerEnd.headerLength, *boundary);
        for (size_t index = 0; index < split.parts.size(); ++index) {
            Entity e = splitEntity(split.parts[index]);
            const std::string ctValue = contentTypeValueOf(e.headers);
            const std::string partType = emlMediaType(ctValue);
            const std::string* disposition = emlFindHeader(e.headers, "Content-Disposition");
            EmlPart part;
            if (!disposition) {
                if (isTextType(partType)) {
                    appendBody(body, decodeEntity(e.headers, e.body, nullptr, false, log, 0));
                    bodySet = true;
                } else {
                    // A file sent without a disposition: an attachment, not body text.
                    std::optional<std::string> name = emlParameter(ctValue, "NAME");
                    part.fileName = name && !name->empty()
                                        ? emlDecodeHeaderText(*name)
                                        : "email" + std::to_string(index) + ".eml";
                    part.text = decodeEntity(e.headers, e.body, &*part.fileName, true, log, 0);
                    part.hasData = !part.text.empty();
                }
                m.parts.push_back(std::move(part));
                continue;
            }
            const std::string kind = firstToken(*disposition);
            const bool inlinePart = startsWith(kind, "INLINE");
            if (!startsWith(kind, "ATTACHMENT") && !inlinePart) {
                m.parts.push_back(std::move(part));  // dropped (form data and the like)
                continue;
            }
            std::optional<std::string> name = emlParameter(*disposition, "FILENAME");
            if (name) name = std::string(trimView(*name));
            if ((!name || name->empty()) && inlinePart && isTextType(partType)) {
                // Inline text without a file name is the message text itself.
                appendBody(body, decodeEntity(e.headers, e.body, nullptr, false, log, 0));
                bodySet = true;
                m.parts.push_back(std::move(part));
                continue;
            }
            part.fileName = name && !name->empty() ? emlDecodeHeaderText(*name)
                                                   : "email" + std::to_string(index) + ".eml";
            part.text = decodeEntity(e.headers, e.body, &*part.fileName, true, log, 0);
            part.hasData = !part.text.empty();
            m.parts.push_back(std::move(part));
        }
        if (mixed && !split.parts.empty()) {
            m.body = bodySet ? std::move(body) : std::string();
            return m;
        }
    }
    m.parts.clear();
    const std::string_view rest = whole.substr(m.headerEnd.bodyStart);
    if (!isTextType(m.contentType)) {
        // A message that is one file (an image, a document): the file is its attachment.
        std::optional<std::string> name;
        if (const std::string* disposition = emlFindHeader(m.headers, "Content-Disposition"))
            name = emlParameter(*disposition, "FILENAME");
        if (!name || name->empty()) name = emlParameter(m.contentTypeValue, "NAME");
        EmlPart part;
        part.fileName = name && !name->empty() ? emlDecodeHeaderText(*name) : "email0.eml";
        part.text = decodeEntity(m.headers, rest, &*part.fileName, true, log, 0);
        part.hasData = !part.text.empty();
        m.parts.push_back(std::move(part));
        m.body = std::string();
        return m;
    }
    m.body = decodeEntity(m.headers, rest, nullptr, false, log, 0);
    return m;
}

std::string emlSafeFileName(std::string_view name) {
    size_t sep = name.find_last_of("/\\");
    if (sep != std::string_view::npos) name.remove_prefix(sep + 1);
    std::string out;
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 32 || c == 127 || std::strchr("<>:\"|?*", ch))
            out += '_';
        else
            out += ch;
    }
    size_t first = out.find_first_not_of(". ");
    if (first == std::string::npos) return {};
    out.erase(0, first);
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    constexpr size_t kMaxName = 150;
    if (out.size() > kMaxName) {
        size_t dot = out.rfind('.');
        std::string ext =
            (dot != std::string::npos && out.size() - dot <= 16) ? out.substr(dot) : "";
        out = out.substr(0, kMaxName - ext.size()) + ext;
    }
    return out;
}
