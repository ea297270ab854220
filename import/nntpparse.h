// The news article importer: the registry handler of "nntp". An article is a header
// block of "Name: value" lines, a blank line, and a body that ends at a line holding a
// single dot. Header names are matched exactly, case-sensitively, at the start of a
// header line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "import/importctrl.h"

struct NntpArticle {
    std::optional<std::string> from, newsgroups, subject, date, organization, lines, messageId,
        references, postingHost, path;
    std::optional<std::string> body;  // set only when both body markers were found
};

// Parses an article. Header values run to the end of their line. The body runs from
// after the first blank line ("\r\n\r\n", or "\n\n" in a file with bare LF line ends)
// to the end marker ("\r\n.\r\n", or "\n.\n"); without both there is no body.
NntpArticle nntpParseArticle(std::string_view text);

// Registry handler. 0, or -8 when the file cannot be read (or is empty).
int nntpImportHandler(ImportContext* context, ImportArgs* args, char* fname, size_t fnameSize,
                      const char* from, SrcFileSpec* sfs, ImportEntry* entry);
