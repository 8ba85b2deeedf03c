#include "core/timer.h"

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/log_error.h"
#include "support/manual_clock.h"
#include "support/error_reports.h"

namespace brindle {
namespace {

using ::testing::ElementsAre;

class TTimerTest : public ::testing::Test {
 protected:
  TTimerTest() { clock.Attach(loop); }
  std::function<void()> Recorder() {
    return [this] { times.push_back(clock.MonotonicMs() - start); };
  }

  test::ManualClock clock;
  EventLoop loop{clock};
  const int64_t start = clock.MonotonicMs();
  std::vector<int64_t> times;
};

// A script of steps ("i<ms>": SetInterval, "e<0|1>": SetEnabled, "a<ms>":
// Advance, "h": set the handler) and the ticks it gives.
struct ScriptCase {
  const char* name;
  const char* script;
  std::vector<int64_t> ticks;
};

class TTimerScriptTest : public TTimerTest, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(TTimerScriptTest, TicksWhereExpected) {
  TTimer timer;  // on the current loop
  std::istringstream in(GetParam().script);
  for (std::string step; in >> step;) {
    const int64_t value = step.size() > 1 ? std::stoll(step.substr(1)) : 0;
    if (step[0] == 'i') timer.SetInterval(value);
    if (step[0] == 'e') timer.SetEnabled(value != 0);
    if (step[0] == 'a') clock.Advance(value);
    if (step[0] == 'h') timer.OnTimer = Recorder();
  }
  EXPECT_EQ(times, GetParam().ticks);
}

INSTANTIATE_TEST_SUITE_P(
    All, TTimerScriptTest,
    ::testing::Values(ScriptCase{"StartsDisabledWithOneSecond", "h a5000 e1 a1000", {6000}},
                      ScriptCase{"EveryIntervalUntilDisabled", "h i100 e1 a450 e0 a1000", {100, 200, 300, 400}},
                      ScriptCase{"NewIntervalRestartsFromNow", "h i100 e1 a60 i50 a150", {110, 160, 210}},
                      ScriptCase{"SameValuesDoNotRestart", "h i100 e1 a60 i100 e1 a40", {100}},
                      ScriptCase{"ReEnablingStartsFromNow", "h i100 e1 a70 e0 a70 e1 a200", {240, 340}},
                      ScriptCase{"IntervalSetWhileDisabledAppliesOnEnable", "h i30 a10 e1 a60", {40, 70}},
                      ScriptCase{"ZeroIntervalNeverFires", "h e1 i0 a5000 i100 a100", {5100}},
                      ScriptCase{"NoHandlerIsHarmless", "i10 e1 a100 h a10", {110}}),
    [](const ::testing::TestParamInfo<ScriptCase>& info) { return info.param.name; });

TEST_F(TTimerTest, NeedsALoopAndDestroyingItCancels) {
  std::thread([] { EXPECT_THROW(TTimer(), std::logic_error); }).join();
  {
    TTimer timer(&loop);
    timer.SetInterval(100);
    timer.OnTimer = Recorder();
    timer.SetEnabled(true);
  }
  clock.Advance(1000);
  EXPECT_TRUE(times.empty());
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(TTimerTest, OnTimerMayRetimeAndDisableItsTimer) {
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = [&] {
    times.push_back(clock.MonotonicMs() - start);
    if (times.size() == 1) timer.SetInterval(300);  // restarts from this tick
    if (times.size() == 3) timer.SetEnabled(false);
  };
  timer.SetEnabled(true);
  clock.Advance(2000);
  EXPECT_THAT(times, ElementsAre(100, 400, 700));
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(TTimerTest, OnTimerMayDestroyItsOwnTimerAndAnotherDueInTheSameTick) {
  auto first = std::make_unique<TTimer>();
  auto second = std::make_unique<TTimer>();
  std::string seen;  // a capture used after its timer is gone: ASan would object
  first->OnTimer = [&, text = std::string("a capture that lives on the heap, not in the small buffer")] {
    second.reset();
    first.reset();
    times.push_back(1);
    seen = text;
  };
  second->OnTimer = [&] { times.push_back(2); };
  first->SetEnabled(true);  // both due at 1000
  second->SetEnabled(true);
  clock.Advance(5000);
  EXPECT_THAT(times, ElementsAre(1));
  EXPECT_FALSE(seen.empty());
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(TTimerTest, ThrowingHandlerIsReportedAndTheTimerKeepsRunning) {
  test::ErrorReports reports;
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = [&] { throw std::runtime_error("tick failed"); };
  timer.SetEnabled(true);
  clock.Advance(300);
  EXPECT_THAT(reports.Lines(), ElementsAre("TTimer.OnTimer: tick failed", "TTimer.OnTimer: tick failed",
                                           "TTimer.OnTimer: tick failed"));
}

}  // namespace
}  // namespace brindle
