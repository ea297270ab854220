// The connectivity probe of the agent: is the machine on-line, and does the agent's own
// server answer? Only the agent's servers are ever asked: the account server's web site
// when the account edition is on and its host is known, else the selected retrieval
// server. The request goes through the proxy the settings choose; any HTTP answer,
// whatever its status, counts as reachable.
#pragma once

#include <cstdint>
#include <string>

namespace agent {

class CAppParameters;

// Where the probe asks and through which proxy (as the HTTP layer takes it).
struct ProbeTarget {
    std::string url;  // "http://host:port/", empty when no server is known
    std::string proxyHost;
    int32_t proxyPort = 0;
    std::string proxyUser, proxyPassword;
};

// The account server ("AppInternetVersion" Host, port 80) when InternetVersion is on and
// the host is set, else "IXO" and "PORT" of the Extended file; the proxy of the Proxy
// settings (none, the system's "ORVIQ_AUTOPROXY", or the stored host and port).
ProbeTarget probeTargetFor(const CAppParameters& settings);

// The probe: an interface other than loopback is up (hasOutsideInterface; null asks
// the system), then one no-cache GET of the target brings any HTTP answer.
bool probeConnection(const ProbeTarget& target, int32_t timeoutSeconds,
                     bool (*hasOutsideInterface)() = nullptr);

// One direct GET of "/" on host and port, without the interface check: whether that
// server answers at all.
bool probeServer(const std::string& host, int32_t port, int32_t timeoutSeconds);

}  // namespace agent
