#include "platform/hand_over_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/log_error.h"
#include "platform/hand_over_socket.h"
#include "platform/instance_lock.h"

namespace brindle {
namespace {

constexpr int kBacklog = 16;
// Connections taken per wake-up, so that a flood cannot hold the loop.
constexpr int kAcceptsPerWakeUp = 32;
// After accept failed for want of descriptors, the pending connection would
// wake the loop again at once; accepting rests this long instead.
constexpr int64_t kAcceptPauseMs = 100;

}  // namespace

struct THandOverServer::Connection {
  int Fd = -1;
  EventLoop::WatchId Watch = 0;
  EventLoop::TimerId Timer = 0;
  std::string Received;
  std::string Answer;  // set once the request is handled
  size_t AnswerSent = 0;
};

THandOverServer::THandOverServer(EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()), allowedUid_(geteuid()) {
  if (!loop_) throw std::logic_error("THandOverServer: no event loop");
}

THandOverServer::~THandOverServer() { Close(); }

bool THandOverServer::Listen(const TInstanceLock& lock) {
  Close();
  if (!lock.Held()) return false;
  const std::string path = HandOverSocketPath(lock.Directory());
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());

  // The lock is ours, so no live instance of this profile serves the path:
  // what is there is a dead one's socket. Anything else is left alone.
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode) || info.st_uid != geteuid() || unlink(path.c_str()) != 0) return false;
  } else if (errno != ENOENT) {
    return false;
  }

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return false;
  }
  // From here the file is ours: Close removes it.
  listenFd_ = fd;
  path_ = path;
  if (lstat(path.c_str(), &info) != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, kBacklog) != 0) {
    Close();
    return false;
  }
  socketInode_ = info.st_ino;
  socketDevice_ = info.st_dev;
  try {
    listenWatch_ = loop_->AddWatch(fd, EventLoop::kReadable, [this](unsigned) { AcceptAll(); },
                                   "THandOverServer.Accept");
  } catch (...) {
    LogError("THandOverServer.Listen");
    Close();
    return false;
  }
  return true;
}

void THandOverServer::Close() {
  loop_->CancelTimer(resumeTimer_);
  resumeTimer_ = 0;
  for (const auto& connection : connections_) {
    loop_->RemoveWatch(connection->Watch);
    loop_->CancelTimer(connection->Timer);
    close(connection->Fd);
  }
  connections_.clear();
  loop_->RemoveWatch(listenWatch_);
  listenWatch_ = 0;
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
  // Only our own socket file: a later instance may have replaced it.
  struct stat info;
  if (!path_.empty() && lstat(path_.c_str(), &info) == 0 && info.st_ino == socketInode_ &&
      info.st_dev == socketDevice_)
    unlink(path_.c_str());
  path_.clear();
  socketInode_ = 0;
  socketDevice_ = 0;
}

void THandOverServer::AcceptAll() {
  for (int i = 0; i < kAcceptsPerWakeUp; ++i) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        loop_->SetWatchEvents(listenWatch_, 0);
        resumeTimer_ = loop_->CallLater(
            kAcceptPauseMs,
            [this] {
              resumeTimer_ = 0;
              loop_->SetWatchEvents(listenWatch_, EventLoop::kReadable);
            },
            "THandOverServer.ResumeAccept");
      }
      return;
    }
    uid_t peer;
    if (connections_.size() >= kMaxConnections || !SocketPeerUid(fd, peer) || peer != allowedUid_) {
      close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    Connection* raw = connection.get();
    raw->Fd = fd;
    try {
      raw->Watch = loop_->AddWatch(
          fd, EventLoop::kReadable,
          [this, raw](unsigned) {
            if (raw->Answer.empty())
              OnReadable(raw);
            else
              OnWritable(raw);
          },
          "THandOverServer.Connection");
    } catch (...) {
      LogError("THandOverServer.Accept");
      close(fd);
      continue;
    }
    connections_.push_back(std::move(connection));
    raw->Timer = loop_->CallLater(
        kConnectionTimeoutMs,
        [this, raw] {
          raw->Timer = 0;
          Drop(raw);
        },
        "THandOverServer.TimeOut");
  }
}

void THandOverServer::OnReadable(Connection* connection) {
  char buffer[4096];
  for (;;) {
    const ssize_t count = recv(connection->Fd, buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (count <= 0) {
      Drop(connection);  // ended or broke before a whole request
      return;
    }
    connection->Received.append(buffer, static_cast<size_t>(count));
    THandOverRequest request;
    const THandOverDecode state = DecodeHandOverRequest(connection->Received, request);
    if (state == THandOverDecode::Incomplete) continue;
    if (state == THandOverDecode::Invalid) {
      Drop(connection);
      return;
    }
    int answer = 1;
    if (OnHandOver) {
      const TEventDepth::TRaising raising(events_);
      try {
        answer = OnHandOver(request);
      } catch (...) {
        LogError("THandOverServer.OnHandOver");
        answer = 1;
      }
      // The handler may have closed the server, and the connection with it.
      const bool open = std::any_of(connections_.begin(), connections_.end(),
                                    [connection](const auto& held) { return held.get() == connection; });
      if (!open) return;
    }
    connection->Answer = EncodeHandOverAnswer(answer);
    loop_->SetWatchEvents(connection->Watch, EventLoop::kWritable);
    OnWritable(connection);
    return;
  }
}

void THandOverServer::OnWritable(Connection* connection) {
  while (connection->AnswerSent < connection->Answer.size()) {
    const ssize_t count = send(connection->Fd, connection->Answer.data() + connection->AnswerSent,
                               connection->Answer.size() - connection->AnswerSent, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (count <= 0) break;
    connection->AnswerSent += static_cast<size_t>(count);
  }
  // Answered (what was sent stays readable after the close), or the peer
  // went away.
  Drop(connection);
}

void THandOverServer::Drop(Connection* connection) {
  auto found = std::find_if(connections_.begin(), connections_.end(),
                            [connection](const auto& held) { return held.get() == connection; });
  if (found == connections_.end()) return;
  loop_->RemoveWatch(connection->Watch);
  loop_->CancelTimer(connection->Timer);
  close(connection->Fd);
  connections_.erase(found);
}

}  // namespace brindle
