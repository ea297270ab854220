// The HTML scanner: one pass over a page that collects its title, first four headings,
// body text, meta names and values, named-anchor sections and links, and counts the
// characters put into each part. It is a hand-written state machine over the bytes of
// the page; it never reads past its input and keeps what it collected when the page
// ends in the middle of a tag, comment, quote or reference.
//
// Every run holds the process-wide scanner lock (htmlScannerMutex) and stops, keeping
// what it has, once its deadline (60 seconds by default) has passed.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Option flags of a scanner run.
inline constexpr int kHtmlKeepLines = 4;          // <br>, <p> and block ends give line feeds
inline constexpr int kHtmlDecodeReferences = 64;  // "&...;" becomes its character

// Result codes.
inline constexpr int kHtmlParseOk = 0;
inline constexpr int kHtmlParseNoMemory = -3;
inline constexpr int kHtmlParseFailed = -16;

// Longest text kept for one meta name or value, anchor name or link.
inline constexpr size_t kHtmlMaxAttributeText = 65536;

// A section of the body that starts at a named anchor (<a name="...">). heading is the
// first h1-h3 heading that begins after the anchor, before the next one.
struct HtmlAnchorSection {
    int32_t offset = 0;  // start in the body text
    std::string name;
    std::string heading;
};

// The title and headings of a page: what the title rule compares between pages.
struct HtmlPageHeads {
    std::string title;
    std::array<std::string, 4> headings;
};

struct HtmlParseRecord {
    std::string title;  // starts with the blank that each <title> adds
    bool titleSeen = false;
    std::array<std::string, 4> headings;  // texts of the first four h1, h2, h3 elements
    int headingCount = 0;
    std::string body;  // heading texts are part of the body as well
    std::vector<std::string> metaNames;
    std::vector<std::string> metaValues;  // parallel to metaNames
    std::vector<HtmlAnchorSection> anchors;
    std::vector<std::string> links;  // href values of <a> and <area>, in page order
    long bodyLength = 0;             // characters put into the body
    long metaLength = 0;             // characters of meta names and values
    long linkLength = 0;             // non-blank characters put into the body inside links
    long titleLength = 0;            // characters put into the title
    bool timedOut = false;           // the deadline passed; the record holds what was read

    HtmlPageHeads heads() const { return HtmlPageHeads{title, headings}; }
};

struct HtmlParseOptions {
    int flags = 0;
    std::chrono::steady_clock::duration timeLimit = std::chrono::seconds(60);
};

// The lock that serialises scanner runs in the process.
std::mutex& htmlScannerMutex();

// Scans html into record (which is cleared first). Returns kHtmlParseOk, or
// kHtmlParseNoMemory when memory ran out (the record is then cleared).
int htmlParse(std::string_view html, const HtmlParseOptions& options, HtmlParseRecord& record);
int htmlParse(std::string_view html, int flags, HtmlParseRecord& record);

// Decodes the character reference at the start of text ("&name;", "&#ddd;" or
// "&#xhh;", complete with its semicolon) and appends its Windows-1252 form to out
// (characters above 255 transliterated, "&nbsp;" as a blank). Returns the length of the
// reference, or 0, appending nothing, when text does not start with a complete and
// valid one.
size_t htmlDecodeReference(std::string_view text, std::string& out);

// Plain text of an HTML fragment: its body text with white space folded to single
// blanks (with kHtmlKeepLines, paragraph and line breaks kept as line feeds), trimmed.
std::string htmlToTextString(std::string_view html, int flags);
// The same as a new text owned by the caller (memFree); null for a null text or when
// memory runs out.
char* htmlToText(const char* text, int flags);
