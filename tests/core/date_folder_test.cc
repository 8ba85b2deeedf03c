#include "core/date_folder.h"

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/memory_registry.h"
#include "core/settings.h"

namespace brindle {
namespace {

class FixedClock : public Clock {
 public:
  int64_t MonotonicMs() const override { return 0; }
  // 2026-12-05 12:00 UTC: 5 December in every usual time zone.
  int64_t WallMs() const override { return 1796472000000; }
};

class DateFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(&registry_);
    SetProgramClock(&clock_);
  }
  void TearDown() override {
    SetProgramClock(nullptr);
    SetRegistry(nullptr);
  }

 private:
  MemoryRegistry registry_;
  FixedClock clock_;
};

TEST_F(DateFolderTest, Settings) {
  struct Case {
    const char* Date1;
    const char* Date2;
    const char* Date3;
    const char* Divider1;
    const char* Divider2;
    const char* Expected;
  };
  // An empty setting reads as its default.
  const Case cases[] = {
      {"", "", "", "", "", "12-05-2026"},
      {"Year", "Month", "Day", "", "", "2026-12-05"},
      {"Day", "Month", "Year", "_", "_", "05_12_2026"},
      {"", "", "", "none", "none", "12052026"},
      {"Year", "Month", "Day", "none", "-", "202612-05"},
      {"Month", "day", "Year", "", "", "12--2026"},
      {"Quarter", "", "", "", "", "-05-2026"},
  };
  for (const Case& c : cases) {
    WriteString(kOptionsSection, "Date1", c.Date1);
    WriteString(kOptionsSection, "Date2", c.Date2);
    WriteString(kOptionsSection, "Date3", c.Date3);
    WriteString(kOptionsSection, "DateDivider1", c.Divider1);
    WriteString(kOptionsSection, "DateDivider2", c.Divider2);
    EXPECT_EQ(GetDateFolderName(), c.Expected);
  }
}

}  // namespace
}  // namespace brindle
