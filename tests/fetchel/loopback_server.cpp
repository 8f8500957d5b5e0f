#include "loopback_server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fetchel_test {
namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;

std::string StatusLine(int status) {
    const char* reason = status == 200 ? "OK"
                         : status == 301 ? "Moved Permanently"
                         : status == 302 ? "Found"
                         : status == 404 ? "Not Found"
                         : status == 500 ? "Internal Server Error"
                                         : "Status";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
}

// Reads up to the blank line that ends the request head; false for anything else.
bool ReadRequest(int fd, Request& request) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (head.size() > kMaxRequestHead) return false;
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    const auto firstSpace = head.find(' ');
    const auto secondSpace = head.find(' ', firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos) return false;
    request.method = head.substr(0, firstSpace);
    request.target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    return true;
}

}  // namespace

bool Connection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool Connection::SendHead(int status, std::uint64_t contentLength, std::string_view extraHeaders) {
    std::string head = StatusLine(status);
    head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    head += "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    head += extraHeaders;
    head += "\r\n";
    return Send(head);
}

bool Connection::SendResponse(int status, std::string_view body, std::string_view extraHeaders) {
    return SendHead(status, body.size(), extraHeaders) && Send(body);
}

void Connection::Reset() {
    const linger abort{1, 0};
    // With a zero linger time, the close that ends the connection sends RST instead of FIN.
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

bool Connection::Stall(std::chrono::milliseconds atMost) { return server_.WaitForStop(atMost); }

void Connection::Trickle(std::string_view piece, std::chrono::milliseconds interval, int count) {
    for (int i = 0; i < count && Send(piece) && !Stall(interval); ++i) {
    }
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket: " + std::string(strerror(errno)));
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 64) != 0) {
        close(listenFd_);
        throw std::runtime_error("bind/listen on 127.0.0.1: " + std::string(strerror(errno)));
    }
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const int fd : openFds_) shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    acceptor_.join();
    for (auto& worker : workers_) worker.join();
    close(listenFd_);
}

std::string LoopbackServer::Url(std::string_view target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

bool LoopbackServer::WaitForStop(std::chrono::milliseconds atMost) {
    std::unique_lock lock(mutex_);
    return stopped_.wait_for(lock, atMost, [this] { return stopping_.load(); });
}

void LoopbackServer::AcceptLoop() {
    while (!stopping_) {
        pollfd waiting{listenFd_, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        if (stopping_ || openFds_.size() >= kMaxConnections) {
            close(fd);
            continue;
        }
        // A long run of tests makes thousands of connections: the threads that served them are
        // joined as they finish, or their stacks would use up the process's mappings.
        for (const std::thread::id done : finished_) {
            const auto worker = std::find_if(workers_.begin(), workers_.end(),
                                             [done](const std::thread& t) { return t.get_id() == done; });
            if (worker != workers_.end()) {
                worker->join();
                workers_.erase(worker);
            }
        }
        finished_.clear();
        openFds_.insert(fd);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void LoopbackServer::Serve(int fd) {
    const timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    Request request;
    if (ReadRequest(fd, request)) {
        Connection connection(fd, *this);
        handler_(connection, request);
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(fd);
    close(fd);
    finished_.push_back(std::this_thread::get_id());
}

}  // namespace fetchel_test
