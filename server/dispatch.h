// The request grammar of the retrieval server: query methods on the query port, index
// and administration commands on the index port, and their replies.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "server/httpreq.h"
#include "server/srvconfig.h"
#include "server/store.h"

namespace ixoserver {

enum class PortKind { Query, Index };

struct DispatchResult {
    HttpReply reply;
    bool shutdown = false;  // "/IXOSHUTDOWN": stop after this reply
};

class Dispatcher {
  public:
    Dispatcher(Store& store, const ServerConfig& config) : store_(store), config_(config) {}

    // Answers one parsed request. Never throws.
    DispatchResult handle(PortKind port, const HttpRequestData& request, bool peerIsLoopback);

    // The ports actually bound (for the information reply).
    void setPorts(int queryPort, int indexPort) {
        queryPort_ = queryPort;
        indexPort_ = indexPort;
    }

  private:
    DispatchResult dispatch(PortKind port, const HttpRequestData& request, bool peerIsLoopback);
    // False for requests a web browser made (Origin, cross-site fetch) or that name a
    // host other than this machine or ALLOWEDHOSTS.
    bool acceptableOrigin(const HttpRequestData& request) const;
    bool indexCredentialsOk(const RequestPath& path) const;
    bool queryCredentialsOk(const RequestPath& path) const;
    HttpReply query(const RequestPath& path);
    HttpReply indexCommand(const RequestPath& path, const std::string& body);

    std::string search(const RequestPath& path, char method);
    std::string summary(const RequestPath& path, char method);
    std::string docIds(const RequestPath& path);
    std::string documentTerms(const RequestPath& path, char method);
    std::string primitive(const RequestPath& path);
    std::string content(const RequestPath& path);
    std::string indexerStatus(const RequestPath& path);
    std::string stopList();
    std::string info();

    std::string addData(const RequestPath& path, const std::string& idxText);
    std::string addByLocation(const RequestPath& path);
    std::string replaceFields(const std::string& body);
    std::string updateTerms(const std::string& body);

    Store& store_;
    const ServerConfig& config_;
    int queryPort_ = 0;
    int indexPort_ = 0;
    std::mutex jobsMutex_;
    std::map<uint32_t, int> jobs_;  // job number -> documents indexed
};

}  // namespace ixoserver
