#include "support/connect_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/broken_pipe_signal.h"
#include "support/loopback_port.h"

namespace brindle::test {

struct ConnectProxy::Tunnel {
  int Client = -1;
  int Target = -1;
  EventLoop::WatchId ClientWatch = 0;
  EventLoop::WatchId TargetWatch = 0;
  std::string Head;      // the CONNECT request while it arrives
  bool Open = false;
  std::string ToClient;
  std::string ToTarget;
  bool Ending = false;   // one side ended: close once the other has all
};

namespace {

// The whole text, on a socket that takes it at once (small answers).
void SendAll(int fd, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

ConnectProxy::ConnectProxy(EventLoop& loop) : loop_(loop) {
  IgnoreBrokenPipeSignal();
  listenFd_ = ListenOnLoopback(port_, "ConnectProxy");
  listenWatch_ = loop_.AddWatch(listenFd_, EventLoop::kReadable, [this](unsigned) { OnListen(); }, "ConnectProxy");
}

ConnectProxy::~ConnectProxy() {
  while (!tunnels_.empty()) Close(tunnels_.begin()->first);
  loop_.RemoveWatch(listenWatch_);
  close(listenFd_);
}

void ConnectProxy::OnListen() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const int id = ++nextId_;
    auto t = std::make_unique<Tunnel>();
    t->Client = fd;
    t->ClientWatch = loop_.AddWatch(fd, EventLoop::kReadable, [this, id](unsigned e) { OnClient(id, e); },
                                    "ConnectProxy.Client");
    tunnels_[id] = std::move(t);
  }
}

bool ConnectProxy::Pump(int from, std::string& to) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = recv(from, buffer, sizeof buffer, 0);
    if (n > 0) {
      to.append(buffer, static_cast<size_t>(n));
      continue;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
  }
}

void ConnectProxy::OnClient(int id, unsigned events) {
  auto it = tunnels_.find(id);
  if (it == tunnels_.end()) return;
  Tunnel& t = *it->second;
  if (events & EventLoop::kReadable) {
    std::string& into = t.Open ? t.ToTarget : t.Head;
    if (!Pump(t.Client, into)) t.Ending = true;
    if (!t.Open) {
      const size_t end = t.Head.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (t.Ending) Close(id);
        return;
      }
      HttpRequest request;
      request.Raw = t.Head.substr(0, end + 4);
      t.ToTarget = t.Head.substr(end + 4);
      const std::vector<std::string> lines = request.Lines();
      if (lines.empty()) return Close(id);
      const std::string& line = lines.front();
      const size_t space = line.find(' ');
      request.Method = line.substr(0, space);
      request.Target = space == std::string::npos ? "" : line.substr(space + 1, line.find(' ', space + 1) - space - 1);
      requests_.push_back(request);
      Open(id, t, request);
      if (!t.Open) return Close(id);
    }
  }
  Flush(id);
}

void ConnectProxy::Open(int id, Tunnel& t, const HttpRequest& request) {
  if (!refusal_.empty() || request.Method != "CONNECT") {
    SendAll(t.Client, refusal_.empty() ? "HTTP/1.0 405 Method Not Allowed\r\n\r\n" : refusal_);
    return;
  }
  const size_t colon = request.Target.rfind(':');
  const std::string host = request.Target.substr(0, colon);
  const int port = colon == std::string::npos ? 0 : std::atoi(request.Target.c_str() + colon + 1);
  const bool loopback = host == "127.0.0.1" || host == "localhost";
  t.Target = loopback && port > 0 ? ConnectToLoopback(static_cast<uint16_t>(port)) : -1;
  if (t.Target < 0) {
    SendAll(t.Client, "HTTP/1.0 502 Bad Gateway\r\n\r\n");
    return;
  }
  t.Open = true;
  t.ToClient = "HTTP/1.0 200 Connection established\r\n\r\n";
  t.TargetWatch = loop_.AddWatch(t.Target, EventLoop::kReadable, [this, id](unsigned e) { OnTarget(id, e); },
                                 "ConnectProxy.Target");
}

void ConnectProxy::OnTarget(int id, unsigned events) {
  auto it = tunnels_.find(id);
  if (it == tunnels_.end()) return;
  Tunnel& t = *it->second;
  if ((events & EventLoop::kReadable) && !Pump(t.Target, t.ToClient)) t.Ending = true;
  Flush(id);
}

void ConnectProxy::Flush(int id) {
  auto it = tunnels_.find(id);
  if (it == tunnels_.end()) return;
  Tunnel& t = *it->second;
  const auto drain = [](int fd, std::string& out) {
    while (!out.empty()) {
      const ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL);
      if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
      out.erase(0, static_cast<size_t>(n));
    }
    return true;
  };
  if (!drain(t.Client, t.ToClient) || (t.Target >= 0 && !drain(t.Target, t.ToTarget))) return Close(id);
  if (t.Ending && t.ToClient.empty() && t.ToTarget.empty()) return Close(id);
  // After an end only the rest is delivered: an ended side stays readable.
  const unsigned read = t.Ending ? 0u : EventLoop::kReadable;
  loop_.SetWatchEvents(t.ClientWatch, read | (t.ToClient.empty() ? 0u : EventLoop::kWritable));
  if (t.Target >= 0) loop_.SetWatchEvents(t.TargetWatch, read | (t.ToTarget.empty() ? 0u : EventLoop::kWritable));
}

void ConnectProxy::Close(int id) {
  auto it = tunnels_.find(id);
  if (it == tunnels_.end()) return;
  Tunnel& t = *it->second;
  loop_.RemoveWatch(t.ClientWatch);
  shutdown(t.Client, SHUT_WR);
  close(t.Client);
  if (t.Target >= 0) {
    loop_.RemoveWatch(t.TargetWatch);
    close(t.Target);
  }
  tunnels_.erase(it);
}

}  // namespace brindle::test
