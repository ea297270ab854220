// Secure peers for tests: certificates made at test time with the openssl program in a
// private temporary folder, and a TLS front (a python3 child) that relays each
// connection to a plain loopback server once its handshake succeeded, so whatever the
// backend records is what came through the secure connection.
//
//   TestCertificates certs;                  // a test certificate authority
//   auto good = certs.issue("good", "DNS:secure.example,IP:127.0.0.1");
//   TlsRelay front(backend.port(), good);    // https://127.0.0.1:front.port()/
//   ... x.caFile = certs.caFile().c_str(); ...
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/common/tempdir.h"

namespace testing_support {

// True when the openssl and python3 programs can be run.
bool tlsToolsAvailable();

class TestCertificates {
  public:
    struct Pair {
        std::string cert, key;  // PEM files; empty when making them failed
    };
    TestCertificates();  // makes the authority
    bool ok() const { return ok_; }
    // The authority's certificate, the CA file a client is told to trust.
    std::string caFile() const { return dir_.file("ca.pem"); }
    // A server certificate for names (a subjectAltName value), issued by the test
    // authority, or by itself when selfSigned.
    Pair issue(const std::string& stem, const std::string& names, bool selfSigned = false);

  private:
    TempDir dir_;
    bool ok_ = false;
};

class TlsRelay {
  public:
    // A TLS server with this certificate, relaying to backendPort.
    TlsRelay(int backendPort, const TestCertificates::Pair& certificate);
    // A stand-in for a proxy's upstream: answers "CONNECT ..." and relays to backendPort.
    explicit TlsRelay(int backendPort);
    ~TlsRelay();
    TlsRelay(const TlsRelay&) = delete;
    TlsRelay& operator=(const TlsRelay&) = delete;

    int port() const { return port_; }  // 0 when it did not come up
    // The CONNECT request lines received (connect relay only).
    std::vector<std::string> connectLines() const;

  private:
    void start(const std::vector<std::string>& args);
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace testing_support
