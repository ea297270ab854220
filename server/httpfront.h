// The HTTP/1.0 front end shared by our servers: listening sockets, one thread that
// accepts connections and reads requests without blocking (epoll, with a deadline per
// connection), a pool of worker threads that answer complete requests through a
// handler, and the stop conditions (a stop request, a stop file, SIGTERM/SIGINT). A
// slow or idle client only holds its own connection: workers never wait on a peer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/httpreq.h"

namespace ixoserver {

// How long a client may take: to send its request line and headers, and the whole
// request. A request still incomplete then is taken as it stands (a body sent without
// a length ends there), as if the peer had closed.
inline constexpr int kHeaderDeadlineMs = 10000;
inline constexpr int kRequestDeadlineMs = 30000;
// A reply the peer does not read within this time is dropped.
inline constexpr int kWriteDeadlineMs = 30000;

struct FrontOptions {
    std::string bindAddress = "127.0.0.1";
    std::vector<int> ports;  // one listening socket each; 0 lets the system choose
    int workerThreads = 4;
    std::size_t maxBodyBytes = 64u << 20;
    std::size_t maxHeaderBytes = 64u << 10;
    // Polled while running and removed at start; the owner removes it once it has
    // closed its data. Empty: none.
    std::string stopFilePath;
    std::string serverName = "ixoserver";  // the "Server" header of every reply
};

// A handler's answer; shutdown stops the server once the reply is sent.
struct FrontAnswer {
    HttpReply reply;
    bool shutdown = false;
};

class HttpFront {
  public:
    // listener is the index of the port in FrontOptions::ports the request came in on.
    using Handler =
        std::function<FrontAnswer(int listener, const HttpRequestData& request, bool loopback)>;

    HttpFront(FrontOptions options, Handler handler);
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    // Binds every port and starts the workers.
    bool start(std::string& error);
    // Serves until a stop condition; then finishes requests being answered and closes.
    // Idle connections are closed at once. Returns the process exit code.
    int run();
    // Asks run() to return (thread- and signal-safe).
    void requestStop();

    // The port actually bound for listener i (0 before start).
    int boundPort(std::size_t i) const { return i < bound_.size() ? bound_[i] : 0; }

    // Called on a worker or the loop thread once per answered request (refusals too),
    // with the listener, the target as sent (empty when unreadable) and the status.
    std::function<void(int listener, const std::string& target, int status)> onServed;

  private:
    enum class State { Reading, Working, Writing };
    struct Connection {
        int fd = -1;
        int listener = 0;
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
    int listenerOf(int fd) const;
    void acceptAll(int listenFd, int listener);
    void readFrom(Connection& c);
    void finishReading(Connection& c, bool atEof);
    void startWriting(Connection& c);
    void writeTo(Connection& c);
    void closeConnection(int fd);
    void releaseBuffer(Connection& c);
    void collectFinished();
    void expire(std::chrono::steady_clock::time_point now);

    FrontOptions options_;
    Handler handler_;
    std::vector<int> listenFds_;
    std::vector<int> bound_;
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

// Installs SIGTERM/SIGINT handlers that call front.requestStop(), and ignores SIGPIPE.
void installStopSignals(HttpFront& front);

}  // namespace ixoserver
