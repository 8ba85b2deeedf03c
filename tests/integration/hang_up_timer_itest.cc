#include "integration/hang_up_timer.h"

#include <gtest/gtest.h>

#include "integration_test_support.h"
#include "manager/modem_connection.h"
#include "support/fake_dial_up.h"
#include "support/installed.h"
#include "support/scripted_prompt.h"

namespace brindle {
namespace {

TDateTime At(int hour, int minute, int second = 0) {
  return EncodeDateTime({.Year = 2026, .Month = 3, .Day = 2, .Hour = hour, .Minute = minute, .Second = second})
      .value_or(0);
}

class HangUpTimerITest : public test::IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    prompt_.yes = false;
  }
  test::Installed<test::FakeDialUp, SetDialUp> dialUp_;
  test::Installed<test::ScriptedPrompt, SetPrompt> prompt_;
};

TEST_F(HangUpTimerITest, IntervalsAndTheMinutesField) {
  EXPECT_EQ(THangUpTimer::IntervalUntil(At(8, 0), 17), 1800000);                 // 08:00 to 08:30
  EXPECT_EQ(THangUpTimer::IntervalUntil(At(21, 0), 40), 82799 * 1000LL);         // 20:00 tomorrow, a second early
  EXPECT_EQ(THangUpTimer::IntervalUntil(At(8, 30), 17), 0);
  EXPECT_EQ(THangUpTimer::MinutesOnLeave("0"), "1");
  EXPECT_EQ(THangUpTimer::MinutesOnLeave("000"), "1");
  EXPECT_EQ(THangUpTimer::MinutesOnLeave("15"), "15");
  EXPECT_EQ(THangUpTimer::MinutesOnLeave(""), "");
}

TEST_F(HangUpTimerITest, LoadsTheChoiceAndArmsOnceThroughTheModem) {
  TModemConnection modem;
  THangUpTimer timer(modem, &loop_);
  EXPECT_FALSE(ReadBool(kOptionsSection, "HangUpOn", true));
  THangUpTimer::TShown shown = THangUpTimer::Load(At(8, 0));
  EXPECT_EQ(shown.Choice, THangUpTimer::TChoice::AfterDownloads);
  EXPECT_EQ(shown.Minutes, 0);
  WriteBool(kOptionsSection, "AfterDownloadsCompleted", false);
  WriteBool(kOptionsSection, "AtSpecificTime", true);
  WriteDateTime(kOptionsSection, "HangUpTime1", At(14, 30));
  WriteDateTime(kOptionsSection, "HangUpTime2", At(9, 30));
  shown = THangUpTimer::Load(At(8, 0));
  EXPECT_EQ(shown.Choice, THangUpTimer::TChoice::AtSpecificTime);
  EXPECT_EQ(shown.TimeIndex, 29);
  EXPECT_EQ(shown.Minutes, 90);

  // An empty minutes field writes the choice and arms nothing.
  bool ok = true;
  EXPECT_EQ(timer.Arm(THangUpTimer::TChoice::AfterMinutes, 0, "", At(8, 0), &ok), std::nullopt);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(ReadBool(kOptionsSection, "AfterNumberOfMinutes", false));
  EXPECT_FALSE(timer.Armed());

  EXPECT_EQ(timer.Arm(THangUpTimer::TChoice::AfterMinutes, 0, "2", At(8, 0), &ok), 120000);
  EXPECT_TRUE(ok);
  clock_.Advance(119999);
  EXPECT_EQ(dialUp_.hangUps, 0);
  clock_.Advance(1);
  EXPECT_EQ(dialUp_.hangUps, 1);
  EXPECT_EQ(prompt_.messages, std::vector<std::string>{"Disconnected as requested."});
  clock_.Advance(240000);  // once only
  EXPECT_EQ(dialUp_.hangUps, 1);
  // Without a connection nothing is claimed.
  dialUp_.connected = false;
  timer.Arm(THangUpTimer::TChoice::AfterMinutes, 0, "1", At(8, 0));
  clock_.Advance(60000);
  EXPECT_EQ(dialUp_.hangUps, 1);
  EXPECT_EQ(prompt_.messages.back(), TModemConnection::kNoConnection);

  // "After downloads are completed" disarms an armed timer.
  EXPECT_EQ(timer.Arm(THangUpTimer::TChoice::AtSpecificTime, 17, "", At(8, 0)), 1800000);
  EXPECT_TRUE(timer.Armed());
  EXPECT_EQ(timer.Arm(THangUpTimer::TChoice::AfterDownloads, 17, "", At(8, 0)), std::nullopt);
  EXPECT_FALSE(timer.Armed());
  clock_.Advance(1800000);
  EXPECT_EQ(dialUp_.hangUps, 1);
  EXPECT_TRUE(ReadBool(kOptionsSection, "AfterDownloadsCompleted", false));
}

}  // namespace
}  // namespace brindle
