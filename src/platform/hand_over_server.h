#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/event_depth.h"
#include "core/event_loop.h"
#include "platform/hand_over_request.h"

namespace brindle {

class TInstanceLock;

// The first instance's end of the hand-over channel: a Unix stream socket
// watched on the event loop. Every connection is read with the loop and
// never blocks it; a peer of another user, a malformed or oversized
// request, too many open connections, or a connection that has not sent
// its request within kConnectionTimeoutMs (by the loop's clock) is
// dropped. Each request is answered with what OnHandOver returns.
class THandOverServer {
 public:
  static constexpr size_t kMaxConnections = 8;
  static constexpr int64_t kConnectionTimeoutMs = 5000;

  // nullptr: EventLoop::Current(), which must exist (std::logic_error).
  explicit THandOverServer(EventLoop* loop = nullptr);
  ~THandOverServer();
  THandOverServer(const THandOverServer&) = delete;
  THandOverServer& operator=(const THandOverServer&) = delete;

  // Opens the channel of lock's profile. Refused unless lock is held: only
  // then can a socket file at the path be a dead instance's leftover, which
  // is replaced. False when the channel cannot be opened.
  bool Listen(const TInstanceLock& lock);
  // Closes the channel and every connection; the socket file goes with it.
  void Close();
  bool Listening() const { return listenFd_ >= 0; }
  const std::string& SocketPath() const { return path_; }

  // Peers must run as this user (ours by default); tests set another to
  // play a foreign peer.
  void SetAllowedUid(uid_t uid) { allowedUid_ = uid; }

  // A request arrived (an empty plain text too); returns the answer.
  // Without a handler the answer is 1. A handler that throws is logged and
  // answered 1. The handler may destroy the server.
  std::function<int(const THandOverRequest& request)> OnHandOver;

 private:
  struct Connection;

  void AcceptAll();
  void OnReadable(Connection* connection);
  void OnWritable(Connection* connection);
  void Drop(Connection* connection);

  EventLoop* loop_;
  uid_t allowedUid_;
  std::string path_;
  ino_t socketInode_ = 0;
  dev_t socketDevice_ = 0;
  int listenFd_ = -1;
  EventLoop::WatchId listenWatch_ = 0;
  EventLoop::TimerId resumeTimer_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
  TEventDepth events_{"THandOverServer"};
};

}  // namespace brindle
