// Import control: the import context with its file-type registry and error list, the
// per-document flow and the hooks through which other modules serve it.
//
// Adding a file-type handler:
//   1. Write the handler with the ImportHandler signature below (the same as the
//      public ImexHandler). It fills the SrcFileSpec of one document from the file and
//      returns 0, or a negative code after reporting the failure with importAddError.
//      A handler that produces several documents (a delimited file, an IDX file of
//      several) hands each one to importProcessIdxText, in memory, which runs the rest
//      of the per-document flow (rules, acceptance, saving) for it.
//   2. In import/importctrl.cpp, the table kDefaultRegistrations lists every default
//      extension with its handler, in registration order. Handlers reached only
//      through configuration keys (XML, delimited, configured converters) are the
//      variables gXmlImportHandler, gDelimitedImportHandler and
//      gConfiguredConverterHandler.
//   3. Services that belong to other modules reach the per-document flow through
//      ImportDocumentHooks (summary rule, title rule, HTML-to-text conversion, the
//      cross-page memory and the stop of process-wide converter slaves), set with
//      importChangeDocumentHooks by the module's own set-up.
//   Locks: importScannerLock() serialises the HTML scanner, importSlaveLock() the start
//   and stop of converter slaves; the hooks record has a lock of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "imex_ctrl.h"
#include "import/importargs.h"
#include "import/srcfile_spec.h"
#include "support/hashtable.h"
#include "support/slaveutil.h"

using ImportHandler = ImexHandler;

struct ImportEntry {
    std::string extension;  // lower case
    ImportHandler handler = nullptr;
    void* user = nullptr;
    SlaveProcess* slave = nullptr;  // converter slave started for this entry, or null
};

struct ImportErrorRecord {
    int32_t module = 1;
    int32_t code = 0;
    int32_t severity = 0;
    std::string message;
    int64_t time = 0;
    std::string detail;
    bool hasDetail = false;
};

// The output IDX file of an import. It is opened on the first document appended (so an
// import that saves nothing creates no file) and stays open until the object goes.
// Every document is written straight through, unbuffered, so the file on disk always
// ends after the last document saved; a document that is not written whole is cut off
// again, leaving every earlier document as it was.
class ImportOutputFile {
  public:
    explicit ImportOutputFile(std::string name) : name_(std::move(name)) {}
    ~ImportOutputFile() { close(); }
    ImportOutputFile(const ImportOutputFile&) = delete;
    ImportOutputFile& operator=(const ImportOutputFile&) = delete;

    const std::string& name() const { return name_; }
    // Appends one document; false when it could not be written whole (the file is then
    // back at its size from before the call, as far as the system allows).
    bool append(std::string_view bytes);

  private:
    void close();
    std::string name_;
    std::FILE* file_ = nullptr;
};

struct ImportContext {
    HashTable* registry = nullptr;  // lower-case extension -> ImportEntry*
    int32_t module = 1;
    std::vector<ImportErrorRecord> errors;
    std::vector<std::string> ownedValues;  // user values made from configuration
    // The output file kept open while imexImport runs (see ImportOutputScope); null
    // outside it, when every document opens and closes the file itself.
    std::unique_ptr<ImportOutputFile> output;
};

// Keeps the output file of args open for the documents saved through context while the
// scope lives. A scope inside another one for the same context leaves the outer one's
// file in place.
class ImportOutputScope {
  public:
    ImportOutputScope(ImportContext* context, const ImportArgs* args);
    ~ImportOutputScope();
    ImportOutputScope(const ImportOutputScope&) = delete;
    ImportOutputScope& operator=(const ImportOutputScope&) = delete;

  private:
    ImportContext* context_ = nullptr;  // null when this scope owns nothing
};

struct ImportDocumentHooks {
    // Adds the field "summary" made from text (sentences, word limit).
    void (*summary)(ImportArgs* args, SrcFileSpec* spec, const char* text, int32_t sentences,
                    int32_t wordLimit) = nullptr;
    // Chooses the document's title (word limit).
    void (*title)(ImportArgs* args, SrcFileSpec* spec, const char* text,
                  int32_t wordLimit) = nullptr;
    // Plain text of an HTML fragment (options as the HTML scanner takes them); owned by
    // the caller (memFree), or null.
    char* (*htmlToText)(const char* html, int32_t options) = nullptr;
    // Called at the start of every import when intelligent title and summary is on.
    void (*beginImport)(ImportArgs* args) = nullptr;
    // Stops the process-wide converter slaves (called by imexDestroy).
    void (*stopConverterSlaves)() = nullptr;
};

void importSetDocumentHooks(const ImportDocumentHooks& hooks);
// A copy of the hooks, read under their lock.
ImportDocumentHooks importDocumentHooks();
// Changes the hooks in place under their lock (a module setting its own hooks leaves
// the others' as they are).
void importChangeDocumentHooks(void (*change)(ImportDocumentHooks& hooks));

std::mutex& importScannerLock();
std::mutex& importSlaveLock();
std::mutex& importSpareLock();

// The heartbeat file of the running import slave (empty outside one); converters touch
// it around long work.
void importSetHeartbeatFile(const std::string& name);
std::string importHeartbeatFile();
void importTouchHeartbeat();

// Adds an entry to the context's error list (detail may be null). Null context: no-op.
void importAddError(ImportContext* context, int32_t code, int32_t severity, const char* message,
                    const char* detail);

// The registry entry of a lower-case extension, or null.
ImportEntry* importFindEntry(ImportContext* context, const std::string& extension);

// The per-document flow for one input name; returns the input's result.
int importProcessInput(ImportContext* context, ImportArgs* args, const char* name);
// The same for a file the mail importer wrote from an attachment: a file whose handler
// would read it as IDX or make documents with references of its own (IDX, XML and
// delimited files, folders, wild-card names) is imported as plain text instead, so the
// attachment's side file gives its reference.
int importProcessAttachment(ImportContext* context, ImportArgs* args, const char* name);
// The per-document flow for one IDX document held in memory (a document of an IDX file
// of several, an XML document, a record of a delimited file): read into a fresh
// document, then the field and reference rules, acceptance and saving as for a file.
// source is the file it came from (error details and the length rule); reference is
// the document's reference when the text sets none (or an empty one).
int importProcessIdxText(ImportContext* context, ImportArgs* args, const char* source,
                         std::string_view text, const std::string& reference);

// True when importProcessInput would refuse the file name (not a folder) as of an unknown
// type whatever the file holds: no handler for its extension and none by the default
// extension. Names ending in ".idx" are never counted here (they may be side files).
bool importRefusesType(ImportContext* context, const ImportArgs* args, const std::string& name);
// What importProcessInput does for a file of an unknown type: records and logs the
// refusal and returns -2.
int importRefuseUnknownType(ImportContext* context, const char* name);

// The extension used for look-up: the separator itself for a name ending in '/' or
// '\\', else the text after the last dot of the last path component (empty without
// one), lower-cased.
std::string importExtensionOf(const std::string& name);

// The checksum of a document's content (unsigned, modulo 999999).
uint32_t importChecksum(const char* text, size_t length);
// True when the text counts as binary under the filter thresholds.
bool importIsBinary(const char* text, size_t length, const ImportBinaryFilter& filter);

// The field and reference rules applied after a handler succeeded.
void importApplyFieldRules(ImportArgs* args, const char* name, SrcFileSpec* spec);
// The document's title when the title hook is not set: its own title, or the leading
// words of the text when it has none.
void importDefaultTitleRule(SrcFileSpec* spec, const char* text, int32_t wordLimit);

// Registers the extensions and converter programs listed in a configuration section
// (TextImportExtns, HtmlImportExtns, ImportDelimitedExtns, ImportXMLExtns,
// ImportRegisterExtnCSVs/ImportRegisterExecutable numbered). Returns 0 or the first
// failure (-10); failures are recorded in the error list. The converter extensions
// registered are appended to converterExtensions.
struct ConfigFile;
int importRegisterFromConfig(ImportContext* context, ConfigFile* cfg, const char* section,
                             std::vector<std::string>* converterExtensions);

// Handlers reached through configuration keys (XML and delimited files, converters
// named in the configuration); replaceable for tests.
extern ImportHandler gXmlImportHandler;
extern ImportHandler gDelimitedImportHandler;
extern ImportHandler gConfiguredConverterHandler;
