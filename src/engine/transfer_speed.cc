#include "engine/transfer_speed.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/log_error.h"
#include "core/presentation.h"

namespace brindle {

namespace {

// Fixed-point with one decimal and "." whatever the locale (a GUI sets the
// user's locale, and the texts are parsed back with ".").
std::string OneDecimal(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
  return std::string(text, result.ptr);
}

}  // namespace

TTransferSpeed::TTransferSpeed(int numberOfValuesToMeasureOn, const Clock& clock)
    : clock_(clock), numberOfValuesToMeasureOn_(numberOfValuesToMeasureOn) {}

void TTransferSpeed::Update(int64_t currentTransferCount) {
  try {
    if (!samples_.empty() && static_cast<int64_t>(samples_.size()) >= int64_t{numberOfValuesToMeasureOn_} - 2)
      samples_.pop_front();
    samples_.emplace_back(currentTransferCount, clock_);
    if (samples_.size() < 2) {
      rate_ = "N/A";
      return;
    }
    const int64_t ms = samples_.back().TimeMs() - samples_.front().TimeMs();
    if (ms <= 0) {
      LogError("TTransferSpeed.Update", "two samples at the same moment");
      return;
    }
    // A count that went down (a part refilled from its first byte) is no
    // negative speed.
    const int64_t bytes = std::max<int64_t>(0, samples_.back().Count() - samples_.front().Count());
    rate_ = OneDecimal(static_cast<double>(bytes) / static_cast<double>(ms) * 1000.0 / 1024.0);
  } catch (...) {
    LogError("TTransferSpeed.Update");
  }
}

std::string TTransferSpeed::TimeLeft(int64_t bytesLeft) const {
  try {
    if (samples_.size() < 2 || bytesLeft <= 0) return "N/A";
    const int64_t ms = samples_.back().TimeMs() - samples_.front().TimeMs();
    if (ms <= 0) {
      LogError("TTransferSpeed.TimeLeft", "two samples at the same moment");
      return "";
    }
    const int64_t bytes = samples_.back().Count() - samples_.front().Count();
    if (bytes <= 0) return "N/A";
    const double bytesPerSecond = static_cast<double>(bytes) / (static_cast<double>(ms) / 1000.0);
    // Halves to even (the default rounding mode); capped so that a huge
    // remainder at a trickle cannot overflow the conversion.
    const double seconds = std::nearbyint(static_cast<double>(bytesLeft) / bytesPerSecond);
    constexpr double kMaxSeconds = 1e15;
    return SecondsToTimeString(static_cast<int64_t>(std::min(seconds, kMaxSeconds)));
  } catch (...) {
    LogError("TTransferSpeed.TimeLeft");
    return "";
  }
}

}  // namespace brindle
