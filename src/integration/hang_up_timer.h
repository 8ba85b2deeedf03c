#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/date_time.h"

namespace brindle {

class EventLoop;
class TModemConnection;
class TTimer;

// The hang-up chosen in the "Hang Up On..." window: after the downloads (the
// after-downloads actions do it), at a time of day, or after a number of
// minutes. A timed hang-up fires once and is then disarmed.
class THangUpTimer {
 public:
  enum class TChoice { AfterDownloads, AtSpecificTime, AfterMinutes };

  // What the window shows.
  struct TShown {
    TChoice Choice = TChoice::AfterDownloads;
    int TimeIndex = 0;  // half-hour item, 0 ("00:00") to 47 ("23:30")
    int Minutes = 0;
  };

  THangUpTimer(TModemConnection& modem, EventLoop* loop = nullptr);  // nullptr: EventLoop::Current()
  ~THangUpTimer();
  THangUpTimer(const THangUpTimer&) = delete;
  THangUpTimer& operator=(const THangUpTimer&) = delete;

  // The three choices' settings, "HangUpTime1" as an item and the minutes
  // until "HangUpTime2".
  static TShown Load(TDateTime now);
  // The minutes field when it is left: 0 becomes 1.
  static std::string MinutesOnLeave(const std::string& text);
  // What OK says when the minutes text is no number.
  static std::string InvalidMinutes(const std::string& text) {
    return text.empty() ? "Please enter the number of minutes." : "\"" + text + "\" is not a valid number of minutes.";
  }
  // Milliseconds from now until the half-hour item; a time already past
  // today means tomorrow, one second before it.
  static int64_t IntervalUntil(TDateTime now, int timeIndex);

  // OK: writes the three choices, then arms the timer (the interval in
  // milliseconds) or, after the downloads, disarms it (nullopt). A minutes
  // text that is no number arms nothing and gives nullopt with ok false.
  std::optional<int64_t> Arm(TChoice choice, int timeIndex, const std::string& minutes, TDateTime now,
                             bool* ok = nullptr);
  bool Armed() const;
  int64_t Interval() const;

 private:
  TModemConnection& modem_;
  std::unique_ptr<TTimer> timer_;
};

}  // namespace brindle
