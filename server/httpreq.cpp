#include "server/httpreq.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "support/strutil.h"

namespace ixoserver {

namespace {

constexpr unsigned char kRequestKey = 0x5A;

bool isBlankOrEol(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trimView(std::string_view s) {
    while (!s.empty() && isBlankOrEol(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlankOrEol(s.back())) s.remove_suffix(1);
    return s;
}

// Position of the "HTTP/" version marker that ends the request target: preceded by a
// blank, tab or line end. npos when absent.
size_t findVersionMarker(std::string_view data, size_t from) {
    for (size_t p = data.find("HTTP/", from); p != std::string_view::npos;
         p = data.find("HTTP/", p + 1)) {
        if (p >= from && p > 0 &&
            (data[p - 1] == ' ' || data[p - 1] == '\t' || data[p - 1] == '\n'))
            return p;
    }
    return std::string_view::npos;
}

// End of the header block starting at pos (the index just past the empty line), or npos.
size_t findHeaderEnd(std::string_view data, size_t pos) {
    while (pos < data.size()) {
        size_t eol = data.find('\n', pos);
        if (eol == std::string_view::npos) return std::string_view::npos;
        std::string_view line = data.substr(pos, eol - pos);
        if (line.empty() || line == "\r") return eol + 1;
        pos = eol + 1;
    }
    return std::string_view::npos;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

ParseStatus parseHttpRequest(std::string_view data, const ParseLimits& limits, bool atEof,
                             HttpRequestData& out) {
    out = HttpRequestData{};
    size_t pos = 0;
    while (pos < data.size() && (data[pos] == '\r' || data[pos] == '\n')) ++pos;
    if (pos > 64) return ParseStatus::Bad;

    // Method: 1 to 16 upper-case letters and a blank.
    size_t m = pos;
    while (m < data.size() && m - pos < 17 && data[m] >= 'A' && data[m] <= 'Z') ++m;
    if (m == data.size()) return atEof || m - pos > 16 ? ParseStatus::Bad : ParseStatus::Incomplete;
    if (m == pos || m - pos > 16 || data[m] != ' ') return ParseStatus::Bad;
    out.method.assign(data.substr(pos, m - pos));
    pos = m;
    while (pos < data.size() && data[pos] == ' ') ++pos;

    const size_t searchEnd = std::min(data.size(), limits.maxHeaderBytes);
    std::string_view head = data.substr(0, searchEnd);
    size_t marker = findVersionMarker(head, pos);
    size_t headersStart;
    if (marker != std::string_view::npos) {
        out.target.assign(trimView(data.substr(pos, marker - pos)));
        size_t eol = head.find('\n', marker);
        if (eol == std::string_view::npos) {
            if (data.size() > limits.maxHeaderBytes) return ParseStatus::TooLarge;
            return atEof ? ParseStatus::Bad : ParseStatus::Incomplete;
        }
        headersStart = eol + 1;
    } else {
        // No version: a bare "METHOD target" line, accepted once an empty line or the end
        // of the connection shows that nothing else is coming.
        size_t eol = head.find('\n', pos);
        bool blankLine = head.find("\n\n", pos) != std::string_view::npos ||
                         head.find("\r\n\r\n", pos) != std::string_view::npos;
        if (eol == std::string_view::npos || (!blankLine && !atEof)) {
            if (data.size() > limits.maxHeaderBytes) return ParseStatus::TooLarge;
            return atEof ? ParseStatus::Bad : ParseStatus::Incomplete;
        }
        out.target.assign(trimView(data.substr(pos, eol - pos)));
        headersStart = eol + 1;
    }
    if (out.target.empty()) return ParseStatus::Bad;
    if (out.target[0] != '/' && out.target.find("://") == std::string::npos)
        return ParseStatus::Bad;

    size_t headerEnd = findHeaderEnd(head, headersStart);
    if (headerEnd == std::string_view::npos) {
        if (data.size() > limits.maxHeaderBytes) return ParseStatus::TooLarge;
        if (!atEof) return ParseStatus::Incomplete;
        headerEnd = data.size();  // the peer stopped inside the headers: take what came
    }

    for (size_t p = headersStart; p < headerEnd;) {
        size_t eol = data.find('\n', p);
        if (eol == std::string_view::npos || eol > headerEnd) eol = headerEnd;
        std::string_view line = data.substr(p, eol - p);
        p = eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;  // tolerated, ignored
        std::string name(trimView(line.substr(0, colon)));
        std::string value(trimView(line.substr(colon + 1)));
        if (equalsCaseBlind(name, "Content-Length")) {
            if (value.empty() || value.size() > 18) return ParseStatus::Bad;
            size_t n = 0;
            for (char c : value) {
                if (c < '0' || c > '9') return ParseStatus::Bad;
                n = n * 10 + static_cast<size_t>(c - '0');
            }
            if (out.hasContentLength && n != out.contentLength) return ParseStatus::Bad;
            out.hasContentLength = true;
            out.contentLength = n;
        }
        out.headers.emplace_back(std::move(name), std::move(value));
        if (out.headers.size() > 200) return ParseStatus::TooLarge;
    }

    const size_t available = data.size() - std::min(headerEnd, data.size());
    if (out.hasContentLength) {
        if (out.contentLength > limits.maxBodyBytes) return ParseStatus::TooLarge;
        if (available < out.contentLength)
            return atEof ? ParseStatus::Bad : ParseStatus::Incomplete;
        out.body.assign(data.substr(headerEnd, out.contentLength));
        return ParseStatus::Complete;
    }
    if (out.method == "POST" || out.method == "PUT") {
        if (available > limits.maxBodyBytes) return ParseStatus::TooLarge;
        if (!atEof) return ParseStatus::Incomplete;
        out.body.assign(data.substr(std::min(headerEnd, data.size())));
    }
    return ParseStatus::Complete;
}

std::string headerValue(const HttpRequestData& req, std::string_view name) {
    for (const auto& [n, v] : req.headers)
        if (equalsCaseBlind(n, name)) return v;
    return {};
}

bool decodeBase64(std::string_view text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    const std::string copy(text);
    int32_t length = 0;
    unsigned char* bytes = strBase64Decode(copy.c_str(), &length);
    if (!bytes) return length == 0;
    out.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    memFree(bytes);
    return true;
}

std::string encodeBase64(std::string_view bytes) {
    char* text = strBase64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                 static_cast<int32_t>(bytes.size()), 0);
    if (!text) return {};
    std::string out(text);
    memFree(text);
    return out;
}

int scrambleChecksum(std::string_view segment) {
    int c = 0;
    for (char ch : segment) c = (c + static_cast<signed char>(ch)) % 999999;
    return c;
}

std::string_view pathOf(std::string_view target) {
    size_t scheme = target.find("//");
    if (scheme == std::string_view::npos || target[0] == '/') return target;
    size_t slash = target.find('/', scheme + 2);
    return slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
}

bool unscrambleTarget(std::string_view target, std::string& plain) {
    std::string_view path = pathOf(target);
    if (path.compare(0, 5, "/HLVN") != 0) {
        plain.assign(target);
        return true;
    }
    std::string block;
    if (!decodeBase64(path.substr(5), block) || block.size() < 6) return false;
    std::string_view segment = std::string_view(block).substr(6);
    std::string unmasked(segment);
    for (auto& c : unmasked) c = static_cast<char>(static_cast<unsigned char>(c) ^ kRequestKey);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d", scrambleChecksum(unmasked));
    if (block.compare(0, 6, digits, 6) != 0) return false;
    plain.assign(target.substr(0, target.size() - path.size()));
    plain += trimView(unmasked);
    return !plain.empty();
}

std::string scrambleTarget(std::string_view target) {
    std::string_view path = pathOf(target);
    size_t blank = path.find(' ');
    std::string_view segment = path.substr(0, blank);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d", scrambleChecksum(segment));
    std::string block(digits, 6);
    for (char c : segment) block += static_cast<char>(static_cast<unsigned char>(c) ^ kRequestKey);
    std::string out(target.substr(0, target.size() - path.size()));
    out += "/HLVN" + encodeBase64(block);
    if (blank != std::string_view::npos) out += path.substr(blank);
    return out;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

const std::string* RequestPath::find(std::string_view name) const {
    for (const auto& [n, v] : params)
        if (n == name) return &v;
    return nullptr;
}

const std::string* RequestPath::findCaseBlind(std::string_view name) const {
    for (const auto& [n, v] : params)
        if (equalsCaseBlind(n, name)) return &v;
    return nullptr;
}

const std::string* RequestPath::findRaw(std::string_view name) const {
    for (size_t i = 0; i < params.size() && i < rawValues.size(); ++i)
        if (params[i].first == name) return &rawValues[i];
    return nullptr;
}

std::vector<std::string> splitEncodedList(std::string_view raw, char separator) {
    std::vector<std::string> out;
    while (!raw.empty()) {
        size_t end = raw.find(separator);
        std::string_view item = raw.substr(0, end);
        raw = end == std::string_view::npos ? std::string_view() : raw.substr(end + 1);
        if (!item.empty()) out.push_back(percentDecode(item));
    }
    return out;
}

RequestPath splitRequestPath(std::string_view path) {
    RequestPath out;
    path = trimView(path);
    while (!path.empty() && (path.front() == '/' || path.front() == '?')) path.remove_prefix(1);
    std::string_view rest;
    if (path.size() >= 8 && equalsCaseBlind(path.substr(0, 8), "qmethod=")) {
        rest = path;
    } else {
        size_t end = path.find_first_of("?&");
        out.command.assign(path.substr(0, end));
        while (!out.command.empty() && isBlankOrEol(out.command.back())) out.command.pop_back();
        if (end != std::string_view::npos) rest = path.substr(end + 1);
    }
    while (!rest.empty()) {
        size_t amp = rest.find('&');
        std::string_view piece = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        piece = trimView(piece);
        if (piece.empty()) continue;
        size_t eq = piece.find('=');
        std::string_view value = eq == std::string_view::npos ? piece : piece.substr(eq + 1);
        std::string name(eq == std::string_view::npos ? std::string_view() : piece.substr(0, eq));
        out.params.emplace_back(std::move(name), percentDecode(value));
        out.rawValues.emplace_back(value);
    }
    return out;
}

bool compressReply(HttpReply& reply) {
    if (reply.body.size() > 99999999) return false;
    uLongf bound = compressBound(static_cast<uLong>(reply.body.size()));
    std::string out(8 + bound, '\0');
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08zu", reply.body.size());
    std::memcpy(out.data(), digits, 8);
    if (compress(reinterpret_cast<Bytef*>(out.data() + 8), &bound,
                 reinterpret_cast<const Bytef*>(reply.body.data()),
                 static_cast<uLong>(reply.body.size())) != Z_OK)
        return false;
    out.resize(8 + bound);
    reply.body = std::move(out);
    reply.contentType = "binary/compressed";
    return true;
}

const char* statusText(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Request Entity Too Large";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

std::string serializeReply(const HttpReply& reply) {
    char head[512];
    int n = std::snprintf(head, sizeof head,
                          "HTTP/1.0 %d %s\r\nServer: %.64s\r\nContent-Type: %.200s\r\n"
                          "Content-length: %zu\r\nConnection: close\r\n\r\n",
                          reply.status, statusText(reply.status), reply.server.c_str(),
                          reply.contentType.c_str(), reply.body.size());
    std::string out(head, static_cast<size_t>(n > 0 ? std::min<int>(n, sizeof head - 1) : 0));
    out += reply.body;
    return out;
}

}  // namespace ixoserver
