/* libixo: server information, configuration, term, document-id, summary, content and
 * concept-model primitive requests. All go to the query port.
 *
 * ...ToStructure calls parse the reply (term lists and document-id lists as in
 * ixo_results.h; the information record below; content as IDX text into a
 * ContentRecord). ...ToFile and ...ToBuffer calls hand back the raw reply: the file
 * holds the reply up to the line of "***Original Query"; the buffer gets at most size
 * bytes and is always terminated within size. */
#ifndef SAPIOLUX_IXO_INFO_H
#define SAPIOLUX_IXO_INFO_H

#include <stdint.h>

#include "contentrecord.h"
#include "ixo_api.h"
#include "ixo_results.h"
#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The two figures the server lists for one database in "DBINFO". */
typedef struct IxoDbFigures {
    int32_t first;
    int32_t second;
} IxoDbFigures;

/* The server's information record. Every text and array is owned by the record;
 * release the whole with ixoDestroyInfoStructure. */
typedef struct IxoServerInfo {
    int32_t documentCount;  /* "DOCNUM", 0 */
    char* product;          /* "PRODUCT" (always present) */
    char* version;          /* "VERSION", or null */
    char* build;            /* "BUILD", or null */
    int32_t queryPort;      /* "QUERYPORT", 0 */
    int32_t indexPort;      /* "INDEXPORT", 0 */
    int32_t maxDatabases;   /* "MAXDBASE", 0 */
    int32_t numFields;      /* "NUM_FIELDS", 0 */
    char* directory;        /* "DIRECTORY", or null */
    int32_t num4Terms;      /* "NUM4TERMS", 0 */
    int32_t storeContent;   /* "STORECONTENT", 1 */
    int32_t properNames;    /* "PROPERNAMES", 0 */
    int32_t slotSize;       /* "SLOT_SIZE", 10 */
    int32_t maxOccurrences; /* "MAXOC", 0 */
    /* "DATABASES": count '[' name,name,... ']'. databaseNames has databaseCount
     * entries; entries the list does not name are null. Null when the count is 0. */
    int32_t databaseCount;
    char** databaseNames;
    /* "DBINFO": count '[' then per database a name and two integers, separated by any
     * of ":,()[]". dbInfo has dbInfoCount entries (zero where the list stops short);
     * null when absent. */
    int32_t dbInfoCount;
    IxoDbFigures* dbInfo;
    int32_t stripLanguage;  /* "STRIPLANGUAGE", 0 */
    int32_t charConversion; /* "CHARCONV", 0 */
    char* tail;             /* the reply from the first ":\n[" on, or null */
} IxoServerInfo;

/* Counts above this are taken as this many (databases and DBINFO entries). */
#define IXO_INFO_MAX_DATABASES 65536

/* Parses an information reply into a new record (*info, owned by the caller). A key is
 * looked for first at the start of a line, then anywhere; its value begins one
 * character after the key and runs to the line feed (a carriage return before it is
 * dropped). 1; -5 for null arguments or a reply without "PRODUCT"; -7 when memory ran
 * out. *info is null on failure. */
SAPIOLUX_EXPORT int32_t ixoParseServerInfo(const char* reply, IxoServerInfo** info);

/* "/qmethod=V" with the user parameters, parsed with ixoParseServerInfo. */
SAPIOLUX_EXPORT int32_t ixoGetInfoToStructure(IXO* ixo, IxoServerInfo** info);

/* Releases every text and array of the record and the record. 1, or -5 for null. */
SAPIOLUX_EXPORT int32_t ixoDestroyInfoStructure(IxoServerInfo* info);

/* The raw "/qmethod=V" reply. */
SAPIOLUX_EXPORT int32_t ixoGetConfigurationToBuffer(IXO* ixo, char* buffer, int32_t size);

/* The terms of the documents listed in text ("/qmethod=t"): numTerms of them (20 for
 * 0), with weights when withWeights is non-zero; useReferences non-zero says text holds
 * document references rather than numbers. The structure form uses the client cache. */
SAPIOLUX_EXPORT int32_t ixoGetTermsToStructure(IXO* ixo, const char* text, int32_t numTerms,
                                               int32_t withWeights, int32_t useReferences,
                                               IxoTermList* list);
SAPIOLUX_EXPORT int32_t ixoGetTermsToFile(IXO* ixo, const char* text, int32_t numTerms,
                                          int32_t withWeights, int32_t useReferences,
                                          const char* fileName);
SAPIOLUX_EXPORT int32_t ixoGetTermsToBuffer(IXO* ixo, const char* text, int32_t numTerms,
                                            int32_t withWeights, int32_t useReferences,
                                            char* buffer, int32_t size);

/* The document numbers holding each '+'-joined term of text ("/qmethod=b"). */
SAPIOLUX_EXPORT int32_t ixoGetDocIdsToStructure(IXO* ixo, const char* text, IxoDocIdList* list);

/* The weighted terms of one document ("/qmethod=e": docNumber, or the document named by
 * text); withOccurrences non-zero weighs them by occurrences. -11 when the server does
 * not know the request. */
SAPIOLUX_EXPORT int32_t ixoGetDocumentTermsToStructure(IXO* ixo, int32_t docNumber,
                                                       const char* text, int32_t withOccurrences,
                                                       IxoTermList* list);

/* A summary: of text ("/qmethod=Z") when document is null, else of the document
 * ("/qmethod=z&querytext=text&idnum=document"); useReferences non-zero says the
 * document is named by reference; extraOptions (may be null) is added to the options. */
SAPIOLUX_EXPORT int32_t ixoGetSummaryToFile(IXO* ixo, const char* text, const char* document,
                                            int32_t useReferences, const char* extraOptions,
                                            const char* fileName);
SAPIOLUX_EXPORT int32_t ixoGetSummaryToBuffer(IXO* ixo, const char* text, const char* document,
                                              int32_t useReferences, const char* extraOptions,
                                              char* buffer, int32_t size);

/* The content request for a document (number or reference): "/qmethod=C&querytext=..."
 * when upperMethod is non-zero, else "/qmethod=c&querytext=...". Owned by the caller;
 * null for a null document or when memory ran out. */
SAPIOLUX_EXPORT char* ixoCreateContentString(const char* document, int32_t upperMethod);

/* The stored content of a document (IDX text), with the user parameters. */
SAPIOLUX_EXPORT int32_t ixoGetContentToFile(IXO* ixo, const char* document, int32_t upperMethod,
                                            const char* fileName);
SAPIOLUX_EXPORT int32_t ixoGetContentToBuffer(IXO* ixo, const char* document, int32_t upperMethod,
                                              char* buffer, int32_t size);
/* The whole reply, however long, read into a new ContentRecord (*record, released with
 * ixoDestroyContentRecord). -5 for null arguments or an empty reply; -7 when the reply
 * holds no IDX document or memory ran out. *record is null on failure. */
SAPIOLUX_EXPORT int32_t ixoGetContentToStructure(IXO* ixo, const char* document,
                                                 int32_t upperMethod, ContentRecord** record);

/* Concept-model primitives of the terms of text ("/qmethod=a&querytext=...&idnum=N"):
 * a weighted term list. The structure form uses the client cache. */
SAPIOLUX_EXPORT int32_t ixoGetTSEQPrimitiveToStructure(IXO* ixo, const char* text, int32_t number,
                                                       IxoTermList* list);
SAPIOLUX_EXPORT int32_t ixoGetTSEQPrimitiveToBuffer(IXO* ixo, const char* text, int32_t number,
                                                    char* buffer, int32_t size);

/* Checks a batch of titles against the index with one primitive request for the
 * words of title and of the count further titles (words: runs of letters and digits).
 * On 1 the result holds count records, one per further title, in order: name and
 * title are the title (line breaks as blanks), docId its position, weight the lowest
 * figure the server gives among its words (the number of indexed documents holding the
 * word, so 0 means no indexed document holds them all); words the reply does not list
 * are left out, and a title without listed words gets -1. Further fields: "words"
 * (number of words) and "shared" (how many of them also occur in title).
 * -5 for null arguments or count below 1; transport codes otherwise. */
SAPIOLUX_EXPORT int32_t ixoCheckBatchForTitleDuplicates(IXO* ixo, const char* title,
                                                        const char* const* titles, int32_t count,
                                                        IxoQueryResult* result);

#ifdef __cplusplus
}
#endif

#endif
