// CSuggestionRequest: the parameter block of one source's queries and the mailbox of
// their results, and the worker that runs one query on its own thread.
//
// Each worker runs on its own copy of the parameters and shares the request's client
// handle (kept alive by the worker even when a refill replaces it), so refilling the
// request for a new query never disturbs a running one. Only the newest worker's result
// is stored in the request; every worker reports its status through the done callback.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "ixo.h"

namespace agent {

class CAppParameters;

// Worker outcomes.
enum WorkerStatus : int32_t {
    kStatusHits = 0,      // the query returned at least one hit
    kStatusNoHits = 1,    // the query succeeded without hits
    kStatusNoMemory = 2,  // the query path could not be copied
    kStatusNoClient = 3,  // the request has no retrieval client
    kStatusQueryFailed = 4,
    kStatusProxyFailed = 5,
};

// Sources of suggestions ("SOURCE" of the Extended file).
enum SourceKind : int32_t {
    kSourceLocal = 0,
    kSourceCommunity = 1,
    kSourceNews = 2,
    kSourceWeb = 3,
};

struct RequestParams {
    std::string extraOptions;  // "&xoptions=compress", "&refuseref=<user>", both or empty
    int32_t encrypt = 0;
    int32_t sourceKind = 0;
    intptr_t capturedWindow = 0;
    std::string logPrefix;  // the product name
    int32_t logQueries = 0;
    // The folder of the query log; empty: the working folder.
    std::string logFolder;
    int32_t useCache = 0, cacheSize = 0, cacheTime = 0;
    int32_t useProxy = 0;
    std::string proxyHost;
    int32_t proxyPort = 0;
    std::string proxyUser, proxyPassword;
    std::string databases;  // comma-separated
    int32_t nSuggests = 6;
    int32_t threshold = 37;
    std::string host;
    int32_t port = 0;
    std::string queryText;
    std::string userName;
    // Sent with userName as the handle's password: the personal server's query password.
    std::string password;
};

// What a finished worker reports (the window's "query done" message).
struct QueryDone {
    class CSuggestionRequest* request;
    uint32_t workerId;
    int32_t status;
};

// The query path of a worker: "/qmethod=E&querytext=...&qnum=...&idnum=..." with
// "&attachtoname=" and the databases joined by "+" when there are any, then the extra
// options. The query text keeps at most kMaxPathTerms terms and kMaxQueryTextBytes
// bytes (whole terms); every byte of a term or database name other than a letter,
// digit, "-", ".", "_" or "~" is percent-encoded, and so is every blank, control or
// non-ASCII byte and "#" of the extra options, so that no value can end the request
// line or start another parameter.
std::string buildQueryPath(const RequestParams& params);

inline constexpr int32_t kMaxPathTerms = 40;
inline constexpr size_t kMaxQueryTextBytes = 4096;
// A longer query path (long database lists or options) is not sent: the worker ends
// with kStatusQueryFailed.
inline constexpr size_t kMaxQueryPathBytes = 8192;

// Every byte of value but letters, digits, "-", ".", "_" and "~" as "%XX".
std::string percentEncode(std::string_view value);

// The query log's file name: the product name followed by "QueryLog.txt", in folder
// (empty: the working folder). A product name holding a path separator, "..", or a
// control byte is not used; the built-in product name stands for it.
std::string queryLogPath(const std::string& folder, const std::string& productName);

class CSuggestionRequest {
  public:
    CSuggestionRequest();
    ~CSuggestionRequest();  // waits for running workers
    CSuggestionRequest(const CSuggestionRequest&) = delete;
    CSuggestionRequest& operator=(const CSuggestionRequest&) = delete;

    // Stores the parameters. Encryption, proxy and user name are taken first; the
    // client is created when the host is first set and created again when host, port,
    // cache settings, encryption, user name or proxy change.
    void Fill(const RequestParams& params);
    const RequestParams& Params() const { return m_params; }
    bool HasClient() const { return m_client != nullptr; }

    // Starts a worker on a copy of the current parameters; returns its id (never 0),
    // which also becomes the newest worker id. 0 when the thread could not start.
    uint32_t Start();
    // Start, then wait for that worker; returns its status.
    int32_t RunAndWait();
    // Waits until no worker runs.
    void WaitIdle();

    // Called on the worker's thread when it ends (the window posts itself a message).
    std::function<void(const QueryDone&)> onDone;

    // Window side, all under the request's lock.
    bool HasResult() const;
    bool NoHits() const;
    bool Busy() const;
    int32_t Status() const;  // status of the newest finished worker
    int32_t SourceKind() const { return m_params.sourceKind; }
    uint32_t NewestWorker() const;
    // A copy of the stored result (false when there is none).
    bool CopyResult(IxoQueryResult* out) const;

  private:
    struct Client;
    void Run(uint32_t id, RequestParams params, std::shared_ptr<Client> client);
    static int32_t Query(const RequestParams& params, Client* client, IxoQueryResult* result);

    RequestParams m_params;
    std::shared_ptr<Client> m_client;

    mutable std::mutex m_lock;
    std::condition_variable m_idle;
    IxoQueryResult m_result{};
    int32_t m_hasResult = 0;
    int32_t m_noHits = 0;
    int32_t m_status = 0;
    int m_running = 0;
    uint32_t m_newest = 0;
    uint32_t m_nextId = 0;
};

// The text of one suggestion line as the window shows it: the record's title, or the
// value of its field titleField when that is set, trimmed of blanks and cut to 256
// characters; "%d%%   %s" with the record's weight when showSimilarity is set.
std::string suggestionLine(const IxoResultRecord& record, const std::string& titleField,
                           bool showSimilarity);

// The request starter's fill: reads SOURCE, NOENCRYPTQUERY, NOCOMPRESS and the source's
// server settings from the Extended file and the settings, and fills request for the
// query text. For the web source an empty WEBSELECTION is first set from WEBDATABASES
// and the Extended file saved.
RequestParams requestParamsForSource(CAppParameters& settings, int32_t sourceKind,
                                     const std::string& queryText);

}  // namespace agent
