#pragma once

#include <cstdint>
#include <functional>

#include "core/event_loop.h"

namespace brindle {

// A periodic timer in the manner of the Delphi TTimer: while Enabled and
// Interval > 0 it raises OnTimer every Interval milliseconds (by the loop's
// clock). Changing Interval of an enabled timer restarts it from now;
// enabling a disabled one starts it from now; setting a property to the value
// it has changes nothing. OnTimer may disable, re-time or destroy the timer.
// The loop must outlive the timer.
class TTimer {
 public:
  // nullptr: EventLoop::Current(), which must exist (std::logic_error).
  explicit TTimer(EventLoop* loop = nullptr);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  int64_t Interval() const { return interval_; }
  void SetInterval(int64_t ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  std::function<void()> OnTimer;

 private:
  void Restart();
  void Fire();

  EventLoop* loop_;
  int64_t interval_ = 1000;
  bool enabled_ = false;
  EventLoop::TimerId timerId_ = 0;
};

}  // namespace brindle
