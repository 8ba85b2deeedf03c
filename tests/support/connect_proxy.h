#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "support/fault_http_server.h"

namespace brindle::test {

// An HTTP proxy on 127.0.0.1 (a free port), on the caller's event loop, that
// serves CONNECT only: it opens a tunnel to the named port on loopback and
// relays the bytes both ways, so TLS runs end to end through it.
class ConnectProxy {
 public:
  explicit ConnectProxy(EventLoop& loop);
  ~ConnectProxy();
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  uint16_t Port() const { return port_; }
  // Every CONNECT gets this whole answer (head and body) instead of a tunnel.
  void Refuse(std::string answer) { refusal_ = std::move(answer); }
  // The CONNECT requests as read.
  const std::vector<HttpRequest>& Requests() const { return requests_; }

 private:
  struct Tunnel;

  void OnListen();
  void OnClient(int id, unsigned events);
  void OnTarget(int id, unsigned events);
  void Open(int id, Tunnel& t, const HttpRequest& request);
  // Moves bytes from one side to the other's queue; false at its end.
  bool Pump(int from, std::string& to);
  void Flush(int id);
  void Close(int id);

  EventLoop& loop_;
  int listenFd_ = -1;
  EventLoop::WatchId listenWatch_ = 0;
  uint16_t port_ = 0;
  std::string refusal_;
  std::vector<HttpRequest> requests_;
  std::map<int, std::unique_ptr<Tunnel>> tunnels_;
  int nextId_ = 0;
};

}  // namespace brindle::test
