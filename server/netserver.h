// The server process: two listening sockets (query and index port), a pool of worker
// threads that each accept one connection, read one request, answer it and close, and
// the stop conditions (shutdown request, stop file, SIGTERM/SIGINT).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/dispatch.h"
#include "server/srvconfig.h"
#include "server/store.h"

namespace ixoserver {

class NetServer {
  public:
    explicit NetServer(ServerConfig config);
    ~NetServer();
    NetServer(const NetServer&) = delete;
    NetServer& operator=(const NetServer&) = delete;

    // Opens the data and binds both ports (a port of 0 is chosen by the system).
    // Writes the bound ports to the ports file.
    bool start(std::string& error);
    // Serves until a stop condition; then finishes accepted requests, commits and
    // closes. Returns the process exit code.
    int run();
    // Asks run() to return (thread- and signal-safe).
    void requestStop();

    int queryPort() const { return queryPort_; }
    int indexPort() const { return indexPort_; }
    Store& store() { return store_; }
    // Called once per served request with a line for the log (may be empty).
    std::function<void(const std::string&)> log;

  private:
    struct Connection {
        int fd;
        PortKind port;
        bool loopback;
    };
    void workerLoop();
    void serve(const Connection& c);
    int listenOn(int port, int& boundPort, std::string& error);

    ServerConfig config_;
    Store store_;
    Dispatcher dispatcher_;
    int queryFd_ = -1, indexFd_ = -1;
    int queryPort_ = 0, indexPort_ = 0;
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};

    std::vector<std::thread> workers_;
};

// Installs SIGTERM/SIGINT handlers that call server.requestStop(), and ignores SIGPIPE.
void installSignalHandlers(NetServer& server);

}  // namespace ixoserver
