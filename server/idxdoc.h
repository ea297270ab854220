// IDX documents as the server receives them: the line form ("#IXOREFERENCE" ...
// "#IXOENDDOC", a stream ended by "#IXOENDDATA") and the XML form ("<IXODOC>").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ixoserver {

struct IdxDocument {
    std::string reference;
    std::string title;
    std::string content;
    int section = -1;
    int64_t docid = 0;  // "#IXODOCID", only in content replies
    std::string type;
    std::string date;
    std::string dbname;
    std::string filename;
    bool storeContent = true;  // "#IXOSTORECONTENT no" turns it off
    std::vector<std::pair<std::string, std::string>> fields;
};

// Parses every document of an IDX text. Reading stops at "#IXOENDDATA". A document
// without a reference, title or content is dropped. Tags must begin a line.
std::vector<IdxDocument> parseIdxText(std::string_view text);

// Writes one document in the line form (with "#IXODOCID" when docid is non-zero).
std::string writeIdxText(const IdxDocument& doc);

// Seconds since 1970 for an IDX date text: a decimal number of seconds (further words
// ignored), "YYYY-MM-DD[ HH:MM[:SS]]", "YYYY/MM/DD" or "DD/MM/YYYY". -1 when unknown.
int64_t parseIdxDate(std::string_view text);

}  // namespace ixoserver
