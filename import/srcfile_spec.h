// SrcFileSpec: the import library's working record for one document, and the writer of
// IDX text (the "#IXO" line form and the "<IXODOC>" XML form), including the breaking
// of long content into sections written as documents of their own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Most sections a document may be broken into.
inline constexpr int32_t kIdxMaxSections = 2048;

// File names of IDX files.
inline constexpr const char* kIdxDefaultOutputName = "default.idx";  // output of an import
inline constexpr const char* kIdxImportExtension = "ndx";            // extension imported as IDX
inline constexpr const char* kIdxSideFileSuffix = ".idx";            // side file beside a document

// Where the writer's failures are reported (the import context's error list, once it is
// wired). report may be null.
struct IdxErrorSink {
    void (*report)(void* user, int code, int severity, const char* message,
                   const char* detail) = nullptr;
    void* user = nullptr;
};

// Field-name remapping of the import arguments: from[i] (upper-case) becomes to[i].
struct IdxRemapTable {
    int32_t count = 0;
    const char* const* from = nullptr;
    const char* const* to = nullptr;
};

struct SrcFileSpec;

// Content breaking. Without breaking options a document is written as it is. With them
// every section is written as a document of its own (see srcFileSpecBuildText).
struct IdxBreakOptions {
    int32_t lowerWords = 0;     // first limit: sentence ends count past this many words
    int32_t upperWords = 3000;  // second limit: sections above this many words are split
    int32_t documentWords = 0;  // third limit, kept for the arguments record
    int32_t maxSections = 0;    // no section is added while this is 0 (at most 2048)
    int addAnchorNames = 0;     // anchors of http:// pages become references
    // Called before and after breaking and before each written section (converter
    // slaves touch their heartbeat file here).
    void (*heartbeat)(void* user) = nullptr;
    // Called for the first document of every new anchor page, before it is written, so
    // the caller can add a summary field and apply its title rule.
    void (*pageStart)(void* user, SrcFileSpec* document) = nullptr;
    void* user = nullptr;
};

struct IdxSection {
    int32_t offset = 0;  // start in the content
    std::optional<std::string> anchor;
    std::optional<std::string> heading;
};

struct SrcFileSpec {
    int outputForm = 0;  // 0 = text form, non-zero = XML form
    std::optional<std::string> reference, title, content, type, date, dbname, filename,
        storecontent;
    int32_t section = -1;                  // -1 = none
    int anchorReference = 0;               // when set, anchors never turn into references
    std::vector<IdxSection> sections;      // at most kIdxMaxSections
    std::vector<std::string> fieldNames;   // insertion order, case-sensitive names
    std::vector<std::string> fieldValues;  // parallel to fieldNames
    std::vector<std::string> htmlLinks;    // kept for the HTML importer
    // Position of each field name, kept by srcFileSpecSetField so that documents with
    // thousands of fields are read in linear time. Rebuilt when it no longer matches.
    mutable std::unordered_map<std::string, size_t> fieldIndex;
};

// Setters: 0, or -1 for a null record. String setters store a copy; null clears. The
// title is stored with its white space normalised.
int srcFileSpecSetReference(SrcFileSpec* spec, const char* value);
int srcFileSpecSetTitle(SrcFileSpec* spec, const char* value);
int srcFileSpecSetContent(SrcFileSpec* spec, const char* value);
int srcFileSpecSetContent(SrcFileSpec* spec, std::string value);
int srcFileSpecSetSection(SrcFileSpec* spec, int32_t section);
int srcFileSpecSetType(SrcFileSpec* spec, const char* value);
int srcFileSpecSetDate(SrcFileSpec* spec, const char* value);
int srcFileSpecSetDbname(SrcFileSpec* spec, const char* value);
int srcFileSpecSetFilename(SrcFileSpec* spec, const char* value);
int srcFileSpecSetStorecontent(SrcFileSpec* spec, const char* value);
int srcFileSpecSetOutputForm(SrcFileSpec* spec, int xmlForm);
int srcFileSpecSetAnchorReference(SrcFileSpec* spec, int flag);

// Adds a section starting at offset of the content with an optional anchor name and
// heading. 0, -1 for a null record or a negative offset, -3 when the table is full.
int srcFileSpecAddSection(SrcFileSpec* spec, int32_t offset, const char* anchor,
                          const char* heading);

// Sets a named field. The stored value has every CR, tab, LF and double quote replaced
// by a blank (the caller's text is not changed); the name has the same characters and
// '=' replaced, so the field line can always be read back. An existing field of that
// name keeps its position and gets the new value. 0, -1 for a null record or name
// (a null value stores an empty one).
int srcFileSpecSetField(SrcFileSpec* spec, const char* name, const char* value);
// Value of the first field of that name, or null.
const char* srcFileSpecGetField(const SrcFileSpec* spec, const char* name);
// As srcFileSpecSetField after renaming through the remap table (null: no remapping):
// the name's upper-cased copy is compared with every "from" name, and each match
// renames, so the last matching row wins. -1 for a null record, name or value.
int srcFileSpecSetFieldRemapped(const IdxRemapTable* remap, SrcFileSpec* spec, const char* name,
                                const char* value);

// The record's IDX text in its output form; with breaking options, every section as a
// document of its own.
//
// Escaping of the text form, which readers rely on: a tag is "#IXO" at the start of a
// line, so no value may put one there. Values written on their tag line (reference,
// type, date, database, file name, store-content flag, field names and values) have
// CR and LF (field values also tab and double quote; names also '=') written as
// blanks. The title and the content keep their lines, but a line of theirs that would
// begin with "#IXO" begins with " IXO" instead: the '#' becomes a blank. Nothing
// undoes this on reading; the text stays readable and the line is content, not a tag.
// NUL bytes are dropped from every value in both forms, before the escaping. Owned by the caller
// (memFree); null for a null record or when memory runs out.
char* srcFileSpecBuildText(const SrcFileSpec* spec, const IdxBreakOptions* breaking = nullptr);
// The same into a std::string; false for a null record.
bool srcFileSpecBuildText(const SrcFileSpec* spec, std::string& out,
                          const IdxBreakOptions* breaking = nullptr);

// Builds the text and writes it with one write call; returns the byte count written.
// A result below 1 reports "IDX file writer: Couldn't write to IDX file" (code -6, the
// reference as detail) to errors. A null record is an assertion failure.
int64_t srcFileSpecWrite(const SrcFileSpec* spec, std::FILE* file,
                         const IdxBreakOptions* breaking = nullptr,
                         const IdxErrorSink* errors = nullptr);

// Appends the document text to the output IDX file at path, opened ("a+b") for this
// document and closed after it. Returns 0, or -6 after reporting "Saving Document to IDX
// file: Couldn't save document" (the reference as detail) when the file cannot be
// opened or the text cannot be written. -1 for a null record or path.
int srcFileSpecSaveToFile(const SrcFileSpec* spec, const char* path,
                          const IdxBreakOptions* breaking = nullptr,
                          const IdxErrorSink* errors = nullptr);

// Runs of blanks, tabs, CR and LF become one blank; leading ones are dropped.
std::string idxNormalizeWhitespace(std::string_view text);
// Runs of ASCII letters and digits.
int32_t idxWordCount(std::string_view text);

// name + ".idx": the side file whose values are merged into a document's own.
std::string idxSideFileName(const char* name);
