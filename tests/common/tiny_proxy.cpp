#include "tests/common/tiny_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/common/server_child.h"

namespace testing_support {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

}  // namespace

int unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool TinyProxy::available() {
    return ::access(kProgram, X_OK) == 0;
}

TinyProxy::TinyProxy(bool withAuth, int upstreamPort) {
    port_ = unusedPort();
    std::string conf =
        "Port " + std::to_string(port_) +
        "\nListen 127.0.0.1\nTimeout 10\nAllow 127.0.0.1\nMaxClients 10\nLogLevel Critical\n";
    if (upstreamPort > 0) conf += "Upstream http 127.0.0.1:" + std::to_string(upstreamPort) + "\n";
    if (withAuth) conf += "BasicAuth user pass\n";
    const std::string confPath = dir_.file("proxy.conf");
    writeWholeFile(confPath, conf);
    pid_ = spawnQuietly({kProgram, "-d", "-c", confPath});
    for (int i = 0; pid_ > 0 && i < 100 && !up_; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = loopback(port_);
        up_ = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TinyProxy::~TinyProxy() {
    if (pid_ <= 0) return;
    // A proxy still busy with a connection may not end on SIGTERM at once: after 3 s it
    // is killed, so a test never hangs on its proxy.
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 60; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

}  // namespace testing_support
