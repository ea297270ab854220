// The delimited-record importer: a file of records between a start and an end marker,
// each record split into fields by their own start and end markers. Every record
// becomes one document imported through the per-document flow, referenced by the file
// and its record number ("file#1", "file#2", ...) unless a field sets the reference.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "import/importctrl.h"

// The records of text, each as the values of the fields in field order.
//  - A record runs from after the document start marker to the next document end
//    marker. An empty start marker starts a record where the previous one ended (the
//    file start first); an empty end marker ends it at the next start marker or the
//    file end; a record without its end marker runs to the file end.
//  - Field i starts after the first occurrence of its start marker (searched from the
//    end of the previous field) plus its skip count, and ends at the next occurrence of
//    its end marker, or the record end when that is empty or absent. A field whose start
//    marker is missing is empty. Missing markers repeat the last one; missing skip
//    counts are 0; skips never reach past the record.
std::vector<std::vector<std::string>> delimitedSplit(std::string_view text,
                                                     const ImportDelimited& settings);

// Registry handler for the extensions configured under ImportDelimitedExtns. 0, or -6
// when the file cannot be read.
int importDelimitedHandler(ImportContext* context, ImportArgs* args, char* nameCopy,
                           size_t nameCopySize, const char* name, SrcFileSpec* spec,
                           ImportEntry* entry);
