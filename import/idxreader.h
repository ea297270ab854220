// Reading IDX files that are themselves imported (".ndx" files and the ".idx" side files
// beside documents): one document into a SrcFileSpec, or a file of several documents
// split into single documents handed to the caller one by one, in memory.
#pragma once

#include <cstddef>
#include <string_view>

#include "import/srcfile_spec.h"

struct IdxReadOptions {
    const IdxRemapTable* remap = nullptr;  // field renaming of the import arguments
    // HTML-to-text conversion of the content (when the arguments ask for it): returns
    // the plain text, owned by the caller of the hook (memFree), or null to keep it.
    char* (*htmlToText)(void* user, const char* text) = nullptr;
    void* user = nullptr;
};

// Reads one document from text into spec. Tags begin with "#IXO" at the start of a
// line (the first one may stand anywhere) and run to the next tag; values lose their
// trailing CR and LF. Fields "title__0".."title__63" and "content__0".."content__63" are
// then added to the title and the content. Returns 0, -1 for a null record or text.
int idxReadDocument(SrcFileSpec* spec, const char* text, size_t length,
                    const IdxReadOptions* options = nullptr);
int idxReadDocument(SrcFileSpec* spec, std::string_view text,
                    const IdxReadOptions* options = nullptr);

// Reads the whole file at path as one document. 0, -1 for null arguments, -6 when the
// file cannot be read.
int idxReadDocumentFile(SrcFileSpec* spec, const char* path,
                        const IdxReadOptions* options = nullptr);

// 1 when the file has at least two lines beginning "#IXOREFERENCE" and two beginning
// "#IXOENDDOC", 0 when not, -6 when it cannot be read, -1 for a null path.
int idxFileHoldsSeveralDocuments(const char* path);

// Called with the text of one document of a file of several and its position in the
// file (from 1); returns the import result of that document.
using IdxDocumentFn = int (*)(void* user, std::string_view document, int number);

// Hands every document of the file (from a line beginning "#IXOREFERENCE" up to and
// including the next line beginning "#IXOENDDOC", or the end of the file) to
// importDocument, in order. Nothing is written to disk. Returns the number of documents
// handed over, -1 for null arguments, -6 when the file cannot be read.
int idxSplitDocuments(const char* path, IdxDocumentFn importDocument, void* user);

// The import of an IDX file: a file of several documents is split (each document goes
// to importDocument), otherwise the file is read into spec. Returns 0 or the error of
// the step that failed.
int idxImportFile(SrcFileSpec* spec, const char* path, const IdxReadOptions* options,
                  IdxDocumentFn importDocument, void* user);
