// Internal side of the index and administration requests: request paths and bodies,
// exposed for tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ixo_index.h"

namespace ixo_index {

// Every byte other than an ASCII letter or digit as '%' and two upper-case hex digits.
std::string percentEncode(std::string_view text);

// "/IXOADD?location[&KILLDUPLICATES=..][&IXODBNAME=..]"; the location is percent-encoded
// when it holds a blank. dbName may be null (no database parameter).
std::string addRequest(std::string_view location, const char* killDuplicates, const char* dbName);

// The add-data body: text, "\n#IXOENDDATA", extra (may be null), "\n".
std::string addDataBody(std::string_view idxText, const char* extra);

// The path of ixoDeleteDocuments, or empty for an unknown mode.
std::string deleteRequest(int32_t mode, std::string_view text);

// The bodies of "/IXOREPLACE" and "/IXOUPDATE" (sign '+' adds, '-' removes).
std::string replaceBody(const IxoFieldChange* changes, int32_t count);
std::string termsBody(const IxoTermChange* changes, int32_t count, char sign);

// The terms to add to a query from a thesaurus term list: "TERM~[WEIGHT]+" for up to
// limit terms, skipping those that read as a non-zero number.
std::string thesaurusTerms(const IxoTermList& list, int32_t limit);

}  // namespace ixo_index
