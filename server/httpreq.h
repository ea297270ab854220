// Request side of the server's HTTP/1.0: a tolerant parser for what the retrieval
// client sends (a blank before " HTTP/1.0", paths that end in a line feed, '+' between
// terms), undoing of scrambled "/HLVN" paths, the parameters of a request path, and
// the reply framing including the "binary/compressed" form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ixoserver {

struct HttpRequestData {
    std::string method;  // "GET", "POST", ... (upper case as sent)
    std::string target;  // the path as sent, trailing blanks and line ends removed
    std::vector<std::pair<std::string, std::string>> headers;  // names as sent
    std::string body;
    bool hasContentLength = false;
    std::size_t contentLength = 0;
};

enum class ParseStatus {
    Incomplete,  // more bytes are needed
    Complete,    // out is filled
    Bad,         // cannot be a request: answer 400
    TooLarge,    // header block or body over the limit: answer 413
};

struct ParseLimits {
    std::size_t maxHeaderBytes = 64u << 10;
    std::size_t maxBodyBytes = 64u << 20;
};

// Parses the bytes received so far. With atEof set the connection is closed by the
// peer: a request without Content-Length takes the rest as its body, and a body shorter
// than its Content-Length is Bad.
ParseStatus parseHttpRequest(std::string_view data, const ParseLimits& limits, bool atEof,
                             HttpRequestData& out);

// Case-blind header lookup; empty when absent.
std::string headerValue(const HttpRequestData& req, std::string_view name);

// Base64 decoding (blanks and line ends ignored, '=' padding optional). False for any
// other character or a dangling single character.
bool decodeBase64(std::string_view text, std::string& out);
std::string encodeBase64(std::string_view bytes);

// Checksum of a scrambled segment: sum of the bytes taken as signed values, remainder
// of the division by 999999 after each step.
int scrambleChecksum(std::string_view segment);

// Undoes request scrambling: when target holds "/HLVN" at the start of its path (also
// after "scheme://host"), the Base64 text after it is decoded, the six checksum digits
// are checked and the rest is XORed with the request key. The unscrambled target is
// stored in plain. Returns false for a scrambled target that does not decode or whose
// checksum is wrong; a target that is not scrambled is copied unchanged.
bool unscrambleTarget(std::string_view target, std::string& plain);
// The client's scrambling, used by tests and tools to build requests.
std::string scrambleTarget(std::string_view target);

// The path of a request after "scheme://host" is cut away.
std::string_view pathOf(std::string_view target);

// %XX sequences with two hexadecimal digits become their byte; everything else,
// including '+', stays as it is.
std::string percentDecode(std::string_view text);

// A request path split into its command ("IXOADD" of "/IXOADD?x", empty for
// "/qmethod=..." paths) and '&'-separated parameters (name before the first '=',
// value after it, percent-decoded). A parameter without '=' has an empty name.
// rawValues holds each value as sent, before decoding, at the same index as params:
// a list whose separator may also occur, encoded, inside its items is split on that.
struct RequestPath {
    std::string command;
    std::vector<std::pair<std::string, std::string>> params;
    std::vector<std::string> rawValues;
    const std::string* find(std::string_view name) const;  // first match, exact name
    const std::string* findCaseBlind(std::string_view name) const;
    // The undecoded value of the first parameter named exactly name; null when absent.
    const std::string* findRaw(std::string_view name) const;
};

// Splits an undecoded list on separator and percent-decodes each item, so an item may
// carry the separator as %XX. Empty items are dropped.
std::vector<std::string> splitEncodedList(std::string_view raw, char separator);
RequestPath splitRequestPath(std::string_view path);

// A complete HTTP/1.0 reply. contentType "binary/compressed" is set by compressReply.
struct HttpReply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    std::string server = "ixoserver";  // the "Server" header
};

// Replaces the body by 8 decimal digits of its length and a zlib stream of it, and marks
// the reply "binary/compressed". Leaves the reply alone (returns false) when the body is
// too long for 8 digits or compression fails.
bool compressReply(HttpReply& reply);

// Status line, "Server", "Content-Type", "Content-length: " and the body.
std::string serializeReply(const HttpReply& reply);

const char* statusText(int status);

}  // namespace ixoserver
