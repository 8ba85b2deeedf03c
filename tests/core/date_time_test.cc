#include "core/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "support/manual_clock.h"
#include "support/scoped_environment.h"

namespace brindle {
namespace {

TEST(DateTimeTest, KnownDayCountsBothWays) {
  const struct {
    const char* Text;
    double Days;
  } cases[] = {
      {"1899-12-30 00:00:00.000", 0},        {"1900-01-01 00:00:00.000", 2},
      {"1900-03-01 00:00:00.000", 61},       {"2000-02-29 00:00:00.000", 36585},
      {"2026-12-05 00:00:00.000", 46361},    {"2026-12-05 18:00:00.000", 46361.75},
      {"1899-12-29 00:00:00.000", -1},       {"1899-12-29 06:00:00.000", -1.25},
      {"1800-01-01 00:00:00.000", -36522},   {"1582-10-15 00:00:00.000", -115858},
      {"0001-01-01 00:00:00.000", -693593},  {"9999-12-31 00:00:00.000", 2958465},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextToDateTime(c.Text), c.Days) << c.Text;
    EXPECT_EQ(DateTimeToText(c.Days), c.Text);
  }
  // Between -1 and 0 the time of day still counts forward from day 0.
  EXPECT_EQ(DateTimeToText(-0.5), "1899-12-30 12:00:00.000");
}

TEST(DateTimeTest, EveryMillisecondRoundTrips) {
  for (const int year : {2026, 1850, 9999}) {
    for (int ms = 0; ms < 86'400'000; ms += 997) {
      const TDateParts parts{year, 12, 31, ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000};
      const TDateParts back = DecodeDateTime(*EncodeDateTime(parts));
      ASSERT_EQ(back.Millisecond + 1000 * (back.Second + 60 * (back.Minute + 60 * back.Hour)), ms) << year;
      ASSERT_EQ(back.Day, 31);
    }
  }
}

TEST(DateTimeTest, InvalidInput) {
  for (const TDateParts& bad : {TDateParts{2025, 2, 29}, TDateParts{1900, 2, 29}, TDateParts{2026, 4, 31},
                                TDateParts{0, 1, 1}, TDateParts{10000, 1, 1}, TDateParts{2026, 1, 1, 0, 0, 0, 1000}})
    EXPECT_FALSE(EncodeDateTime(bad)) << bad.Year << "-" << bad.Month << "-" << bad.Day;
  EXPECT_EQ(DecodeDateTime(std::nan("")).Year, 0);
  EXPECT_EQ(DecodeDateTime(1e300).Year, 0);
  EXPECT_EQ(UnixMsFromDateTime(std::nan("")), 0);
  EXPECT_EQ(TextToDateTime("2026-12-06 18:33"), TextToDateTime("2026-12-06 18:33:00.000"));
  EXPECT_EQ(TextToDateTime("2026-12-06 18:33:41.5"), TextToDateTime("2026-12-06 18:33:41.500"));
  for (const char* garbage :
       {"", "garbage", "2026-12-06", "2026/12/06 18:33", "2026-12-06T18:33", "2026-13-01 00:00", "2026-02-30 00:00",
        "2026-12-06 24:00", "2026-12-06 18:60", "2026-12-06 18:33:41.", "2026-12-06 18:33:41.1234",
        "2026-12-06 18:33:41x", " 2026-12-06 18:33", "2026-12-06 18:3", "+026-12-06 18:33"})
    EXPECT_FALSE(TextToDateTime(garbage)) << garbage;
}

// Sets TZ for one test; the old one comes back, and is read again, afterwards.
class TimeZoneTest : public ::testing::Test {
 protected:
  ~TimeZoneTest() override { SetProgramClock(nullptr); }
  void Use(const char* zone) {
    env_.Set("TZ", zone);
    tzset();
  }
  struct Reread {
    ~Reread() { tzset(); }
  } reread_;  // after env_ has put TZ back
  test::ScopedEnvironment env_;
};

TEST_F(TimeZoneTest, UnixTimeInLocalTime) {
  Use("UTC0");
  EXPECT_EQ(DateTimeFromUnixMs(0), 25569);
  EXPECT_EQ(DateTimeToText(DateTimeFromUnixMs(-1)), "1969-12-31 23:59:59.999");
  EXPECT_EQ(UnixMsFromDateTime(25569.5), 43'200'000);
  Use("EST5");
  EXPECT_EQ(DateTimeToText(DateTimeFromUnixMs(0)), "1969-12-31 19:00:00.000");
  for (const int64_t ms : {int64_t{0}, int64_t{1767225600123}, int64_t{-2208988800000}})
    EXPECT_EQ(UnixMsFromDateTime(DateTimeFromUnixMs(ms)), ms);
}

TEST_F(TimeZoneTest, NowComesFromTheProgramClock) {
  Use("UTC0");
  test::ManualClock clock(0, test::ManualClock::kDefaultWallMs + 43'200'000);
  SetProgramClock(&clock);
  EXPECT_EQ(DateTimeToText(Now()), "2026-01-01 12:00:00.000");
  EXPECT_EQ(DateTimeToText(Date()), "2026-01-01 00:00:00.000");
}

}  // namespace
}  // namespace brindle
