#include "support/manual_clock.h"

#include <gtest/gtest.h>

#include "core/event_loop.h"

namespace brindle::test {

void ManualClock::SetMonotonicMs(int64_t ms) {
  int64_t delta = ms - MonotonicMs();
  monotonic_.store(ms, std::memory_order_relaxed);
  wall_.fetch_add(delta, std::memory_order_relaxed);
}

void ManualClock::Advance(int64_t ms) {
  const int64_t target = MonotonicMs() + ms;
  if (loop_) {
    // A timer that keeps re-adding itself with no delay would hold time still.
    constexpr int kMaxSteps = 1000000;
    int steps = 0;
    for (;;) {
      std::optional<int64_t> deadline = loop_->NextTimerDeadline();
      if (!deadline || *deadline > target) break;
      if (++steps > kMaxSteps) {
        ADD_FAILURE() << "ManualClock::Advance: timers keep falling due without time passing";
        break;
      }
      if (*deadline > MonotonicMs()) SetMonotonicMs(*deadline);
      loop_->RunOnce(0);
    }
  }
  if (target > MonotonicMs()) SetMonotonicMs(target);
  if (loop_) loop_->RunOnce(0);
}

}  // namespace brindle::test
