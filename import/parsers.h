// Converter handlers: documents that are not parsed inside the library (office files,
// PDF, Flash, and extensions configured with a program of their own) are turned into
// HTML by a converter program run as a slave, and the HTML is imported into the
// document.
//
// The process-wide converter slaves ("keyviewslave", "pdfslave", "flashslave",
// "binslave") are started on first use under the slave lock and stopped by
// imexDestroy. A configured converter keeps its slave in its registry entry.
#pragma once

#include <cstddef>
#include <string>

#include "import/importctrl.h"

// Document converter ("doc", "rtf", "xls", ..., "_default"): keyviewslave, then
// binslave when keyviewslave cannot be started.
int importDocumentConverter(ImportContext* context, ImportArgs* args, char* nameCopy,
                            size_t nameCopySize, const char* name, SrcFileSpec* spec,
                            ImportEntry* entry);
// PDF converter ("pdf"): pdfslave, then keyviewslave when pdfslave cannot be started.
int importPdfConverter(ImportContext* context, ImportArgs* args, char* nameCopy,
                       size_t nameCopySize, const char* name, SrcFileSpec* spec,
                       ImportEntry* entry);
// Flash converter ("swf"): flashslave, no fallback.
int importFlashConverter(ImportContext* context, ImportArgs* args, char* nameCopy,
                         size_t nameCopySize, const char* name, SrcFileSpec* spec,
                         ImportEntry* entry);
// Configured converter: the program named by the entry's user value (a text).
int importConfiguredConverter(ImportContext* context, ImportArgs* args, char* nameCopy,
                              size_t nameCopySize, const char* name, SrcFileSpec* spec,
                              ImportEntry* entry);

// Extensions of the document converter, the office formats users have today included.
extern const char* const kDocumentConverterExtensions[];
extern const size_t kDocumentConverterExtensionCount;

// Stops the process-wide converter slaves. The caller holds importSlaveLock().
void importStopConverterSlaves();

// Folder where converter programs are looked for: the one set here, else the running
// program's own folder. An empty text restores the default.
void importSetConverterDirectory(const std::string& directory);
// The path (without ".exe") of a converter program: names holding a separator are used
// as they are, others are looked for in the converter folder.
std::string importConverterPath(const std::string& program);
