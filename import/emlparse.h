// Mail message parsing: the header block and its unfolded lines, encoded words in
// headers, the MIME walk that turns a message into its body text and its attachments,
// and the uuencoded sections of Turnpike messages.
//
// Everything here works on byte strings of any content: no function reads outside its
// input, and broken input (missing closing boundary, truncated base64, header-only
// messages, binary garbage) gives whatever could be read. Lines may end in CR LF or in
// a bare LF.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Where the header block of a message (or of a MIME part) ends.
struct EmlHeaderEnd {
    bool found = false;
    size_t headerLength = 0;  // bytes of the header block (up to its blank line)
    size_t bodyStart = 0;     // first byte after the blank line
};

// The end of the header block: the earliest blank line, whatever its line ends (a line
// feed followed by LF, CR LF or a lone CR). The header block excludes the line end
// before the blank line; the body starts after the blank line.
EmlHeaderEnd emlFindHeaderEnd(std::string_view text);

// One unfolded header line split at its first colon: name as written, value with
// leading blanks and tabs removed. Lines without a colon are kept with an empty name
// and the whole line as value.
struct EmlHeader {
    std::string name;
    std::string value;
};

// The header lines of a header block: lines that begin with a blank or a tab continue
// the previous one (the line break is removed, the blank kept).
std::vector<std::string> emlUnfoldHeaderLines(std::string_view block);
std::vector<EmlHeader> emlParseHeaders(std::string_view block);

// Value of the first header called name (compared without regard to case), or null.
const std::string* emlFindHeader(const std::vector<EmlHeader>& headers, std::string_view name);

// The media type of a Content-Type value, upper-cased: the text up to the first blank,
// tab, ';' or line end.
std::string emlMediaType(std::string_view contentType);

// The value of a parameter ("BOUNDARY", "CHARSET", "FILENAME", "NAME") of a header
// value, searched as NAME= without regard to case: a quoted value runs to its closing
// quote (or the end), an unquoted one to the first blank, tab, CR, LF or ';'. Empty
// when absent.
std::optional<std::string> emlParameter(std::string_view value, std::string_view name);

// Decodes RFC 2047 encoded words (=?charset?Q?...?= and =?charset?B?...?=) and
// converts the text to Windows-1252: encoded words from their charset, the text around
// them from UTF-8 when it is well-formed UTF-8 with bytes above 127. White space
// between two encoded words is dropped. Malformed words are kept as written.
std::string emlDecodeHeaderText(std::string_view value);

// Standard uuencode line decoding of the lines of one block (without its "begin" and
// "end" lines): per line a length character, then groups of four characters giving
// three bytes, a grave accent standing for 0. A line too short for its length
// character gives false (the block has no usable data); bytes so far are in out.
bool emlUudecode(std::string_view lines, std::string& out);

// One part of a message. text holds the decoded bytes of an attachment (or the raw
// part text while walking); fileName is set for attachments.
struct EmlPart {
    std::string text;
    std::optional<std::string> fileName;
    bool hasData = false;  // decoded bytes are present (an attachment to write)
};

// The decoding log lines of a walk go to sink (one call per line, text ending in
// "\n"); a null sink drops them.
struct EmlLogSink {
    void (*write)(void* user, int level, const std::string& line) = nullptr;
    void* user = nullptr;
    void operator()(int level, const std::string& line) const {
        if (write) write(user, level, line);
    }
};

// A parsed message.
struct EmlMessage {
    EmlHeaderEnd headerEnd;
    std::vector<EmlHeader> headers;
    std::string mimeVersion;          // up to the first blank, tab or line end
    std::string contentType;          // media type, upper-cased
    std::string contentTypeValue;     // the whole Content-Type value
    std::optional<std::string> body;  // decoded text of the message, Windows-1252
    std::vector<EmlPart> parts;       // attachments (name and data) and dropped parts
};

// Splits the header block off text, then walks the MIME structure: fills the body
// text and the attachment parts. text is the whole raw message. A multipart/mixed
// message gives the text of its parts without a disposition (and of inline text parts
// without a file name) as body; attachment and inline parts become attachments (named
// "email%d.eml" by their index when they carry no file name), as do files sent without
// a disposition; parts with any other disposition are dropped. Other messages are
// decoded as one entity; a message that is a single file (an image, a document) gives
// that file as its one attachment and an empty body. A message without MIME headers
// keeps its body unset, except a Turnpike message, whose text before its uuencoded
// sections is the body and whose sections are its attachments.
EmlMessage emlParseMessage(std::string_view text, const EmlLogSink& log = {});

// Decodes one MIME entity (part headers already parsed) as body text: transfer
// decoding, charset conversion to Windows-1252 and HTML-to-text. Exposed for tests.
std::string emlDecodeBodyText(const std::vector<EmlHeader>& headers, std::string_view body,
                              const EmlLogSink& log = {});

// A safe file name made from the name a message gives its attachment: the directory
// part (anything up to the last '/' or '\\') is dropped, control characters and
// characters that are not allowed in file names become '_', leading dots and blanks
// and trailing dots and blanks are removed, and the name is cut to 150 bytes (keeping
// its extension). Empty when nothing usable is left.
std::string emlSafeFileName(std::string_view name);
