// Programs run as child processes of a test: a retrieval server on loopback ports, or
// any program with its output thrown away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Starts args[0] (looked up on PATH) with args, its standard streams on /dev/null; its
// process id, or -1 when it could not be started.
pid_t spawnQuietly(const std::vector<std::string>& args);

// Writes home/ixo/ixo.ini as "[SERVER]\n" + settings (with "INDEXAUTH=OFF" first unless
// settings name INDEXAUTH or INDEXUSER, and "QUERYAUTH=OFF" unless they name QUERYAUTH or
// QUERYUSER), starts program (the server) with
// that home and waits up to 30 seconds for the ports file it writes once it listens.
// queryPort and indexPort stay 0 when it does not come up (the caller checks them). The
// child is killed and reaped when the object goes away.
class ServerChild {
  public:
    ServerChild(const std::string& program, const std::filesystem::path& home,
                const std::string& settings);
    ~ServerChild();
    ServerChild(const ServerChild&) = delete;
    ServerChild& operator=(const ServerChild&) = delete;

    int queryPort = 0, indexPort = 0;

    // Sends sig to the child (nothing once it has ended).
    void signal(int sig);
    // Waits up to limit for the child to end by itself and reaps it. Its exit code
    // (128 + the signal number when a signal ended it), or -1 when it is still running.
    int waitExit(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // True while the child runs.
    bool alive() const;
    // The child's process id (for its CPU time and memory), -1 once it is reaped.
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

}  // namespace testing_support
