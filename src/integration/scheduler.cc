#include "integration/scheduler.h"

#include <cmath>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "core/settings_schema.h"
#include "core/timer.h"

namespace brindle {
namespace {

// The time of day in whole milliseconds, so that "exactly at the end time"
// compares equal instead of by the luck of floating point.
int64_t MsOfDay(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  return ((p.Hour * 60LL + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond;
}

// Sunday 0 .. Saturday 6; day 0, 30 December 1899, was a Saturday.
int DayOfWeek(TDateTime date) {
  const int64_t day = static_cast<int64_t>(std::floor(date));
  return static_cast<int>(((day - 1) % 7 + 7) % 7);
}

}  // namespace

TScheduler::TScheduler(EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()), timer_(std::make_unique<TTimer>(loop_)) {
  timer_->SetInterval(kCheckIntervalMs);
  timer_->OnTimer = [this] { Check(); };
  timer_->SetEnabled(true);
}

TScheduler::~TScheduler() = default;

void TScheduler::LoadSettings() {
  try {
    const TDateTime now = Now();
    for (int day = 0; day < 7; ++day) Weekdays[day] = Read(setting::ScheduledWeekly(day));
    FirstDay = Read(setting::ScheduledRecurrenceStartTime, now);
    LastDay = Read(setting::ScheduledRecurrenceNoEnd)
                  ? EncodeDateTime({.Year = 2999, .Month = 12, .Day = 31}).value_or(0)
                  : Read(setting::ScheduledRecurrenceEndTime, now);
    StartTime = Read(setting::StartTime, now);
    EndTime = Read(setting::EndTime, now);
    if (Read(setting::UseSchedule)) EnableScheduler();
    else DisableScheduler();
  } catch (...) {
    LogError("TScheduler.LoadSettings");
  }
}

void TScheduler::EnableScheduler() {
  disabled_ = false;
  Check();
}

void TScheduler::DisableScheduler() { disabled_ = true; }

void TScheduler::Check() {
  try {
    if (disabled_) return;
    const TDateTime now = DateTimeFromUnixMs(loop_->GetClock().WallMs());
    const TDateTime today = std::floor(now);
    const int64_t time = MsOfDay(now);
    // Outside the range of dates nothing starts and nothing stops.
    if (std::floor(FirstDay) > today || LastDay < today) return;

    const int64_t start = MsOfDay(StartTime);
    const int64_t end = MsOfDay(EndTime);
    const bool endsNextDay = end < start;
    const int weekday = DayOfWeek(today);
    const bool openedToday = start <= time && Weekdays[weekday] && (end >= time || endsNextDay);
    const bool openedYesterday = endsNextDay && end >= time && Weekdays[(weekday + 6) % 7];
    if (openedToday || openedYesterday) {
      if (!running_ && OnSchedulerTime) Raise(OnSchedulerTime, true);
      return;
    }
    if (running_ && OnSchedulerTimeOut) Raise(OnSchedulerTimeOut, false);
  } catch (...) {
    LogError("TScheduler.OnTimer");
  }
}

void TScheduler::Raise(const std::function<void()>& event, bool running) {
  // The flag changes first: a handler that reloads the settings checks
  // again, and must not raise the same event a second time.
  running_ = running;
  const auto handler = event;
  try {
    handler();
  } catch (...) {
    LogError("TScheduler.Event");
  }
}

}  // namespace brindle
