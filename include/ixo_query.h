/* libixo: query and suggestion requests.
 *
 * A request is "/qmethod=" + method letter + "&querytext=" + query text, followed by
 * '&'-separated parameters. Texts go into requests as they are (nothing is escaped);
 * query terms are joined with '+'. Every request goes to the query port.
 *
 * Shared arguments: fields (e.g. "+fieldTITLE=x"; every "+field"/"+fname" becomes
 * "&field"/"&fname"), field-Boolean (sent as "fieldbool=" with every "field" removed,
 * only together with fields), databases ("numbers=1,2" or "names=web"; empty: all),
 * dates ("from=N to=M" in days before today, or day/month/year dates; empty: any).
 * These texts must not be null but may be empty. A number of results below 1 asks for
 * 25. ...ToStructure calls parse the reply into a query result the caller releases with
 * ixoDestroyQueryResult; a reply without hits is success with an empty result.
 * ...ToFile and ...ToBuffer calls hand back the raw reply and never use the cache. */
#ifndef SAPIOLUX_IXO_QUERY_H
#define SAPIOLUX_IXO_QUERY_H

#include <stdint.h>

#include "ixo_api.h"
#include "ixo_results.h"
#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Method argument of the ixoDoQuery calls: the low three bits choose the method,
 * the higher bits add option flags. */
#define IXO_METHOD_QUERY 0     /* "q" */
#define IXO_METHOD_FULL 1      /* "F" */
#define IXO_METHOD_EXPANDED 2  /* "q" with neighbouring terms also joined into pairs */
#define IXO_METHOD_G_LOWER 3   /* "g" */
#define IXO_METHOD_G_UPPER 4   /* "G" */
#define IXO_METHOD_BOOLEAN 8   /* option "boolean" */
#define IXO_METHOD_FULLTEXT 16 /* option "full" */
#define IXO_METHOD_SORTDATE 32 /* option "sortdate" */

/* Sends a ready request (the user parameters are appended here) on the query port,
 * answering from the client cache when it holds the request, and parses the reply in
 * full form into result. 1; -5 for null arguments; -7 for an empty request or when
 * memory ran out; transport codes of ixoRequestToDynBuffer2. */
SAPIOLUX_EXPORT int32_t ixoDoHttpQueryToStructure(IXO* ixo, const char* request,
                                                  IxoQueryResult* result);

/* A query. "&xoptions=" inside queryText starts extra option text. fullForm 1 parses
 * the full results form; otherwise the reply is reduced to names, titles and weights.
 * docNumber non-zero is sent as "idnum"; withSummary 1 asks for summaries. */
SAPIOLUX_EXPORT int32_t ixoDoQueryToStructure(IXO* ixo, int32_t method, const char* queryText,
                                              const char* fields, const char* fieldBool,
                                              const char* databases, const char* dates,
                                              int32_t numResults, int32_t fullForm,
                                              int32_t docNumber, int32_t withSummary,
                                              IxoQueryResult* result);
/* The same request; the reply is written to fileName (reduced unless fullForm is 1).
 * -6 when the reduction cannot rewrite the file. */
SAPIOLUX_EXPORT int32_t ixoDoQueryToFile(IXO* ixo, int32_t method, const char* queryText,
                                         const char* fields, const char* fieldBool,
                                         const char* databases, const char* dates,
                                         int32_t numResults, int32_t fullForm, int32_t docNumber,
                                         int32_t withSummary, const char* fileName);
/* The same request; at most bufferSize - 1 bytes of the reply are copied into buffer,
 * which is always terminated. -5 for a null buffer or bufferSize below 1. */
SAPIOLUX_EXPORT int32_t ixoDoQueryToBuffer(IXO* ixo, int32_t method, const char* queryText,
                                           const char* fields, const char* fieldBool,
                                           const char* databases, const char* dates,
                                           int32_t numResults, int32_t fullForm, int32_t docNumber,
                                           int32_t withSummary, char* buffer, int32_t bufferSize);

/* Suggestions for free text: the words of text (stop words dropped, sorted, each once)
 * become the query terms of a "/qmethod=E" request; secondDocNumber is its "idnum".
 * -7 when the text has no usable word. */
SAPIOLUX_EXPORT int32_t ixoSuggestOnTextToStructure(IXO* ixo, const char* text, const char* fields,
                                                    const char* fieldBool, const char* databases,
                                                    const char* dates, int32_t numResults,
                                                    int32_t docNumber, int32_t withSummary,
                                                    int32_t secondDocNumber,
                                                    IxoQueryResult* result);

/* More documents like the given query terms ("/qmethod=s"). useUrl 1 and include 0 add
 * the options "useurl" and "include". */
SAPIOLUX_EXPORT int32_t ixoSuggestMoreToStructure(IXO* ixo, int32_t useUrl, const char* text,
                                                  const char* fields, const char* fieldBool,
                                                  const char* databases, const char* dates,
                                                  int32_t numResults, int32_t docNumber,
                                                  int32_t withSummary, int32_t include,
                                                  IxoQueryResult* result);
SAPIOLUX_EXPORT int32_t ixoSuggestMoreToFile(IXO* ixo, int32_t useUrl, const char* text,
                                             const char* fields, const char* fieldBool,
                                             const char* databases, const char* dates,
                                             int32_t numResults, int32_t docNumber,
                                             int32_t withSummary, int32_t include,
                                             const char* fileName);
SAPIOLUX_EXPORT int32_t ixoSuggestMoreToBuffer(IXO* ixo, int32_t useUrl, const char* text,
                                               const char* fields, const char* fieldBool,
                                               const char* databases, const char* dates,
                                               int32_t numResults, int32_t docNumber,
                                               int32_t withSummary, int32_t include, char* buffer,
                                               int32_t bufferSize);

/* A page of a longer result list: results start .. start + count - 1, optionally only
 * among the docCount documents in onlyDocs. With wantTotal non-zero the server is asked
 * for the total number of matches, handed back in *total (0 when the reply has none;
 * total may be null). */
SAPIOLUX_EXPORT int32_t ixoDoBatchSuggestToStructure(
    IXO* ixo, int32_t useUrl, const char* text, const char* fields, const char* fieldBool,
    const char* databases, const char* dates, int32_t start, int32_t count, const int32_t* onlyDocs,
    int32_t docCount, int32_t wantTotal, int32_t docNumber, int32_t withSummary,
    IxoQueryResult* result, int32_t* total);
SAPIOLUX_EXPORT int32_t ixoDoBatchQueryToStructure(
    IXO* ixo, int32_t method, const char* queryText, const char* fields, const char* fieldBool,
    const char* databases, const char* dates, int32_t start, int32_t count, int32_t fullForm,
    const int32_t* onlyDocs, int32_t docCount, int32_t wantTotal, int32_t docNumber,
    int32_t withSummary, IxoQueryResult* result, int32_t* total);

/* The number of matches of a query (the server's "numhits" for "counthits"), in
 * *numHits. The cache is not used. */
SAPIOLUX_EXPORT int32_t ixoGetNumHitsForQuery(IXO* ixo, int32_t method, const char* queryText,
                                              const char* fields, const char* fieldBool,
                                              const char* databases, const char* dates,
                                              int32_t* numHits);

/* The sections of one document: a query for the reference's words restricted to the
 * field IXOREFERENCE equal to the reference, up to 9999 results. */
SAPIOLUX_EXPORT int32_t ixoGetSectionsToStructure(IXO* ixo, const char* reference,
                                                  const char* databases, int32_t fullForm,
                                                  int32_t withSummary, IxoQueryResult* result);

#ifdef __cplusplus
}
#endif

#endif
