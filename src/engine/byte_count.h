#pragma once

#include <cstdint>

#include "core/clock.h"

namespace brindle {

// One sample of a growing byte count, stamped with the monotonic time it was
// taken at, so a sample pair across midnight or a wall-clock change still
// measures the real interval.
class TByteCount {
 public:
  TByteCount(int64_t count, const Clock& clock) : count_(count), timeMs_(clock.MonotonicMs()) {}

  int64_t Count() const { return count_; }
  int64_t TimeMs() const { return timeMs_; }

 private:
  int64_t count_;
  int64_t timeMs_;
};

}  // namespace brindle
