// Shared by the ixoindex program tests: an ixoserver started as a child process on
// ports of its own choosing, and a runner for the program's command lines.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/common/server_child.h"

namespace ixoindex_testing {

// An ixoserver with its home at `home`, on loopback ports it picks itself; `extraIni`
// is appended to the [SERVER] section.
class ServerProcess : public testing_support::ServerChild {
  public:
    explicit ServerProcess(const std::filesystem::path& home, const std::string& extraIni = "")
        : ServerChild(IXOSERVER_BIN, home,
                      "QUERYPORT=0\nINDEXPORT=0\nCOMMITINTERVALMS=50\n" + extraIni) {}
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
