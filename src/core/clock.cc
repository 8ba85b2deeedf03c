#include "core/clock.h"

#include <atomic>
#include <chrono>

namespace brindle {

int64_t SystemClock::MonotonicMs() const {
  // steady_clock is CLOCK_MONOTONIC on Linux: the event loop arms its timerfd
  // on that clock with the deadlines read here.
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t SystemClock::WallMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace {

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<Clock*> g_programClock{nullptr};

}  // namespace

Clock& ProgramClock() {
  Clock* clock = g_programClock.load(std::memory_order_acquire);
  return clock ? *clock : TheSystemClock();
}

void SetProgramClock(Clock* clock) { g_programClock.store(clock, std::memory_order_release); }

}  // namespace brindle
