#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"

namespace brindle::test {

// A minimal HTTP server on 127.0.0.1 for the client's tests, on the test's
// own loop: every connection reads a request head (and a body of the
// announced Content-Length), records it, then writes its canned answer and,
// unless told otherwise, closes.
class CannedServer {
 public:
  struct Answer {
    std::string bytes;
    bool close = true;  // false: keep the connection open after the answer
  };

  explicit CannedServer(EventLoop& loop) : loop_(loop) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listenFd_, 64);
    socklen_t length = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    listenWatch_ = loop_.AddWatch(listenFd_, EventLoop::kReadable, [this](unsigned) { AcceptOne(); }, "CannedServer");
  }

  ~CannedServer() {
    for (auto& c : connections_) Drop(*c);
    loop_.RemoveWatch(listenWatch_);
    ::close(listenFd_);
  }

  int Port() const { return port_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Answers in connection order; connections past the list get the last one.
  void AddAnswer(std::string bytes, bool close = true) { answers_.push_back({std::move(bytes), close}); }

  size_t ConnectionCount() const { return connections_.size(); }
  // What connection i sent (head and body), as far as received.
  std::string Request(size_t i) const { return i < connections_.size() ? connections_[i]->received : ""; }
  // Whether connection i was closed by the client (seen as end of stream).
  bool PeerClosed(size_t i) const { return i < connections_.size() && connections_[i]->peerClosed; }

  // Further bytes on an open connection; closing it.
  void Write(size_t i, const std::string& bytes) {
    Connection& c = *connections_[i];
    c.out += bytes;
    Flush(c);
  }
  void Close(size_t i) {
    Connection& c = *connections_[i];
    c.closeAfterFlush = true;
    Flush(c);
  }

 private:
  struct Connection {
    int fd = -1;
    EventLoop::WatchId watch = 0;
    std::string received;
    std::string out;
    bool answered = false;
    bool closeAfterFlush = false;
    bool peerClosed = false;
  };

  void AcceptOne() {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    Connection* raw = c.get();
    c->watch = loop_.AddWatch(fd, EventLoop::kReadable, [this, raw](unsigned ev) { OnReady(*raw, ev); },
                              "CannedServer.Connection");
    connections_.push_back(std::move(c));
  }

  void OnReady(Connection& c, unsigned ev) {
    if (ev & EventLoop::kWritable) Flush(c);
    if (c.fd < 0 || !(ev & EventLoop::kReadable)) return;
    char buffer[65536];
    ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      if (n < 0 && errno == EAGAIN) return;
      c.peerClosed = true;
      Drop(c);
      return;
    }
    c.received.append(buffer, static_cast<size_t>(n));
    if (!c.answered && RequestComplete(c.received)) {
      c.answered = true;
      size_t index = ConnectionIndex(c);
      const Answer& answer = answers_.empty() ? Answer{} : answers_[std::min(index, answers_.size() - 1)];
      c.out += answer.bytes;
      c.closeAfterFlush = answer.close;
      Flush(c);
    }
  }

  static bool RequestComplete(const std::string& received) {
    size_t end = received.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    size_t length = 0;
    size_t field = received.find("Content-Length: ");
    if (field != std::string::npos && field < end) length = std::stoul(received.substr(field + 16));
    return received.size() >= end + 4 + length;
  }

  size_t ConnectionIndex(const Connection& c) const {
    for (size_t i = 0; i < connections_.size(); ++i)
      if (connections_[i].get() == &c) return i;
    return 0;
  }

  void Flush(Connection& c) {
    while (c.fd >= 0 && !c.out.empty()) {
      ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
      if (n <= 0) {
        if (n < 0 && errno == EAGAIN) {
          loop_.SetWatchEvents(c.watch, EventLoop::kReadable | EventLoop::kWritable);
          return;
        }
        Drop(c);
        return;
      }
      c.out.erase(0, static_cast<size_t>(n));
    }
    if (c.fd < 0) return;
    loop_.SetWatchEvents(c.watch, EventLoop::kReadable);
    if (c.closeAfterFlush) Drop(c);
  }

  void Drop(Connection& c) {
    if (c.fd < 0) return;
    loop_.RemoveWatch(c.watch);
    ::close(c.fd);
    c.fd = -1;
  }

  EventLoop& loop_;
  int listenFd_ = -1;
  int port_ = 0;
  EventLoop::WatchId listenWatch_ = 0;
  std::vector<Answer> answers_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

// Runs the loop until done() holds; false when it did not within maxPasses
// (each pass waits at most 2 s for a descriptor, so a hang fails the test
// instead of blocking it).
inline bool RunUntil(EventLoop& loop, const std::function<bool()>& done, int maxPasses = 200) {
  for (int i = 0; i < maxPasses; ++i) {
    if (done()) return true;
    loop.RunOnce(2000);
  }
  return done();
}

}  // namespace brindle::test
