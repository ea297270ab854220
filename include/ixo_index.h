/* libixo: index and administration requests.
 *
 * Index commands go to the handle's index port; the shutdown request, the indexer
 * status and the document-number look-up go to the query port. Commands are paths
 * ("/IXOADD?...", "/IXODELETEDOC?...", ...), some with an IDX or change-list body
 * (sent as POST).
 *
 * Functions with a reply buffer and size copy at most size bytes of the server's reply
 * into it and always terminate it within size; -5 for a null buffer or size below 1.
 * Functions with an out: reply hand back the whole reply text, owned by the caller
 * (release with memFree); the out-pointer may be null when the reply is not wanted.
 * Every add command succeeds only when the server's reply holds "INDEXID"; any other
 * reply gives -11 even when the exchange itself succeeded.
 *
 * Every index command carries the handle's user parameters (ixoSetUserParameters) after
 * its own parameters, so that a server that takes index commands only from a known
 * user accepts them. A command the server refuses, by an HTTP status outside 2xx or
 * by a reply beginning with "ERROR", gives -11; its reply (the server's reason) is
 * still copied into the buffer or handed back, and the status is noted in the
 * diagnostic log. Transport failures give -3. */
#ifndef SAPIOLUX_IXO_INDEX_H
#define SAPIOLUX_IXO_INDEX_H

#include <stdint.h>

#include "ixo_api.h"
#include "ixo_results.h"
#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Modes of ixoDeleteDocuments. */
#define IXO_DELETE_DOCUMENTS 0  /* "/IXODELETEDOC?docs=": document numbers */
#define IXO_DELETE_REFERENCES 1 /* "/IXODELETEREF?docs=": references, "+dbname=" or "+dbnum=" */
#define IXO_DELETE_DATABASE 2   /* "/IXODELDBASE?": the database's documents */
#define IXO_REMOVE_DATABASE 4   /* "/IXOREMOVEDBASE?": the database itself */

/* The name of the database thesaurus documents are loaded into. */
#define IXO_THESAURUS_DATABASE "Thesaurus"

/* One field change of ixoReplaceFields: the document is named by reference when
 * reference is neither null nor empty, else by docId. Line breaks inside the texts are
 * sent as blanks (a line break would start a new command of the body). */
typedef struct IxoFieldChange {
    const char* reference;
    int32_t docId;
    const char* fieldName;
    const char* value;
} IxoFieldChange;

/* One term change of ixoAddTermsToDocs and ixoRemoveTermsFromDocs: the term is added
 * to (removed from) the document named by reference, or by docId when reference is
 * null or empty. Terms longer than 999 characters are cut. */
typedef struct IxoTermChange {
    const char* term;
    const char* reference;
    int32_t docId;
} IxoTermChange;

/* Adds the document at location (a reference or IDX file location the server reads)
 * with "/IXOADD?". A location holding a blank is sent percent-encoded (every byte
 * other than a letter or digit as '%' and two upper-case hex digits). A non-empty
 * killDuplicates text adds "&KILLDUPLICATES=". -5 for null handle, location or buffer. */
SAPIOLUX_EXPORT int32_t ixoIndexDocument(IXO* ixo, const char* location, const char* killDuplicates,
                                         char* reply, int32_t replySize);

/* The same into the named database ("&IXODBNAME="); -5 also for an empty name. */
SAPIOLUX_EXPORT int32_t ixoIndexDocumentIntoDatabase(IXO* ixo, const char* location,
                                                     const char* killDuplicates, const char* dbName,
                                                     char* reply, int32_t replySize);

/* Posts IDX text to "/IXOADDDATA? ": the body is the text, "\n#IXOENDDATA", the extra
 * text (may be null) and "\n". -5 for a null handle, text or buffer; -7 when memory ran
 * out. */
SAPIOLUX_EXPORT int32_t ixoIndexLocalBuffer(IXO* ixo, const char* idxText, const char* extra,
                                            char* reply, int32_t replySize);

/* Reads the whole file and posts it like ixoIndexLocalBuffer. -6 when the file cannot
 * be read or is empty; nothing is sent then. */
SAPIOLUX_EXPORT int32_t ixoIndexLocalFile(IXO* ixo, const char* fileName, const char* extra,
                                          char* reply, int32_t replySize);

/* Adds the thesaurus documents at location into database "Thesaurus", replacing
 * documents of the same reference. */
SAPIOLUX_EXPORT int32_t ixoLoadThesaurusFile(IXO* ixo, const char* location);

/* Not implemented: always -8. */
SAPIOLUX_EXPORT int32_t ixoLoadThesaurus(void);

/* Deletes documents or databases (mode: IXO_DELETE_... above; any other mode gives -5).
 * In mode 1 the '+' before the first "+dbname=" (or, without one, the first "+dbnum=")
 * of text is sent as '&', so that the server reads it as a parameter. */
SAPIOLUX_EXPORT int32_t ixoDeleteDocuments(IXO* ixo, int32_t mode, const char* text, char* reply,
                                           int32_t replySize);

/* "/IXOCREATEDBASE?name". -5 for a null or empty name. */
SAPIOLUX_EXPORT int32_t ixoCreateDatabase(IXO* ixo, const char* dbName, char* reply,
                                          int32_t replySize);

/* Posts count field changes to "/IXOREPLACE". -5 for null arguments or count below 1. */
SAPIOLUX_EXPORT int32_t ixoReplaceFields(IXO* ixo, const IxoFieldChange* changes, int32_t count,
                                         char** reply);

/* Posts count term changes to "/IXOUPDATE" ("+" lines add, "-" lines remove). -5 for
 * null arguments, a null term or count below 1. */
SAPIOLUX_EXPORT int32_t ixoAddTermsToDocs(IXO* ixo, const IxoTermChange* changes, int32_t count,
                                          char** reply);
SAPIOLUX_EXPORT int32_t ixoRemoveTermsFromDocs(IXO* ixo, const IxoTermChange* changes,
                                               int32_t count, char** reply);

/* "/IXOFINISHEDINDEX". -8 when all four user parameters of the handle are set. */
SAPIOLUX_EXPORT int32_t ixoFinishedIndex(IXO* ixo, char** reply);

/* "/IXOMERGE?text&user=..&pass=..&group=..&domain=.." when all four user parameters
 * are set, else "/IXOMERGE?text", the user parameters that are set, and a line feed
 * (sent percent-encoded). -5 for null arguments. */
SAPIOLUX_EXPORT int32_t ixoMerge(IXO* ixo, const char* text, char** reply);

/* "/IXORESET" and "/IXOINITIAL", with the user parameters. */
SAPIOLUX_EXPORT int32_t ixoReset(IXO* ixo, char* reply, int32_t replySize);
SAPIOLUX_EXPORT int32_t ixoInitial(IXO* ixo, char* reply, int32_t replySize);

/* "/IXOBACKUP?text" and "/IXOINITIAL?text" (restore from the backup named by text). */
SAPIOLUX_EXPORT int32_t ixoBackup(IXO* ixo, const char* text, char* reply, int32_t replySize);
SAPIOLUX_EXPORT int32_t ixoRestoreFromBackup(IXO* ixo, const char* text, char* reply,
                                             int32_t replySize);

/* Asks the server to stop ("/IXOSHUTDOWN" on the query port, with the user parameters:
 * a server that keeps an index user takes the shutdown only from it). */
SAPIOLUX_EXPORT int32_t ixoShutdownServer(IXO* ixo);

/* The state of index job jobNumber ("/qmethod=p&idnum=N", query port): the reply from
 * "STATUS" on, at most size - 1 characters, into buffer. -3 when the reply holds no
 * "STATUS" (buffer then empty). */
SAPIOLUX_EXPORT int32_t ixoGetIndexerStatus(IXO* ixo, int32_t jobNumber, char* buffer,
                                            int32_t size);

/* The document number of the document with this reference, from the number after
 * "#IXODOCID" in the content reply, when the reply's "#IXOREFERENCE " line holds
 * exactly this reference; -1 otherwise (also for null arguments or failed requests). */
SAPIOLUX_EXPORT int32_t ixoGetDocIdFromReference(IXO* ixo, const char* reference);

/* A query widened by a thesaurus: the text is first asked of the thesaurus handle
 * (query method 0, database thesaurusDb, 10 results); the top 20 weighted terms of the
 * thesaurus hits, up to termLimit of them and skipping those that read as a non-zero
 * number, are added to the query text as "TERM~[WEIGHT]+"; the widened query then runs
 * on ixo as ixoDoQueryToStructure does. When the thesaurus gives nothing (or cannot be
 * reached) the query runs unchanged. -5 for null arguments. */
SAPIOLUX_EXPORT int32_t ixoDoThesaurusQueryToStructure(
    IXO* ixo, int32_t method, const char* queryText, const char* fields, const char* fieldBool,
    const char* databases, const char* dates, int32_t numResults, int32_t fullForm,
    int32_t docNumber, int32_t withSummary, IXO* thesaurus, const char* thesaurusDb,
    int32_t termLimit, IxoQueryResult* result);

#ifdef __cplusplus
}
#endif

#endif
