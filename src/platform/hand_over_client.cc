#include "platform/hand_over_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/clock.h"
#include "platform/hand_over_socket.h"
#include "platform/instance_lock.h"

namespace brindle {
namespace {

enum class Attempt { NoChannel, Failed, Answered };

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Waits for events on fd until deadline; false on time-out or error.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

Attempt TryHandOver(const std::string& socketPath, const std::string& frame, int64_t timeoutMs, int& answer) {
  sockaddr_un address{};
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return Attempt::NoChannel;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.Get() < 0) return Attempt::NoChannel;
  // A Unix stream connect completes at once or fails at once (EAGAIN: the
  // backlog is full), so a failure here means "not reachable now".
  if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return Attempt::NoChannel;
  uid_t peer;
  if (!SocketPeerUid(socket.Get(), peer) || peer != geteuid()) return Attempt::Failed;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max<int64_t>(timeoutMs, 0));
  size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t count = send(socket.Get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (count > 0) {
      sent += static_cast<size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && errno == EAGAIN) {
      if (!WaitFor(socket.Get(), POLLOUT, deadline)) return Attempt::Failed;
    } else {
      return Attempt::Failed;
    }
  }
  std::string reply;
  char buffer[256];
  for (;;) {
    const ssize_t count = recv(socket.Get(), buffer, sizeof buffer, 0);
    if (count > 0) {
      reply.append(buffer, static_cast<size_t>(count));
      const THandOverDecode state = DecodeHandOverAnswer(reply, answer);
      if (state == THandOverDecode::Complete) return Attempt::Answered;
      if (state == THandOverDecode::Invalid) return Attempt::Failed;
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && errno == EAGAIN) {
      if (!WaitFor(socket.Get(), POLLIN, deadline)) return Attempt::Failed;
    } else {
      return Attempt::Failed;
    }
  }
}

}  // namespace

std::optional<int> HandOver(const std::string& socketPath, const THandOverRequest& request, int64_t timeoutMs) {
  const std::string frame = EncodeHandOverRequest(request);
  if (frame.size() > kHandOverMaxFrame) return std::nullopt;
  int answer = 0;
  if (TryHandOver(socketPath, frame, timeoutMs, answer) != Attempt::Answered) return std::nullopt;
  return answer;
}

TInstanceStart StartOrHandOver(TInstanceLock& lock, const THandOverRequest& request, const THandOverWait& wait) {
  const TInstanceLock::TResult locked = lock.Acquire();
  if (locked == TInstanceLock::TResult::Acquired) return TInstanceStart::First;
  const std::string frame = EncodeHandOverRequest(request);
  // Too big to send: the running instance would refuse it anyway.
  if (frame.size() > kHandOverMaxFrame) return TInstanceStart::Ended;
  const std::string socketPath = HandOverSocketPath(lock.Directory());
  Clock& clock = wait.WaitClock ? *wait.WaitClock : ProgramClock();
  const int64_t deadline = clock.MonotonicMs() + wait.TimeoutMs;
  for (;;) {
    int answer = 0;
    switch (TryHandOver(socketPath, frame, wait.AnswerTimeoutMs, answer)) {
      case Attempt::Answered:
        return answer == 0 ? TInstanceStart::Further : TInstanceStart::HandedOver;
      case Attempt::Failed:
        // It may have taken the request before failing: trying again could
        // add the download twice.
        return TInstanceStart::Ended;
      case Attempt::NoChannel:
        break;
    }
    // With a lock file we cannot open, whether another instance runs cannot
    // be told: one look for its channel, so that such a profile does not
    // delay every start by the whole wait.
    if (locked == TInstanceLock::TResult::Failed) return TInstanceStart::Further;
    if (lock.Acquire() == TInstanceLock::TResult::Acquired) return TInstanceStart::First;
    const int64_t left = deadline - clock.MonotonicMs();
    if (left <= 0) return TInstanceStart::Ended;
    const int64_t pause = std::clamp<int64_t>(wait.PollMs, 1, left);
    if (wait.Pause)
      wait.Pause(pause);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
}

}  // namespace brindle
