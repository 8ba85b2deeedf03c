#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/date_time.h"

namespace brindle {

class EventLoop;
class TTimer;

// Starts the scheduled downloads when the daily time window opens and stops
// the running ones when it closes, on the chosen weekdays within a range of
// dates. It knows nothing of downloads: it raises OnSchedulerTime and
// OnSchedulerTimeOut, whose handlers act on the download system.
class TScheduler {
 public:
  static constexpr int64_t kCheckIntervalMs = 60000;

  // The check timer runs from here on; the window is checked every minute
  // against the wall clock of the loop's clock.
  explicit TScheduler(EventLoop* loop = nullptr);  // nullptr: EventLoop::Current()
  ~TScheduler();
  TScheduler(const TScheduler&) = delete;
  TScheduler& operator=(const TScheduler&) = delete;

  // Reads the schedule settings of "Options", then enables the scheduler
  // when "UseSchedule" is set and disables it otherwise.
  void LoadSettings();

  // Enables and checks at once, so a window that is already open starts
  // without waiting for the next check.
  void EnableScheduler();
  // Leaves running downloads and the running flag alone: enabling again
  // outside the window stops them at the next check.
  void DisableScheduler();

  bool Disabled() const { return disabled_; }
  // OnSchedulerTime was raised and OnSchedulerTimeOut not yet.
  bool Running() const { return running_; }

  // Only the time of day counts of these two; a window whose end lies
  // before its start ends on the next day.
  TDateTime StartTime = 0;
  TDateTime EndTime = 0;
  // The range of dates: the first day's date part, and the last day as a
  // whole date-time (31 December 2999 for "no end").
  TDateTime FirstDay = 0;
  TDateTime LastDay = 0;
  // Sunday first.
  std::array<bool, 7> Weekdays{true, true, true, true, true, true, true};

  std::function<void()> OnSchedulerTime;
  std::function<void()> OnSchedulerTimeOut;

 private:
  void Check();
  void Raise(const std::function<void()>& event, bool running);

  EventLoop* loop_;
  std::unique_ptr<TTimer> timer_;
  bool running_ = false;
  bool disabled_ = false;
};

}  // namespace brindle
