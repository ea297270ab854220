// The server process: two listening sockets (query and index port), one thread that
// accepts connections and reads requests without blocking (epoll, with a deadline per
// connection), a pool of worker threads that answer complete requests, and the stop
// conditions (shutdown request, stop file, SIGTERM/SIGINT). A slow or idle client only
// holds its own connection: workers never wait on a peer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/dispatch.h"
#include "server/srvconfig.h"
#include "server/store.h"

namespace ixoserver {

// How long a client may take: to send its request line and headers, and the whole
// request. A request still incomplete then is taken as it stands (a body sent without
// a length ends there), as if the peer had closed.
inline constexpr int kHeaderDeadlineMs = 10000;
inline constexpr int kRequestDeadlineMs = 30000;
// A reply the peer does not read within this time is dropped.
inline constexpr int kWriteDeadlineMs = 30000;

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
    void requestStop();

    int queryPort() const { return queryPort_; }
    int indexPort() const { return indexPort_; }
    Store& store() { return store_; }
    // Called once per served request with a line for the log (may be empty). Values of
    // "pass" parameters are left out of it.
    std::function<void(const std::string&)> log;

  private:
    enum class State { Reading, Working, Writing };
    struct Connection {
        int fd = -1;
        PortKind port = PortKind::Query;
        bool loopback = false;
        State state = State::Reading;
        std::string data;  // received bytes
        HttpRequestData request;
        ParseStatus status = ParseStatus::Incomplete;
        std::string out;  // the serialized reply
        size_t written = 0;
        bool shutdown = false;
        bool busy = false;  // turned away: the buffer budget was spent
        std::chrono::steady_clock::time_point accepted, headerDeadline, requestDeadline,
            writeDeadline;
    };

    void workerLoop();
    void answer(Connection& c);
    int listenOn(int port, int& boundPort, std::string& error);
    void acceptAll(int listenFd, PortKind port);
    void readFrom(Connection& c);
    void finishReading(Connection& c, bool atEof);
    void startWriting(Connection& c);
    void writeTo(Connection& c);
    void closeConnection(int fd);
    void releaseBuffer(Connection& c);
    void collectFinished();
    void expire(std::chrono::steady_clock::time_point now);
    int nextTimeoutMs(std::chrono::steady_clock::time_point now) const;

    ServerConfig config_;
    Store store_;
    Dispatcher dispatcher_;
    int queryFd_ = -1, indexFd_ = -1;
    int queryPort_ = 0, indexPort_ = 0;
    int wakePipe_[2] = {-1, -1};  // written by requestStop (also from a signal handler)
    int doneFd_ = -1;             // eventfd: a worker finished a request
    int epollFd_ = -1;
    std::atomic<bool> stopping_{false};
    size_t maxConnections_ = 1000;
    size_t buffered_ = 0;               // bytes held by connections still being read
    size_t bufferBudget_ = 256u << 20;  // most bytes held at once

    std::unordered_map<int, std::unique_ptr<Connection>> connections_;  // loop thread only

    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<Connection*> work_;       // complete requests for the workers
    std::vector<Connection*> finished_;  // answered requests back to the loop
    bool workersStop_ = false;

    std::vector<std::thread> workers_;
};

// Installs SIGTERM/SIGINT handlers that call server.requestStop(), and ignores SIGPIPE.
void installSignalHandlers(NetServer& server);

// The request target as it may be logged: the values of "pass" parameters are replaced
// by "***", a scrambled target is shown unscrambled that way, and line ends become blanks.
std::string loggableTarget(const std::string& target);

}  // namespace ixoserver
