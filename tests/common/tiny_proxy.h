// A real proxy program (tinyproxy) run as a child of a test on a free loopback port,
// and a loopback port nobody listens on.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/common/tempdir.h"

namespace testing_support {

// A loopback port nobody listens on (bound and released at once).
int unusedPort();

// Starts the proxy and waits up to 5 s until it accepts connections; up() tells whether
// it did. With upstreamPort it hands every request to that port as an upstream proxy (so
// requests for any host name end at a server of the test without a name lookup); with
// withAuth it requires Basic authentication as "user"/"pass". The proxy is stopped when
// the object goes away, killed if it does not end within 3 s of SIGTERM.
class TinyProxy {
  public:
    static constexpr const char* kProgram = "/usr/bin/tinyproxy";
    static bool available();

    explicit TinyProxy(bool withAuth, int upstreamPort = 0);
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    bool up() const { return up_; }
    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    bool up_ = false;
};

}  // namespace testing_support
