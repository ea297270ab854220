/* libixo: query results and the results text.
 *
 * The retrieval server answers a query with a line-oriented results text:
 *
 *   numhits=N
 *   (other lines, e.g. totalhits=T)
 *   Doc_name=...      one block per hit
 *   URL_title=...
 *   Doc_id=...        full form only
 *   Doc_weight=...
 *   links=...         full form only
 *   dbase=...         full form only
 *   name=value        further fields, full form only
 *
 * ixoGetResultsFromBuffer parses it in place: the result owns the reply and every text
 * of its records points into it. Term-list and document-id-list replies have parsers
 * of their own below. */
#ifndef SAPIOLUX_IXO_RESULTS_H
#define SAPIOLUX_IXO_RESULTS_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One further field of a record; both texts point into the reply. */
typedef struct IxoResultField {
    char* name;
    char* value;
} IxoResultField;

/* One hit. Texts point into the reply held by the owning IxoQueryResult. */
typedef struct IxoResultRecord {
    char* name;             /* "Doc_name=": what opening the result opens */
    char* title;            /* "URL_title=" */
    int32_t docId;          /* "Doc_id=" (0 in the short form) */
    int32_t weight;         /* "Doc_weight=" */
    char* links;            /* "links=", or null */
    int32_t database;       /* "dbase=" */
    int32_t fieldCount;     /* number of further fields */
    IxoResultField* fields; /* this record's first further field (inside fieldPairs) */
} IxoResultRecord;

/* A parsed reply, owned by the caller; release with ixoDestroyQueryResult. */
typedef struct IxoQueryResult {
    int32_t hitCount;           /* complete records */
    char* text;                 /* the reply; owned */
    int32_t textLength;         /* bytes in text */
    IxoResultRecord* records;   /* hitCount entries; owned */
    IxoResultField* fieldPairs; /* further fields of all records, in order; owned */
} IxoQueryResult;

/* Parses reply (full form when fullForm is 1, else name, title and weight only) into
 * result, in place. On 1 the result owns reply, also when no complete block could be
 * read (hit count 0). -5 when "numhits" is missing or below 1 and -7 when memory ran
 * out: the result is then empty and reply stays the caller's. A "numhits" larger than
 * the blocks present gives only the complete blocks. -5 for null arguments. */
SAPIOLUX_EXPORT int32_t ixoGetResultsFromBuffer(IxoQueryResult* result, char* reply,
                                                int32_t fullForm);

/* The integer after "numhits=" (clamped to the int32 range); 0 when absent or null. */
SAPIOLUX_EXPORT int32_t ixoGetResultsNumber(const char* text);

/* A new copy of the index-th block (from 0): from that occurrence of separator up to,
 * not including, the next one or the end. Null when there is no such block. */
SAPIOLUX_EXPORT char* ixoGetResultsRecord(const char* text, int32_t index, const char* separator);

/* A new copy of a field's value in a block: from after "name=" to the last line feed
 * before the next "name=" line, so a value may span lines; trimmed of blanks, tabs,
 * carriage returns and line feeds. Null when the name or a following line feed is
 * missing. */
SAPIOLUX_EXPORT char* ixoGetResultsFieldValue(const char* block, const char* fieldName);

/* Finds a further field by exact name (the last match wins). 1 and *field set, or -9
 * when the record has no further fields or none matches; -5 for null arguments. */
SAPIOLUX_EXPORT int32_t ixoGetFieldFromResultsRecord(const IxoResultRecord* record,
                                                     const char* fieldName, IxoResultField** field);

/* An owned array of the hits' document ids; *count = hit count. -5 for null arguments
 * or no hits, -7 when memory ran out. */
SAPIOLUX_EXPORT int32_t ixoResultsToArray(const IxoQueryResult* result, int32_t* count,
                                          int32_t** ids);

/* Writes the full-form results text of hitCount records into a new text (*text, owned
 * by the caller). A hit count below 1 writes only the "numhits=" line. Null texts in
 * a record are written empty. 1; -5 for a null out-pointer or null records with hits;
 * -7 when memory ran out. */
SAPIOLUX_EXPORT int32_t ixoWriteResultsArrayToBuffer(int32_t hitCount,
                                                     const IxoResultRecord* records, char** text);

/* Releases records, field pairs and reply text and empties the result. 1, or -5 for
 * null. */
SAPIOLUX_EXPORT int32_t ixoDestroyQueryResult(IxoQueryResult* result);

/* Copies source into target (which is emptied first) by writing the source's results
 * text and parsing it again in full form. 1, -5 for null arguments, -7 when memory ran
 * out; a source without hits gives an empty target and 1. */
SAPIOLUX_EXPORT int32_t ixoCopyQueryResult(IxoQueryResult* target, const IxoQueryResult* source);

/* The simple output filter: keeps only the lines holding "numhits=", "URL_title=",
 * "Doc_name=" or "Doc_weight=", in order, each ending in a line feed.
 * ...Text works in place on a zero-terminated text and returns its new length (0 for
 * null). ...Buffer reads at most size bytes of buffer (up to its first zero byte),
 * writes the kept lines back and always terminates within size; returns the new
 * length, or -5 for a null buffer or size below 1. ...File rewrites a file; 1, or -6
 * when it cannot be read or written. Lines of any length are kept or dropped whole. */
SAPIOLUX_EXPORT int32_t ixoSimpleOutputFilterText(char* text);
SAPIOLUX_EXPORT int32_t ixoSimpleOutputFilterBuffer(char* buffer, int32_t size);
SAPIOLUX_EXPORT int32_t ixoSimpleOutputFilterFile(const char* fileName);

/* Term-list reply: "Number of hits: N", then N lines, each "TERM+WEIGHT" when weights
 * were asked for, else the whole line is the term. */
typedef struct IxoTerm {
    char* term;     /* points into the list's text */
    int32_t weight; /* -1 when no weights were asked for */
} IxoTerm;

typedef struct IxoTermList {
    int32_t count;
    char* text;     /* the reply; owned */
    IxoTerm* terms; /* count entries; owned */
} IxoTermList;

/* Parses reply in place into list. On 1 the list owns reply. -6 when "Number of hits: "
 * is missing or no line could be read, -7 when memory ran out, -5 for null arguments;
 * on failure the list is empty and reply stays the caller's. Fewer lines than announced
 * give the lines present. */
SAPIOLUX_EXPORT int32_t ixoParseTermList(IxoTermList* list, char* reply, int32_t withWeights);
/* Releases the text and the terms and empties the list; 1, or -5 for null. */
SAPIOLUX_EXPORT int32_t ixoDestroyTermList(IxoTermList* list);

/* Document-id-list reply: one line per term, "TERM : TEXT , ID ID ID " (each id
 * followed by a blank). */
typedef struct IxoDocIdEntry {
    char* term;      /* points into the list's text */
    char* text;      /* the text between " : " and " , "; points into the list's text */
    int32_t idCount; /* number of ids */
    int32_t* ids;    /* owned */
} IxoDocIdEntry;

typedef struct IxoDocIdList {
    int32_t count;
    char* text;             /* the reply; owned */
    IxoDocIdEntry* entries; /* count entries; owned */
} IxoDocIdList;

/* Parses reply in place into list; lines without both separators are skipped. On 1
 * the list owns reply. -5 for null arguments, -7 when memory ran out (the list is then
 * empty and reply stays the caller's). */
SAPIOLUX_EXPORT int32_t ixoParseDocIdList(IxoDocIdList* list, char* reply);
/* Releases the text, every id array and the entries and empties the list; 1, or -5. */
SAPIOLUX_EXPORT int32_t ixoDestroyDocIdList(IxoDocIdList* list);

#ifdef __cplusplus
}
#endif

#endif
