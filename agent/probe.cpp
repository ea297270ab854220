#include "agent/probe.h"

#include "support/httprequest.h"

namespace agent {

bool probeServer(const std::string& host, int32_t port, int32_t timeoutSeconds) {
    if (host.empty() || port <= 0 || port > 65535) return false;
    HttpRequest* request = nullptr;
    if (httpRequestCreate(&request) != 0 || !request) return false;
    bool reachable = false;
    if (httpRequestSetHost(request, host.c_str(), port) == 0 &&
        httpRequestSetUrl(request, "/") == 0 &&
        httpRequestSetTimeouts(request, timeoutSeconds, timeoutSeconds) == 0) {
        int32_t status = 0;
        char* headers = nullptr;
        char* body = nullptr;
        int32_t bodyLength = 0;
        int32_t rc = httpRequestSend(request, &status, &headers, &body, &bodyLength);
        reachable = rc == 0 && status > 0;
        memFree(headers);
        memFree(body);
    }
    httpRequestDestroy(&request);
    return reachable;
}

}  // namespace agent
