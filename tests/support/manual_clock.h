#pragma once

#include <atomic>
#include <cstdint>

#include "core/clock.h"

namespace brindle {
class EventLoop;
}

namespace brindle::test {

// A clock that moves only when told. Attached to a loop, Advance() runs the
// timers that fall due on the way, each seeing the clock at its own deadline.
class ManualClock : public Clock {
 public:
  // 2026-01-01 00:00:00 UTC.
  static constexpr int64_t kDefaultWallMs = 1767225600000;

  explicit ManualClock(int64_t monotonicMs = 1000000, int64_t wallMs = kDefaultWallMs)
      : monotonic_(monotonicMs), wall_(wallMs) {}

  int64_t MonotonicMs() const override { return monotonic_.load(std::memory_order_relaxed); }
  int64_t WallMs() const override { return wall_.load(std::memory_order_relaxed); }

  // Moves the time without running anything (the wall clock moves along).
  void SetMonotonicMs(int64_t ms);
  void SetWallMs(int64_t ms) { wall_.store(ms, std::memory_order_relaxed); }

  void Attach(EventLoop& loop) { loop_ = &loop; }
  void Detach() { loop_ = nullptr; }

  // Moves the time ms forward. Attached: stops at every timer deadline on the
  // way (deadline order) and dispatches the loop there with RunOnce(0), then
  // at the target once more.
  void Advance(int64_t ms);

 private:
  std::atomic<int64_t> monotonic_;
  std::atomic<int64_t> wall_;
  EventLoop* loop_ = nullptr;
};

}  // namespace brindle::test
