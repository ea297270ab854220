/* The document-import library: the arguments record of an import (ImportArgs), its
 * setters and the import-settings loader that fills it from a configuration section.
 *
 * Every setter takes the record first and returns 0, -1 for a null record or refused
 * arguments, -3 when memory runs out. String arguments are copied; setters that
 * replace a list release the previous one first, the "Add" setters append. */
#ifndef SAPIOLUX_IMEX_ARGS_H
#define SAPIOLUX_IMEX_ARGS_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ImportArgs ImportArgs;
struct ConfigFile;

/* A record with the defaults: output "default.idx", database "default", store content
 * "yes", temporary directory "./", link stripping and meta-tag extraction on, slave
 * time-out 60 seconds, everything else off or empty. Null when memory ran out. */
SAPIOLUX_EXPORT ImportArgs* imargsCreate(void);
/* Releases everything the record holds, then the record. Null is harmless. */
SAPIOLUX_EXPORT void imargsDestroy(ImportArgs* args);

/* Inputs: count and array must be non-zero. */
SAPIOLUX_EXPORT int imargsSetInputs(ImportArgs* args, int32_t count, const char* const* names);
SAPIOLUX_EXPORT int imargsAddInputs(ImportArgs* args, int32_t count, const char* const* names);
SAPIOLUX_EXPORT int imargsGetNumberInputs(const ImportArgs* args);
/* Input i, or null. The text belongs to the record. */
SAPIOLUX_EXPORT const char* imargsGetInput(const ImportArgs* args, int32_t index);

/* Extraction fields: the value of field i is the text between starts[i] and stops[i]. */
SAPIOLUX_EXPORT int imargsSetFields(ImportArgs* args, int32_t count, const char* const* names,
                                    const char* const* starts, const char* const* stops);
SAPIOLUX_EXPORT int imargsAddFields(ImportArgs* args, int32_t count, const char* const* names,
                                    const char* const* starts, const char* const* stops);
/* Fields added to every document. */
SAPIOLUX_EXPORT int imargsSetFixedFields(ImportArgs* args, int32_t count, const char* const* names,
                                         const char* const* values);
SAPIOLUX_EXPORT int imargsAddFixedFields(ImportArgs* args, int32_t count, const char* const* names,
                                         const char* const* values);

/* One-string setters. A null output file name or database restores the default;
 * imargsSetIxoType and imargsSetGenericSlave refuse an empty text. The temporary
 * directory is created when missing. */
SAPIOLUX_EXPORT int imargsSetOutputFilename(ImportArgs* args, const char* name);
SAPIOLUX_EXPORT int imargsSetOutputDatabase(ImportArgs* args, const char* name);
SAPIOLUX_EXPORT int imargsSetDefaultExtention(ImportArgs* args, const char* extension);
SAPIOLUX_EXPORT int imargsSetIxoType(ImportArgs* args, const char* type);
SAPIOLUX_EXPORT int imargsSetTempDirectory(ImportArgs* args, const char* directory);
SAPIOLUX_EXPORT int imargsSetExtraIdxDir(ImportArgs* args, const char* directory);
SAPIOLUX_EXPORT int imargsSetExtraIdxDirToReplaceDir(ImportArgs* args, const char* directory);
SAPIOLUX_EXPORT int imargsSetGenericSlave(ImportArgs* args, const char* program);

/* Exactly "yes" or "no"; any other text is refused. */
SAPIOLUX_EXPORT int imargsSetStoreContents(ImportArgs* args, const char* value);
/* flag selects the XML form of IDX output; header and third value are kept. */
SAPIOLUX_EXPORT int imargsSetXMLOutput(ImportArgs* args, int32_t flag, const char* header,
                                       int32_t third);

/* One-number setters. imargsSetTitleStartSkipWords and imargsSetSlaveTimeout refuse
 * values below 1; imargsSetMaxAnchors keeps at most 2048. */
SAPIOLUX_EXPORT int imargsSetSummaries(ImportArgs* args, int32_t sentences);
SAPIOLUX_EXPORT int imargsSetChecksum(ImportArgs* args, int32_t flag);
SAPIOLUX_EXPORT int imargsRecursiveDirdo(ImportArgs* args, int32_t flag);
SAPIOLUX_EXPORT int imargsFilterBinary(ImportArgs* args, int32_t flag);
SAPIOLUX_EXPORT int imargsLinkStripping(ImportArgs* args, int32_t flag);
SAPIOLUX_EXPORT int imargsExtractMetaTags(ImportArgs* args, int32_t flag);
SAPIOLUX_EXPORT int imargsSetFieldHTMLConvertChars(ImportArgs* args, int32_t flag);
SAPIOLUX_EXPORT int imargsSetIntelligentTitleAndSummary(ImportArgs* args, int32_t flag);
SAPIOLUX_EXPORT int imargsSetMaxPlainTextLengthKBs(ImportArgs* args, int32_t kilobytes);
SAPIOLUX_EXPORT int imargsSetMaxAnchors(ImportArgs* args, int32_t count);
SAPIOLUX_EXPORT int imargsSetTitleStartSkipWords(ImportArgs* args, int32_t words);
SAPIOLUX_EXPORT int imargsSetSlaveTimeout(ImportArgs* args, int32_t seconds);
SAPIOLUX_EXPORT int imargsSetIAmSlave(ImportArgs* args, int32_t flag);

/* Refused unless minLength < maxLength and minWords < maxWords. */
SAPIOLUX_EXPORT int imargsSetContentCriteria(ImportArgs* args, int32_t minLength, int32_t maxLength,
                                             int32_t minWords, int32_t maxWords);
/* Refused unless lower < upper and document > lower. */
SAPIOLUX_EXPORT int imargsSetContentBreaking(ImportArgs* args, int32_t lower, int32_t upper,
                                             int32_t document);
/* Refused unless the binary filter is on (imargsFilterBinary). */
SAPIOLUX_EXPORT int imargsSetUpBinaryFilter(ImportArgs* args, int32_t lowCode, int32_t highCode,
                                            int32_t maxPerHundred, int32_t maxAverageWordLength);

/* The page layout of HTML import: start definitions (plain and HTML), end definitions
 * (plain and HTML), page-break definitions, and the words and sentences skipped at the
 * start of a page. A list with count 0 may be null. */
SAPIOLUX_EXPORT int imargsSetPageLayout(ImportArgs* args, int32_t startCount,
                                        const char* const* starts, int32_t htmlStartCount,
                                        const char* const* htmlStarts, int32_t endCount,
                                        const char* const* ends, int32_t htmlEndCount,
                                        const char* const* htmlEnds, int32_t pageBreakCount,
                                        const char* const* pageBreaks, int32_t skipWords,
                                        int32_t skipSentences);
/* Needs a page layout and non-empty lists. */
SAPIOLUX_EXPORT int imargsAddHTMLTurnToSpaceSettingsToPageLayout(ImportArgs* args, int32_t count,
                                                                 const char* const* starts,
                                                                 const char* const* ends,
                                                                 int32_t stripTags);

/* Stripping lists; count must be above 0. Tags are stored as "<" + tag. */
SAPIOLUX_EXPORT int imargsTagStripping(ImportArgs* args, int32_t count, const char* const* tags);
SAPIOLUX_EXPORT int imargsStringStripping(ImportArgs* args, int32_t count,
                                          const char* const* strings);

/* Reference rewriting. number must be non-zero. */
SAPIOLUX_EXPORT int imargsSetPathMapping(ImportArgs* args, int32_t components, const char* prefix);
SAPIOLUX_EXPORT int imargsSetRenderedPathMapping(ImportArgs* args, int32_t components,
                                                 const char* prefix);
SAPIOLUX_EXPORT int imargsSetPathTruncation(ImportArgs* args, int32_t occurrence, const char* text);
/* Old and new lists of equal length (count above 0). */
SAPIOLUX_EXPORT int imargsSetReferenceMapping(ImportArgs* args, int32_t count,
                                              const char* const* oldTexts,
                                              const char* const* newTexts);
SAPIOLUX_EXPORT int imargsSetRenderedReferenceMapping(ImportArgs* args, int32_t count,
                                                      const char* const* oldTexts,
                                                      const char* const* newTexts);
/* Directory and field name required; extensions may be null. */
SAPIOLUX_EXPORT int imargsSetRenderedHTML(ImportArgs* args, const char* moveToDirectory,
                                          const char* fieldName, const char* extensions);
SAPIOLUX_EXPORT int imargsSetEmailAttachments(ImportArgs* args, const char* directory, int32_t keep,
                                              int32_t import);
/* Run the import in the import slave program, which loads configFile and section
 * (both may be null: the slave then uses the output database). */
SAPIOLUX_EXPORT int imargsSetWithSlave(ImportArgs* args, int32_t flag, const char* configFile,
                                       const char* section);

/* XML import rules, one per field, in order: tagCsvs[i] is the comma-separated tag
 * sequence; stripTags, entryOnly and attributes may be null. */
SAPIOLUX_EXPORT int imargsSetXMLImport(ImportArgs* args, int32_t count,
                                       const char* const* fieldNames, const char* const* tagCsvs,
                                       const int32_t* stripTags, const int32_t* entryOnly,
                                       const char* const* attributes);
/* Delimited import: document markers (null or empty: file start/end), and per field a
 * name, start and end marker and skip count (skips may be null). */
SAPIOLUX_EXPORT int imargsSetDelimitedImport(ImportArgs* args, const char* docStart,
                                             const char* docEnd, int32_t count,
                                             const char* const* names, const char* const* starts,
                                             const char* const* ends, const int32_t* skips);

/* The import-settings loader: reads the import keys of section (falling back to
 * "DEFAULT") into args, then sets the output file (when not null), the database, the
 * inputs (when inputCount > 0) and the checksum flag. Also sets the process-wide import
 * log from ImportLogfile, ImportLogLevel and ImportLogfileAppend. Returns "Success." or
 * the text of the first setting that failed (a constant text). */
SAPIOLUX_EXPORT const char* imargsLoadFromConfig(struct ConfigFile* cfg, const char* section,
                                                 int32_t inputCount, const char* const* inputs,
                                                 const char* outputFile, ImportArgs* args);

/* A few read-backs for callers and tools. Texts belong to the record. */
SAPIOLUX_EXPORT const char* imargsGetOutputFilename(const ImportArgs* args);
SAPIOLUX_EXPORT const char* imargsGetOutputDatabase(const ImportArgs* args);
SAPIOLUX_EXPORT const char* imargsGetTempDirectory(const ImportArgs* args);

#ifdef __cplusplus
}
#endif

#endif
