/* The document-import library: import contexts, the file-type registry, running an
 * import, the error list and the error texts.
 *
 * Results: 0 for success, negative codes with texts from imexGetError. */
#ifndef SAPIOLUX_IMEX_CTRL_H
#define SAPIOLUX_IMEX_CTRL_H

#include <stddef.h>
#include <stdint.h>

#include "contentrecord.h"
#include "imex_args.h"
#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ImportContext ImportContext;
typedef struct ImportEntry ImportEntry;
struct SrcFileSpec;

/* A file-type handler: imports the file name into spec. nameCopy is a writable copy of
 * name of nameCopySize bytes (the name and 255 spare bytes); a handler that rewrites it
 * changes the document's reference. Returns 0 or a negative error code. */
typedef int (*ImexHandler)(ImportContext* context, ImportArgs* args, char* nameCopy,
                           size_t nameCopySize, const char* name, struct SrcFileSpec* spec,
                           ImportEntry* entry);

/* One entry of the error list. The texts belong to the context. */
typedef struct ImexError {
    int32_t module;
    int32_t code;
    int32_t severity; /* -1 to -4 */
    const char* message;
    int64_t time;       /* seconds since 1970 */
    const char* detail; /* usually the file name; may be null */
} ImexError;

/* Once per process, before any other import call. Returns 0. */
SAPIOLUX_EXPORT int imexInit(void);
/* A context with the default registrations, or null. */
SAPIOLUX_EXPORT ImportContext* imexCreate(void);
SAPIOLUX_EXPORT void imexDestroy(ImportContext* context);

/* Registers handler for extension (copied, lower-cased). Re-registering replaces the
 * handler and user value and returns 0. -1 for a null argument, -3 out of memory. */
SAPIOLUX_EXPORT int imexRegisterExtension(ImportContext* context, const char* extension,
                                          ImexHandler handler, void* userValue);
/* Removes the registration (its converter slave is stopped); *userValue receives the
 * user value when not null. -1 for bad arguments, -4 when not registered. */
SAPIOLUX_EXPORT int imexUnregisterExtension(ImportContext* context, const char* extension,
                                            void** userValue);
/* The user value of a registry entry (for handlers). */
SAPIOLUX_EXPORT void* imexEntryUserValue(const ImportEntry* entry);

/* Imports every input of args, appending documents to the output IDX file. With a
 * non-null results array (one slot per input) each input's result is stored. Returns
 * the number of inputs that succeeded; run in the import slave (imargsSetWithSlave with
 * the program present): 1 when the output file exists afterwards, else -1. */
SAPIOLUX_EXPORT int imexImport(ImportContext* context, ImportArgs* args, int32_t* results);
/* Context and arguments made for one import of count inputs into outputFile. -1 for a
 * null output file, database or input array, or when creation fails; otherwise the
 * result of the first failing setter or of imexImport. */
SAPIOLUX_EXPORT int imexSimpleImport(const char* outputFile, const char* database, int32_t count,
                                     const char* const* inputs);
SAPIOLUX_EXPORT int imexSimpleImportWithSlave(const char* outputFile, const char* database,
                                              int32_t count, const char* const* inputs);
/* Imports one file (with the settings of configFile and section when configFile is not
 * null) and reads the first resulting document into a new record (*record, released
 * with imexDestroyStructure). 0; -6 for a null file or record pointer; -3 when nothing
 * could be read back. */
SAPIOLUX_EXPORT int imexImportFileToStructureWithConfig(const char* file, ContentRecord** record,
                                                        const char* configFile,
                                                        const char* section);

/* Constant text of a result code ("Unknown error." for codes it does not know). */
SAPIOLUX_EXPORT const char* imexGetError(int code);

/* The error list of a context. */
SAPIOLUX_EXPORT int32_t imexGetErrorCount(const ImportContext* context);
/* 0 and *entry filled, -1 for a bad index or null arguments. */
SAPIOLUX_EXPORT int imexGetErrorEntry(const ImportContext* context, int32_t index,
                                      ImexError* entry);
SAPIOLUX_EXPORT void imexClearErrors(ImportContext* context);

/* Registers the extensions and converter programs listed in a configuration section
 * (TextImportExtns, HtmlImportExtns, ImportDelimitedExtns, ImportXMLExtns and the
 * numbered ImportRegisterExtnCSVs / ImportRegisterExecutable). 0, or -10 on the first
 * registration that fails. */
struct ConfigFile;
SAPIOLUX_EXPORT int imexRegisterFromConfig(ImportContext* context, struct ConfigFile* cfg,
                                           const char* section);
/* The heartbeat file an import slave touches before each input (null: none). */
SAPIOLUX_EXPORT void imexSetSlaveHeartbeatFile(const char* fileName);

/* The import log (also set by the settings loader): file name (null turns it off;
 * append keeps what the file holds) and level (1 warnings, 2 errors, 3 full). */
SAPIOLUX_EXPORT int imexSetLogFile(const char* fileName, int32_t append);
SAPIOLUX_EXPORT void imexSetLogLevel(int32_t level);

#ifdef __cplusplus
}
#endif

#endif
