#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "engine/byte_count.h"

namespace brindle {

// Turns samples of a growing byte count into a rate text (kilobytes of 1024
// bytes per second, one decimal, "N/A" until two samples exist) and a
// time-left text, averaged over a moving window of the latest
// NumberOfValuesToMeasureOn - 2 samples.
class TTransferSpeed {
 public:
  // clock: the loop's clock (EventLoop::GetClock); it must outlive the meter.
  explicit TTransferSpeed(int numberOfValuesToMeasureOn, const Clock& clock = ProgramClock());

  // Adds a sample and recomputes the rate. When the window spans no time the
  // previous rate text stays.
  void Update(int64_t currentTransferCount);
  const std::string& TransferRate() const { return rate_; }
  // "HH:MM:SS" for bytesLeft at the window's rate; "N/A" with fewer than two
  // samples, nothing left, or no growth; "" when the window spans no time.
  std::string TimeLeft(int64_t bytesLeft) const;

  int NumberOfValuesToMeasureOn() const { return numberOfValuesToMeasureOn_; }
  int NumberOfSamples() const { return static_cast<int>(samples_.size()); }

 private:
  const Clock& clock_;
  std::deque<TByteCount> samples_;  // oldest first
  int numberOfValuesToMeasureOn_;
  std::string rate_ = "N/A";
};

}  // namespace brindle
