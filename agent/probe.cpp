#include "agent/probe.h"

#include "agent/AppParameters.h"
#include "support/netprobe.h"

namespace agent {

ProbeTarget probeTargetFor(const CAppParameters& settings) {
    ProbeTarget target;
    const std::string account = settings.GetInternetHost();
    if (settings.GetInternetVersion() != 0 && !account.empty()) {
        target.url = "http://" + account + "/";
    } else {
        const std::string host = settings.ExtGetText("IXO");
        const int32_t port = settings.ExtGetNumber("PORT");
        if (!host.empty() && port > 0 && port <= 65535)
            target.url = "http://" + host + ":" + std::to_string(port) + "/";
    }
    switch (settings.GetUseProxy()) {
        case 1:
            target.proxyHost = kAutoProxyHost;
            break;
        case 2:
            target.proxyHost = settings.GetProxyHost();
            target.proxyPort = settings.GetProxyPort();
            target.proxyUser = settings.GetProxyUsername();
            target.proxyPassword = settings.GetProxyPassword();
            break;
        default:
            break;
    }
    return target;
}

bool probeConnection(const ProbeTarget& target, int32_t timeoutSeconds,
                     bool (*hasOutsideInterface)()) {
    if (target.url.empty()) return false;
    const bool online = hasOutsideInterface ? hasOutsideInterface() : netHasOutsideInterface() != 0;
    if (!online) return false;
    return netProbeUrl(target.url.c_str(), target.proxyHost.c_str(), target.proxyPort,
                       target.proxyUser.c_str(), target.proxyPassword.c_str(), timeoutSeconds) != 0;
}

bool probeServer(const std::string& host, int32_t port, int32_t timeoutSeconds) {
    if (host.empty() || port <= 0 || port > 65535) return false;
    const std::string url = "http://" + host + ":" + std::to_string(port) + "/";
    return netProbeUrl(url.c_str(), nullptr, 0, nullptr, nullptr, timeoutSeconds) != 0;
}

}  // namespace agent
