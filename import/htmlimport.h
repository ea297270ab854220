// The HTML importer: the registry handler of "html", "shtml", "htm" and "wml", also used
// for the HTML that converter programs produce. It converts the page to Windows-1252,
// optionally blanks configured tags and cuts the page to its configured part, scans it
// and fills the document: title, content, meta fields, length fields and a quality
// score, then merges the page's IDX side files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "import/htmlparse.h"
#include "import/importctrl.h"

// Result codes of the importer.
inline constexpr int kHtmlImportBadFile = -8;  // bad file name or zero-length file
inline constexpr int kHtmlImportParseFailed = -16;

// Registry handler.
int htmlImportHandler(ImportContext* context, ImportArgs* args, char* nameCopy, size_t nameCopySize,
                      const char* name, SrcFileSpec* spec, ImportEntry* entry);

// Imports the HTML file path into spec, recording sourceName (the document the page
// stands for, e.g. the file a converter rendered; may equal path) as its file name and
// default reference and looking up the side files of sourceName. Returns 0 or a
// negative code after reporting the failure.
int htmlImportFile(ImportContext* context, ImportArgs* args, const char* path,
                   const char* sourceName, SrcFileSpec* spec);

// Blanks every element of the listed tags (each given as "<NAME") from its opening "<"
// to the ">" after its closing tag, when that ">" lies less than 1024 characters after
// the closing tag name. Tag names match without regard to case.
void htmlStripTags(std::string& page, const std::vector<std::string>& tags);

// The page cut to the part after the first start definition found (tried in list
// order) up to the first end definition found after it; "<!-- Halvoran Dirudo ... -->"
// is put in front when a start definition was found. Unchanged without definitions.
std::string htmlCutPage(const std::string& page, const std::vector<std::string>& starts,
                        const std::vector<std::string>& ends);

// The title of a parse record: the page title, else the first heading shortened to whole
// words within 98 characters.
std::string htmlTitleOf(const HtmlParseRecord& record);

// The title without its first skipWords words (runs of ASCII letters and digits).
std::string htmlSkipTitleWords(const std::string& title, int skipWords);

// The quality score of a page from its body and link-text lengths and the spider's page
// depth, link count and duration (negative values count as 0).
long htmlQuality(long bodyLength, long linkLength, long depth, long links, long duration);
