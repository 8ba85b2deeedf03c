#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace brindle {

class EventLoop;
class TFileMirror;

// What one echo to a host gave.
struct TPingOutcome {
  int Replies = 0;          // 0: no reply (none in time, no address, no socket)
  int64_t RoundTripMs = 0;  // travel time of the reply
};

// Sends one echo to host and blocks until its outcome. Runs on a worker
// thread: it must not touch loop-owned objects.
using TPingFunction = std::function<TPingOutcome(const std::string& host, int timeOutMs, int ttl)>;

// The ICMP echo through TPing, names looked up with the resolver installed
// for sockets (read here, on the loop thread).
TPingFunction SystemPingFunction();

// One ping of one mirror's host on a worker thread of its own. The result
// comes back to the loop as a posted task, where UpdatePingTime writes the
// mirror's ping time and raises OnPingReply. Destroying the object cuts the
// worker off: its result is then dropped, whenever it arrives.
class TMirrorPing {
 public:
  static constexpr int kTimeOut = 1000;  // ms; slower answers count as none
  static constexpr int kTTL = 255;
  static constexpr int kNoPing = 9999;   // the ping time of a mirror without a usable answer

  // Starts the worker at once. ping: empty for SystemPingFunction().
  TMirrorPing(TFileMirror* theMirror, EventLoop& loop, TPingFunction ping = {});
  ~TMirrorPing();
  TMirrorPing(const TMirrorPing&) = delete;
  TMirrorPing& operator=(const TMirrorPing&) = delete;

  TFileMirror* Mirror() const { return mirror_; }
  void DetachMirror() { mirror_ = nullptr; }
  // What the ping gave, once OnPingReply was raised.
  int Replies() const { return outcome_.Replies; }
  int64_t RoundTripMs() const { return outcome_.RoundTripMs; }

  // Raised on the loop thread; the handler may destroy this object.
  std::function<void(TMirrorPing& mirrorPing)> OnPingReply;

 private:
  struct Shared;
  void UpdatePingTime(const TPingOutcome& outcome);

  TFileMirror* mirror_;
  TPingOutcome outcome_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace brindle
