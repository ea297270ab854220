#include "support/netprobe.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <string>

#include "support/httprequest.h"

extern "C" {

int32_t netHasOutsideInterface(void) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    int32_t found = 0;
    for (ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
        if (i->ifa_addr == nullptr) continue;
        const int family = i->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        const unsigned flags = i->ifa_flags;
        if ((flags & IFF_LOOPBACK) || !(flags & IFF_UP) || !(flags & IFF_RUNNING)) continue;
        found = 1;
    }
    freeifaddrs(list);
    return found;
}

int32_t netProbeUrl(const char* url, const char* proxyHost, int32_t proxyPort,
                    const char* proxyUser, const char* proxyPassword, int32_t timeout) {
    if (url == nullptr || *url == '\0') return 0;
    char* host = nullptr;
    char* path = nullptr;
    int32_t port = 0;
    if (!httpSplitUrl(url, &host, &port, &path)) return 0;
    const std::string target = std::string("/") + path;
    if (path) memFree(path);
    HttpRequest* request = nullptr;
    int32_t answered = 0;
    if (port >= 1 && port <= 65535 && httpRequestCreate(&request) == 0) {
        bool ready = httpRequestSetHost(request, host, port) == 0 &&
                     httpRequestSetUrl(request, target.c_str()) == 0 &&
                     httpRequestSetTimeouts(request, timeout > 0 ? timeout : 1,
                                            timeout > 0 ? timeout : 1) == 0 &&
                     httpRequestSetMaxResponse(request, 16 << 20) == 0;
        if (ready && proxyHost != nullptr && *proxyHost != '\0')
            ready =
                httpRequestSetProxy(request, proxyHost, proxyPort, proxyUser, proxyPassword) == 0;
        if (ready) {
            int32_t status = 0;
            char* body = nullptr;
            int32_t bodyLength = 0;
            int32_t rc = httpRequestSend(request, &status, nullptr, &body, &bodyLength);
            // Any status counts; an answer without a status line is no HTTP answer.
            answered = rc == 0 && status > 0 ? 1 : 0;
            if (body) memFree(body);
        }
        httpRequestDestroy(&request);
    }
    if (host) memFree(host);
    return answered;
}

int32_t netCheckConnection(const char* url, const char* proxyHost, int32_t proxyPort,
                           const char* proxyUser, const char* proxyPassword, int32_t timeout) {
    if (!netHasOutsideInterface()) return 0;
    return netProbeUrl(url, proxyHost, proxyPort, proxyUser, proxyPassword, timeout);
}

}  // extern "C"
