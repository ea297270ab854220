// Shared pieces of the agent tests: settings hives in a temporary folder, a hand-built
// term weight file, and an ixoserver process on free loopback ports.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/server_child.h"
#include "tests/common/tempdir.h"

namespace agent_test {

// Points both settings hives at folders under dir while it lives.
class ScopedHives {
  public:
    explicit ScopedHives(const std::filesystem::path& dir);
    ~ScopedHives();
    std::string userDir, machineDir;
};

// The bytes of a term weight file holding the given terms and weights (compare length
// 10), bucketed by the agent's hash over `buckets` buckets.
std::string buildWeightFile(const std::map<std::string, uint8_t>& weights, uint32_t buckets = 7);

// A port nothing listens on (bound once by the system, then released).
int freePort();

// ixoserver started hidden in home (ports chosen by the system unless given).
class ServerProcess {
  public:
    explicit ServerProcess(const std::filesystem::path& home, int queryPort = 0, int indexPort = 0);
    ~ServerProcess();
    bool running() const { return queryPort > 0; }
    // Indexes IDX text and waits until the server has committed it.
    bool index(const std::string& idx);
    int queryPort = 0, indexPort = 0;

  private:
    std::unique_ptr<testing_support::ServerChild> child_;
};

// Runs a program with arguments; its standard output and exit code.
struct RunResult {
    int exitCode = -1;
    std::string out;
};
RunResult runProgram(const std::string& program, const std::vector<std::string>& args);

}  // namespace agent_test
