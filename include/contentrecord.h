/* ContentRecord: one IDX document in memory. Shared by the document-import library
 * (the "structure" of the imexImport...Structure calls) and the retrieval client (the
 * reply of its content requests). Every string and both field arrays belong to the
 * record; the record is released as a whole with ixoDestroyContentRecord (or
 * imexDestroyStructure, which does the same). */
#ifndef SAPIOLUX_CONTENTRECORD_H
#define SAPIOLUX_CONTENTRECORD_H

#include <stddef.h>
#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ContentRecord {
    char* title;          /* document title, or null */
    char* reference;      /* unique reference (path, URL or email:// reference), or null */
    char* content;        /* document text, or null */
    int32_t section;      /* section number; -1 = no section */
    int32_t docid;        /* server document id (#IXODOCID), filled only by the reader */
    char* type;           /* document type (#IXOTYPE), or null */
    char* date;           /* date value as text (#IXODATE), or null */
    char* dbname;         /* target database name, or null */
    char* filename;       /* file name (#IXOFILENAME), or null */
    int32_t storecontent; /* non-zero: the server is to store the content */
    char* spare;          /* not set by any reader; released with the record if set */
    int32_t fieldCount;   /* number of named fields */
    char** fieldNames;    /* fieldCount owned strings */
    char** fieldValues;   /* fieldCount owned strings, parallel to fieldNames */
} ContentRecord;

/* Reads IDX text (length bytes; it need not be zero-terminated) into a new record in
 * *record (section and docid -1 and 0 when the text has none). Only the first document
 * of the text is read. Returns 1, -1 for a null text or out-parameter, -8 when the
 * record cannot be allocated (*record is then null). */
SAPIOLUX_EXPORT int ixoContentTextToRecord(const char* text, size_t length, ContentRecord** record);

/* An empty record (section -1), or null when memory ran out. */
SAPIOLUX_EXPORT ContentRecord* ixoCreateContentRecord(void);

/* Releases every string, both arrays and the record. Returns 1, -5 for null. */
SAPIOLUX_EXPORT int ixoDestroyContentRecord(ContentRecord* record);

#ifdef __cplusplus
}
#endif

#endif
