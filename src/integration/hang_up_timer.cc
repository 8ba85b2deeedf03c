#include "integration/hang_up_timer.h"

#include <charconv>
#include <climits>
#include <cmath>

#include "core/log_error.h"
#include "core/settings_schema.h"
#include "core/timer.h"
#include "manager/modem_connection.h"

namespace brindle {
namespace {

constexpr int64_t kSecondsPerDay = 24 * 3600;

int64_t SecondOfDay(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  return (p.Hour * 60LL + p.Minute) * 60 + p.Second;
}

}  // namespace

THangUpTimer::THangUpTimer(TModemConnection& modem, EventLoop* loop)
    : modem_(modem), timer_(std::make_unique<TTimer>(loop)) {
  // Nothing acts on it; written as every start does.
  Write(setting::HangUpOn, false);
  timer_->OnTimer = [this] {
    timer_->SetEnabled(false);
    modem_.Disconnect();
  };
}

THangUpTimer::~THangUpTimer() = default;

THangUpTimer::TShown THangUpTimer::Load(TDateTime now) {
  TShown shown;
  if (Read(setting::AfterDownloadsCompletedAtHangUp)) {
    shown.Choice = TChoice::AfterDownloads;
  } else if (Read(setting::AtSpecificTime)) {
    shown.Choice = TChoice::AtSpecificTime;
  } else {
    shown.Choice = TChoice::AfterMinutes;
  }
  // Only a time on the half hour matches an item.
  const int64_t second = SecondOfDay(Read(setting::HangUpTime1, now));
  shown.TimeIndex = second % 1800 < 60 ? static_cast<int>(second / 1800) : 0;
  const int64_t until = std::llround((Read(setting::HangUpTime2, now) - now) * kSecondsPerDay);
  shown.Minutes = until > 0 ? static_cast<int>(std::min<int64_t>(until / 60, INT_MAX)) : 0;
  return shown;
}

std::string THangUpTimer::MinutesOnLeave(const std::string& text) {
  int value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value == 0 ? "1" : text;
}

int64_t THangUpTimer::IntervalUntil(TDateTime now, int timeIndex) {
  const int64_t target = timeIndex * 1800LL;
  const int64_t current = SecondOfDay(now);
  if (current <= target) return (target - current) * 1000;
  return ((kSecondsPerDay - 1 - current) + target) * 1000;
}

std::optional<int64_t> THangUpTimer::Arm(TChoice choice, int timeIndex, const std::string& minutes, TDateTime now,
                                         bool* ok) {
  if (ok) *ok = true;
  Write(setting::AfterDownloadsCompletedAtHangUp, choice == TChoice::AfterDownloads);
  Write(setting::AtSpecificTime, choice == TChoice::AtSpecificTime);
  Write(setting::AfterNumberOfMinutes, choice == TChoice::AfterMinutes);
  int64_t interval = 0;
  if (choice == TChoice::AfterDownloads) {
    timer_->SetEnabled(false);
    return std::nullopt;
  }
  if (choice == TChoice::AtSpecificTime) {
    interval = IntervalUntil(now, timeIndex);
  } else {
    int count = 0;
    const auto [end, error] = std::from_chars(minutes.data(), minutes.data() + minutes.size(), count);
    if (minutes.empty() || error != std::errc() || end != minutes.data() + minutes.size() || count < 0) {
      if (ok) *ok = false;
      return std::nullopt;
    }
    interval = count * 60000LL;
  }
  // A timer due now still waits for the loop's next turn.
  timer_->SetEnabled(false);
  timer_->SetInterval(std::max<int64_t>(interval, 1));
  timer_->SetEnabled(true);
  return interval;
}

bool THangUpTimer::Armed() const { return timer_->Enabled(); }

int64_t THangUpTimer::Interval() const { return timer_->Interval(); }

}  // namespace brindle
