/* The document-import library's calls that turn a ContentRecord into IDX text. */
#ifndef SAPIOLUX_IMEX_IDX_H
#define SAPIOLUX_IMEX_IDX_H

#include "contentrecord.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the record as one IDX document (text form) to path, replacing the file.
 * storecontent is written as "yes" or "no". Returns 0, -1 for a null record, -6 when
 * path is null or the file cannot be opened or written. */
SAPIOLUX_EXPORT int imexImportStructureToFile(const ContentRecord* record, const char* path);

/* Builds the record's IDX text into *out (owned by the caller, release with memFree).
 * A "#IXOSTORECONTENT yes" line is written only when the record's flag is set.
 * Returns 0, -1 for a null record or out-parameter, -3 when memory runs out. */
SAPIOLUX_EXPORT int imexImportStructureToBuffer(const ContentRecord* record, char** out);

/* Releases a record as ixoDestroyContentRecord does. Returns 0, -1 for null. */
SAPIOLUX_EXPORT int imexDestroyStructure(ContentRecord* record);

#ifdef __cplusplus
}
#endif

#endif
