// Shared by the ixoindex program tests: an ixoserver started as a child process on
// ports of its own choosing, and a runner for the program's command lines.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/common/tempdir.h"

namespace ixoindex_testing {

// An ixoserver with its home at `home`, listening on loopback ports it picks itself
// (read back from its ports file); `extraIni` is appended to the [SERVER] section. The
// server is killed when the object goes away.
class ServerProcess {
  public:
    explicit ServerProcess(const std::filesystem::path& home, const std::string& extraIni = "") {
        using namespace std::chrono_literals;
        std::filesystem::create_directories(home / "ixo");
        testing_support::writeWholeFile(
            (home / "ixo" / "ixo.ini").string(),
            "[SERVER]\nQUERYPORT=0\nINDEXPORT=0\nCOMMITINTERVALMS=50\n" + extraIni);
        pid_ = ::fork();
        if (pid_ == 0) {
            std::string h = home.string();
            ::execl(IXOSERVER_BIN, IXOSERVER_BIN, "-runhidden", "--home", h.c_str(),
                    (char*)nullptr);
            ::_exit(127);
        }
        auto until = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < until) {
            std::string ports;
            if (std::filesystem::exists(home / "ixo" / "ports"))
                ports = testing_support::readWholeFile((home / "ixo" / "ports").string());
            if (std::sscanf(ports.c_str(), "QUERYPORT=%d\nINDEXPORT=%d", &queryPort, &indexPort) ==
                2)
                return;
            std::this_thread::sleep_for(20ms);
        }
        ADD_FAILURE() << "server did not start";
    }
    ~ServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int queryPort = 0, indexPort = 0;

  private:
    pid_t pid_ = -1;
};

// Runs a shell command line; its standard output and error go to *output when given.
// Returns the exit status, or -1 when it did not exit normally.
inline int runCommand(const std::string& command, std::string* output = nullptr) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    std::string out;
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int status = ::pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ixoindex_testing
