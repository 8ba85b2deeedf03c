#pragma once

#include <cstdint>

namespace brindle {

// The source of time for the whole program. Time-outs, retries, countdowns
// and speed samples read it through the event loop, so tests can replace it
// with a clock they advance by hand.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a steady clock with an arbitrary epoch; never goes back.
  virtual int64_t MonotonicMs() const = 0;
  // Milliseconds since 1970-01-01 00:00 UTC (the wall clock).
  virtual int64_t WallMs() const = 0;
};

class SystemClock final : public Clock {
 public:
  int64_t MonotonicMs() const override;
  int64_t WallMs() const override;
};

// The clock the program reads "now" from (a SystemClock unless a test
// installed another). Passing nullptr restores the system clock.
Clock& ProgramClock();
void SetProgramClock(Clock* clock);

}  // namespace brindle
