// The personal retrieval server process: the shared HTTP front end (server/httpfront.h)
// on two ports, the query port and the index port, answering through the dispatcher
// over the store, with the stop conditions of the front (shutdown request, stop file,
// SIGTERM/SIGINT) and the ports file written once the ports are bound.
#pragma once

#include <functional>
#include <string>

#include "server/dispatch.h"
#include "server/httpfront.h"
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
    // Serves until a stop condition; then finishes requests being answered, commits and
    // closes. Idle connections are closed at once. Returns the process exit code.
    int run();
    // Asks run() to return (thread- and signal-safe).
    void requestStop() { front_.requestStop(); }

    int queryPort() const { return front_.boundPort(0); }
    int indexPort() const { return front_.boundPort(1); }
    Store& store() { return store_; }
    HttpFront& front() { return front_; }
    // Called once per served request with a line for the log (may be empty). Values of
    // "pass" parameters are left out of it.
    std::function<void(const std::string&)> log;

  private:
    ServerConfig config_;
    Store store_;
    Dispatcher dispatcher_;
    HttpFront front_;
};

// Installs SIGTERM/SIGINT handlers that call server.requestStop(), and ignores SIGPIPE.
void installSignalHandlers(NetServer& server);

// The request target as it may be logged: the values of "pass" parameters are replaced
// by "***", a scrambled target is shown unscrambled that way, and line ends become blanks.
std::string loggableTarget(const std::string& target);

}  // namespace ixoserver
