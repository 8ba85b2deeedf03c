#include "integration/scheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/date_time.h"
#include "core/event_loop.h"
#include "core/settings.h"
#include "support/manager_test.h"

namespace brindle {
namespace {

// 2026-01-03 is a Saturday, 01-04 a Sunday, 01-05 a Monday.
TDateTime At(const std::string& text) {
  const std::optional<TDateTime> value = TextToDateTime(text);
  EXPECT_TRUE(value) << text;
  return value.value_or(0);
}

TDateTime TimeOfDay(const std::string& hhmm) { return At("1899-12-30 " + hhmm); }

struct TStep {
  const char* When;  // local time of a check
  bool Running;
  int Starts;  // events so far
  int Stops;
};

class SchedulerTest : public test::ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    clock_.Attach(loop_);
    scheduler_ = std::make_unique<TScheduler>(&loop_);
    scheduler_->OnSchedulerTime = [this] { ++starts_; };
    scheduler_->OnSchedulerTimeOut = [this] { ++stops_; };
  }
  void TearDown() override {
    scheduler_.reset();
    clock_.Detach();
    ManagerTest::TearDown();
  }
  void SetWall(const std::string& when) { clock_.SetWallMs(UnixMsFromDateTime(At(when))); }
  // Runs the one periodic check, at local time when.
  void CheckAt(const std::string& when) {
    clock_.SetWallMs(UnixMsFromDateTime(At(when)) - TScheduler::kCheckIntervalMs);
    clock_.Advance(TScheduler::kCheckIntervalMs);
  }
  void Window(const std::string& start, const std::string& end, std::vector<int> days) {
    scheduler_->StartTime = TimeOfDay(start);
    scheduler_->EndTime = TimeOfDay(end);
    scheduler_->FirstDay = At("2026-01-01 00:00");
    scheduler_->LastDay = At("2999-12-31 00:00");
    scheduler_->Weekdays.fill(false);
    for (int day : days) scheduler_->Weekdays[day] = true;
  }
  void Walk(const std::vector<TStep>& steps) {
    for (const TStep& step : steps) {
      SCOPED_TRACE(step.When);
      CheckAt(step.When);
      EXPECT_EQ(scheduler_->Running(), step.Running);
      EXPECT_EQ(starts_, step.Starts);
      EXPECT_EQ(stops_, step.Stops);
    }
  }

  EventLoop loop_{clock_};
  std::unique_ptr<TScheduler> scheduler_;
  int starts_ = 0;
  int stops_ = 0;
};

TEST_F(SchedulerTest, WindowAcrossMidnightStartsOnTheTickedDayOnlyAndEndsAfterItsEnd) {
  Window("22:00", "06:00", {1});  // Monday
  Walk({
      {"2026-01-05 21:59", false, 0, 0},
      {"2026-01-05 22:00", true, 1, 0},  // the start is inside
      {"2026-01-05 23:59", true, 1, 0},
      {"2026-01-06 00:00", true, 1, 0},
      {"2026-01-06 06:00", true, 1, 0},  // so is the end
      {"2026-01-06 06:01", false, 1, 1},
      {"2026-01-06 22:00", false, 1, 1},  // Tuesday is not ticked
      {"2026-01-07 03:00", false, 1, 1},  // nor was Monday yesterday
      {"2026-01-12 22:00", true, 2, 1},
  });
}

TEST_F(SchedulerTest, TheDayBeforeSundayIsSaturday) {
  Window("22:00", "06:00", {6});  // Saturday
  Walk({
      {"2026-01-04 05:00", true, 1, 0},  // opened Saturday night
      {"2026-01-04 06:01", false, 1, 1},
      {"2026-01-04 22:00", false, 1, 1},
  });
}

TEST_F(SchedulerTest, OutsideTheRangeOfDatesNothingStartsOrStops) {
  Window("08:00", "17:00", {0, 1, 2, 3, 4, 5, 6});
  scheduler_->FirstDay = At("2026-01-05 15:30");  // its date counts
  scheduler_->LastDay = At("2026-01-06 00:00");
  Walk({
      {"2026-01-04 12:00", false, 0, 0},
      {"2026-01-05 08:00", true, 1, 0},
      {"2026-01-05 17:01", false, 1, 1},
      {"2026-01-06 16:59", true, 2, 1},
      // The range ended at midnight: what runs is left running.
      {"2026-01-07 17:30", true, 2, 1},
      {"2026-01-08 12:00", true, 2, 1},
  });
}

TEST_F(SchedulerTest, LoadedSettingsEnableInsideAnOpenWindowAndStartAtOnce) {
  WriteDateTime(kOptionsSection, "StartTime", TimeOfDay("08:00"));
  WriteDateTime(kOptionsSection, "EndTime", TimeOfDay("17:00"));
  WriteDateTime(kOptionsSection, "ScheduledRecurrence_StartTime", At("2026-01-01 00:00"));
  WriteBool(kOptionsSection, "ScheduledWeekly_Mon", true);
  SetWall("2026-01-05 12:00");

  scheduler_->LoadSettings();  // "UseSchedule" is off
  EXPECT_TRUE(scheduler_->Disabled());
  EXPECT_EQ(starts_, 0);
  EXPECT_EQ(scheduler_->Weekdays, (std::array<bool, 7>{false, true, false, false, false, false, false}));
  EXPECT_EQ(scheduler_->LastDay, At("2999-12-31 00:00"));

  WriteBool(kOptionsSection, "UseSchedule", true);
  scheduler_->LoadSettings();
  EXPECT_FALSE(scheduler_->Disabled());
  EXPECT_EQ(starts_, 1);
  EXPECT_TRUE(scheduler_->Running());

  // Disabling stops nothing; enabled again after the window, the next check
  // (the one enabling makes) stops what runs.
  scheduler_->DisableScheduler();
  CheckAt("2026-01-05 18:00");
  EXPECT_TRUE(scheduler_->Running());
  EXPECT_EQ(stops_, 0);
  scheduler_->EnableScheduler();
  EXPECT_EQ(stops_, 1);

  WriteBool(kOptionsSection, "ScheduledRecurrence_NoEnd", false);
  WriteDateTime(kOptionsSection, "ScheduledRecurrence_EndTime", At("2026-01-04 10:00"));
  scheduler_->LoadSettings();
  CheckAt("2026-01-05 12:00");
  EXPECT_EQ(starts_, 1);  // past the last day
}

TEST_F(SchedulerTest, WithoutHandlersNothingHappensAndTheFlagStays) {
  Window("08:00", "17:00", {1});
  scheduler_->OnSchedulerTime = nullptr;
  CheckAt("2026-01-05 12:00");
  EXPECT_FALSE(scheduler_->Running());
  scheduler_->OnSchedulerTime = [this] { ++starts_; };
  scheduler_->OnSchedulerTimeOut = nullptr;
  CheckAt("2026-01-05 12:01");
  EXPECT_TRUE(scheduler_->Running());
  CheckAt("2026-01-05 18:00");
  EXPECT_TRUE(scheduler_->Running());
  EXPECT_EQ(starts_, 1);
}

}  // namespace
}  // namespace brindle
