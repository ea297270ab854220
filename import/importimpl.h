// Registry handlers that need no parser of their own: folders, wild-card names and IDX
// files (".ndx"), and the text importer in its two variants. Also the merging of a
// document's IDX side file.
#pragma once

#include <cstddef>

#include "import/idxreader.h"
#include "import/importctrl.h"

// Imports every file of the folder (the name without its trailing separator), in name
// order, recursively when the arguments ask for it. IDX side files and the output file
// are left out. 0, or -6 when the folder cannot be read.
int importDirectoryHandler(ImportContext* context, ImportArgs* args, char* nameCopy,
                           size_t nameCopySize, const char* name, SrcFileSpec* spec,
                           ImportEntry* entry);
// Imports every file matching a name holding '*' or '?' (in its last component).
int importWildcardHandler(ImportContext* context, ImportArgs* args, char* nameCopy,
                          size_t nameCopySize, const char* name, SrcFileSpec* spec,
                          ImportEntry* entry);
// Reads an IDX file: one document into spec, or several documents imported one by one.
int importIdxHandler(ImportContext* context, ImportArgs* args, char* nameCopy, size_t nameCopySize,
                     const char* name, SrcFileSpec* spec, ImportEntry* entry);
// Plain text ("txt", "text"): refuses files above the maximum plain-text length.
int importTextHandler(ImportContext* context, ImportArgs* args, char* nameCopy, size_t nameCopySize,
                      const char* name, SrcFileSpec* spec, ImportEntry* entry);
// Source text ("c", "cpp", ...): the same without the length limit.
int importSourceTextHandler(ImportContext* context, ImportArgs* args, char* nameCopy,
                            size_t nameCopySize, const char* name, SrcFileSpec* spec,
                            ImportEntry* entry);

// The options of the IDX reader for an import: the field remapping (remap must outlive
// the options) and, when the arguments ask for it, the HTML-to-text conversion of the
// content.
IdxReadOptions importIdxReadOptions(const ImportArgs* args, const IdxRemapTable* remap);

// Merges name + ".idx" and the matching file of the extra-IDX directory into spec.
// Returns the number of side files merged.
int importMergeSideFiles(ImportArgs* args, const char* name, SrcFileSpec* spec);
// Side files held in memory instead of on disk (the mail importer's side files of its
// attachments): while held, every side-file reader of this thread sees text under
// sidePath as if the file were there. Holding again replaces the text.
void importHoldSideFile(const std::string& sidePath, std::string text);
void importDropSideFile(const std::string& sidePath);
// The text held under sidePath, or null.
const std::string* importHeldSideFile(const std::string& sidePath);
// The extra-IDX side file of name, or empty when no extra-IDX directory is set.
std::string importExtraIdxName(const ImportArgs* args, const char* name);
// Values of the extraction fields found in text, set into spec.
void importExtractFields(const ImportArgs* args, const char* text, SrcFileSpec* spec);
