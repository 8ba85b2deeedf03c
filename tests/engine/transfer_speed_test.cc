#include "engine/transfer_speed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/log_error.h"
#include "support/manual_clock.h"
#include "support/error_reports.h"

namespace brindle {
namespace {

class TransferSpeedTest : public ::testing::Test {
 protected:
  test::ManualClock clock_;
  test::ErrorReports errors_;
};

TEST_F(TransferSpeedTest, RateNeedsTwoSamplesAndHasOneDecimal) {
  TTransferSpeed speed(200, clock_);
  EXPECT_EQ(speed.TransferRate(), "N/A");
  speed.Update(0);
  EXPECT_EQ(speed.TransferRate(), "N/A");
  EXPECT_EQ(speed.TimeLeft(1000), "N/A");
  clock_.SetMonotonicMs(clock_.MonotonicMs() + 100);
  speed.Update(10240);
  EXPECT_EQ(speed.TransferRate(), "100.0");
  clock_.SetMonotonicMs(clock_.MonotonicMs() + 300);
  speed.Update(13000);  // 13000 bytes in 400 ms
  EXPECT_EQ(speed.TransferRate(), "31.7");
}

TEST_F(TransferSpeedTest, WindowKeepsTheLatestSamplesOnly) {
  TTransferSpeed speed(200, clock_);
  // 1000 bytes per 100 ms for 100 samples, then 2000 per 100 ms.
  int64_t count = 0;
  for (int i = 0; i < 300; ++i) {
    count += i < 100 ? 1000 : 2000;
    speed.Update(count);
    clock_.SetMonotonicMs(clock_.MonotonicMs() + 100);
  }
  EXPECT_EQ(speed.NumberOfSamples(), 198);
  // The last 197 intervals all ran at 20000 bytes per second.
  EXPECT_EQ(speed.TransferRate(), "19.5");
  EXPECT_EQ(speed.TimeLeft(200000), "00:00:10");
}

TEST_F(TransferSpeedTest, MidnightAndWallClockJumpsDoNotMatter) {
  test::ManualClock clock(5000, test::ManualClock::kDefaultWallMs - 50);  // 23:59:59.950 UTC
  TTransferSpeed speed(200, clock);
  speed.Update(0);
  clock.SetMonotonicMs(5100);
  clock.SetWallMs(test::ManualClock::kDefaultWallMs - 86400000);  // the wall clock set back a day
  speed.Update(10240);
  EXPECT_EQ(speed.TransferRate(), "100.0");
}

TEST_F(TransferSpeedTest, ZeroElapsedTimeKeepsTheRateAndGivesEmptyTimeLeft) {
  TTransferSpeed speed(200, clock_);
  speed.Update(0);
  speed.Update(5000);
  EXPECT_EQ(speed.TransferRate(), "N/A");
  EXPECT_EQ(speed.TimeLeft(100), "");
  EXPECT_EQ(errors_.Routines(), (std::vector<std::string>{"TTransferSpeed.Update", "TTransferSpeed.TimeLeft"}));

  TTransferSpeed window(4, clock_);  // two samples at most
  window.Update(0);
  clock_.SetMonotonicMs(clock_.MonotonicMs() + 1000);
  window.Update(2048);
  EXPECT_EQ(window.TransferRate(), "2.0");
  window.Update(4096);  // same time stamp as the sample before it
  EXPECT_EQ(window.TransferRate(), "2.0");
}

struct TimeLeftCase {
  int64_t grown;      // bytes over one second
  int64_t bytesLeft;
  const char* text;
};

TEST_F(TransferSpeedTest, TimeLeft) {
  const TimeLeftCase cases[] = {
      {1000, 0, "N/A"},
      {1000, -5, "N/A"},
      {0, 1000, "N/A"},            // no growth
      {-4000, 1000, "N/A"},        // the count went down (a part was refilled)
      {1000, 2500, "00:00:02"},    // 2.5 s: halves to even
      {1000, 3500, "00:00:04"},
      {1000, 3600000, "01:00:00"},
      {1, INT64_MAX, "277777777777:46:40"},  // capped, no overflow
  };
  for (const TimeLeftCase& c : cases) {
    TTransferSpeed speed(200, clock_);
    speed.Update(10000);
    clock_.SetMonotonicMs(clock_.MonotonicMs() + 1000);
    speed.Update(10000 + c.grown);
    EXPECT_EQ(speed.TimeLeft(c.bytesLeft), c.text) << c.grown << " " << c.bytesLeft;
    if (c.grown < 0) {
      EXPECT_EQ(speed.TransferRate(), "0.0");
    }
  }
}

}  // namespace
}  // namespace brindle
