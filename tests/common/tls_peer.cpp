#include "tests/common/tls_peer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/common/server_child.h"

namespace testing_support {
namespace {

bool runToEnd(const std::vector<std::string>& args) {
    const pid_t pid = spawnQuietly(args);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A fresh P-256 key and a certificate valid for two days.
std::vector<std::string> newCertificate(const std::string& key, const std::string& cert,
                                        const std::string& subject) {
    return {
        "openssl", "req",   "-x509", "-newkey", "ec",    "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes",  "-days", "2",     "-subj",   subject, "-keyout",  key,
        "-out",    cert};
}

}  // namespace

bool tlsToolsAvailable() {
    return runToEnd({"openssl", "version"}) && runToEnd({"python3", "-c", "import ssl"});
}

TestCertificates::TestCertificates() {
    std::vector<std::string> args =
        newCertificate(dir_.file("ca.key"), caFile(), "/CN=Sapiolux Test Authority");
    for (const char* ext :
         {"basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign,cRLSign"}) {
        args.push_back("-addext");
        args.push_back(ext);
    }
    ok_ = runToEnd(args);
}

TestCertificates::Pair TestCertificates::issue(const std::string& stem, const std::string& names,
                                               bool selfSigned) {
    Pair pair{dir_.file(stem + ".pem"), dir_.file(stem + ".key")};
    std::vector<std::string> args = newCertificate(pair.key, pair.cert, "/CN=" + stem);
    args.insert(args.end(), {"-addext", "subjectAltName=" + names, "-addext",
                             "basicConstraints=critical,CA:FALSE"});
    if (!selfSigned) args.insert(args.end(), {"-CA", caFile(), "-CAkey", dir_.file("ca.key")});
    if (!runToEnd(args)) return {};
    return pair;
}

TlsRelay::TlsRelay(int backendPort, const TestCertificates::Pair& certificate) {
    if (!certificate.cert.empty())
        start({"tls", std::to_string(backendPort), dir_.file("port"), certificate.cert,
               certificate.key});
}

TlsRelay::TlsRelay(int backendPort) {
    start({"connect", std::to_string(backendPort), dir_.file("port"), dir_.file("connects")});
}

void TlsRelay::start(const std::vector<std::string>& args) {
    std::vector<std::string> all = {
        "python3", std::string(SAPIOLUX_SOURCE_DIR) + "/tests/common/tls_relay.py"};
    all.insert(all.end(), args.begin(), args.end());
    pid_ = spawnQuietly(all);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && std::chrono::steady_clock::now() < until) {
        if (std::filesystem::exists(dir_.path() / "port")) {
            port_ = std::stoi(readWholeFile(dir_.file("port")));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TlsRelay::~TlsRelay() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::vector<std::string> TlsRelay::connectLines() const {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(dir_.path() / "connects")) return lines;
    std::istringstream in(readWholeFile(dir_.file("connects")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace testing_support
