// A small HTTP server for tests: listens on 127.0.0.1 on a port the kernel picks,
// records the raw bytes of every request it gets and answers with canned bytes.
//
//   testing_support::LoopbackServer server;                 // listening at once
//   server.setReply(LoopbackServer::httpReply("numhits=0\n"));
//   ... send to 127.0.0.1:server.port() ...
//   EXPECT_EQ(server.lastRequest(), "GET /x HTTP/1.0\r\n...");
//
// A request is taken as complete after its blank line plus Content-Length bytes of
// body (or when the client stops sending for a while). Each connection is served on
// its own thread, so several clients may talk to one server at once. The destructor
// wakes every waiting thread, closes all sockets and joins; a connection never lives
// longer than connectionLimit (30 s by default), so a test cannot hang on it.
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
#include <vector>

namespace testing_support {

class LoopbackServer {
  public:
    // What the server does with each connection.
    enum class Mode {
        Reply,              // read the request, send the reply, close (default)
        NeverAnswer,        // read the request, then keep the connection open silently
        CloseAtOnce,        // close right after accepting, reading nothing
        CloseAfterRequest,  // read the request, close without answering
        SlowDrip,           // like Reply, but the reply goes out in small timed pieces
    };
    // Builds the reply from the raw request bytes.
    using Handler = std::function<std::string(const std::string& request)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path = "/") const;

    void setMode(Mode mode);
    // The raw bytes (status line, headers, blank line, body) sent for every request
    // that finds no queued reply and no handler.
    void setReply(std::string raw);
    // Replies used once each, in order, before the handler and the default reply.
    void queueReply(std::string raw);
    void setHandler(Handler handler);
    // SlowDrip: pieces of chunkBytes with delay between them.
    void setDrip(std::size_t chunkBytes, std::chrono::milliseconds delay);
    // Upper bound on one connection's life.
    void setConnectionLimit(std::chrono::milliseconds limit);

    // Raw bytes of every request so far, in arrival order.
    std::vector<std::string> requests() const;
    std::size_t requestCount() const;
    std::string lastRequest() const;  // empty when none
    // Waits until at least count requests arrived; false on timeout.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Connections accepted so far (also those that sent nothing).
    std::size_t connectionCount() const;

    // "HTTP/1.0 <status> <reason>\r\nContent-Type: <type>\r\nContent-Length: N\r\n"
    // + extraHeaders (each ending in "\r\n") + "\r\n" + body.
    static std::string httpReply(const std::string& body,
                                 const std::string& contentType = "text/plain", int status = 200,
                                 const std::string& extraHeaders = "");
    // Length of a complete request at the start of bytes (headers, blank line and
    // Content-Length body), or 0 when more bytes are needed.
    static std::size_t completeRequestLength(const std::string& bytes);

  private:
    void acceptLoop();
    void serve(int fd);
    std::string replyFor(const std::string& request);
    bool sendAll(int fd, const std::string& bytes, std::chrono::steady_clock::time_point deadline);
    // Waits until fd is ready for events or the server stops; false on stop/timeout.
    bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline);

    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    Mode mode_ = Mode::Reply;
    std::string defaultReply_;
    std::deque<std::string> queued_;
    Handler handler_;
    std::size_t dripChunk_ = 16;
    std::chrono::milliseconds dripDelay_{20};
    std::chrono::milliseconds connectionLimit_{30000};
    std::vector<std::string> requests_;
    std::size_t connections_ = 0;
    // Connection threads; finished ones are joined as new connections arrive.
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;
    std::thread acceptThread_;
};

}  // namespace testing_support
