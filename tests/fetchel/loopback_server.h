// A small HTTP/1.1 server on 127.0.0.1 for the download tests and the benchmark. Each request
// gets its own thread and is answered by the handler, which writes the raw response; every
// connection is closed after one response. The server stops (and unblocks stalled handlers)
// when it is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fetchel_test {

struct Request {
    std::string method;
    std::string target;  // the path and query as sent
};

class LoopbackServer;

// One accepted connection, as a handler sees it.
class Connection {
public:
    Connection(int fd, LoopbackServer& server) : fd_(fd), server_(server) {}

    // Sends all bytes; false once the client is gone.
    bool Send(std::string_view bytes);
    // Sends "HTTP/1.1 <status>" with Content-Length and the body.
    bool SendResponse(int status, std::string_view body,
                      std::string_view extraHeaders = {});
    // Sends only the status line and headers of a response whose body is contentLength bytes.
    bool SendHead(int status, std::uint64_t contentLength, std::string_view extraHeaders = {});
    // Makes the connection end, when the handler returns, with a TCP reset instead of an
    // orderly close.
    void Reset();
    // Waits until the server stops or the time is up (a stalling peer); true when it stopped.
    bool Stall(std::chrono::milliseconds atMost);
    // Sends piece every interval until the client is gone or the server stops (a trickling
    // peer), at most count times.
    void Trickle(std::string_view piece, std::chrono::milliseconds interval, int count);

private:
    int fd_;
    LoopbackServer& server_;
};

using Handler = std::function<void(Connection&, const Request&)>;

class LoopbackServer {
public:
    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Url(std::string_view target) const;

    // Returns when the server stops or the time is up; true when it stops.
    bool WaitForStop(std::chrono::milliseconds atMost);

private:
    void AcceptLoop();
    void Serve(int fd);

    static constexpr std::size_t kMaxConnections = 64;

    Handler handler_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable stopped_;
    std::set<int> openFds_;
    std::vector<std::thread> workers_;
    std::vector<std::thread::id> finished_;  // workers that are done, joined by the next accept
    std::thread acceptor_;
};

}  // namespace fetchel_test
