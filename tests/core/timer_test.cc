#include "core/timer.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/log_error.h"
#include "support/manual_clock.h"

namespace brindle {
namespace {

using ::testing::ElementsAre;
using test::ManualClock;

class TTimerTest : public ::testing::Test {
 protected:
  TTimerTest() { clock.Attach(loop); }
  int64_t Elapsed() const { return clock.MonotonicMs() - start; }
  // OnTimer handler that records when it ran.
  std::function<void()> Recorder() {
    return [this] { times.push_back(Elapsed()); };
  }

  ManualClock clock;
  EventLoop loop{clock};
  const int64_t start = clock.MonotonicMs();
  std::vector<int64_t> times;
};

TEST_F(TTimerTest, StartsDisabledWithOneSecondInterval) {
  TTimer timer;
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000);
  timer.OnTimer = Recorder();
  clock.Advance(5000);
  EXPECT_TRUE(times.empty());
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(TTimerTest, FiresEveryIntervalWhileEnabled) {
  TTimer timer(&loop);
  timer.SetInterval(100);
  timer.OnTimer = Recorder();
  timer.SetEnabled(true);
  clock.Advance(450);
  EXPECT_THAT(times, ElementsAre(100, 200, 300, 400));
  timer.SetEnabled(false);
  clock.Advance(1000);
  EXPECT_EQ(times.size(), 4u);
}

TEST_F(TTimerTest, UsesTheCurrentLoopByDefault) {
  TTimer timer;
  timer.SetInterval(10);
  timer.OnTimer = Recorder();
  timer.SetEnabled(true);
  EXPECT_EQ(loop.NextTimerDeadline(), start + 10);
  clock.Advance(10);
  EXPECT_THAT(times, ElementsAre(10));
}

TEST(TTimerWithoutLoop, ConstructionWithoutALoopIsAnError) {
  bool threw = false;
  std::thread([&] {
    try {
      TTimer timer;
    } catch (const std::logic_error&) {
      threw = true;
    }
  }).join();
  EXPECT_TRUE(threw);
}

TEST_F(TTimerTest, ChangingTheIntervalOfAnEnabledTimerRestartsItFromNow) {
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = Recorder();
  timer.SetEnabled(true);
  clock.Advance(60);
  timer.SetInterval(50);
  clock.Advance(150);
  EXPECT_THAT(times, ElementsAre(110, 160, 210));
}

TEST_F(TTimerTest, SettingTheSameIntervalOrEnablingAgainDoesNotRestart) {
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = Recorder();
  timer.SetEnabled(true);
  clock.Advance(60);
  timer.SetInterval(100);
  timer.SetEnabled(true);
  clock.Advance(40);
  EXPECT_THAT(times, ElementsAre(100));
}

TEST_F(TTimerTest, ReEnablingStartsFromNow) {
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = Recorder();
  timer.SetEnabled(true);
  clock.Advance(70);
  timer.SetEnabled(false);
  clock.Advance(70);
  timer.SetEnabled(true);
  clock.Advance(200);
  EXPECT_THAT(times, ElementsAre(240, 340));
}

TEST_F(TTimerTest, IntervalChangedWhileDisabledTakesEffectOnEnable) {
  TTimer timer;
  timer.OnTimer = Recorder();
  timer.SetInterval(30);
  EXPECT_FALSE(loop.NextTimerDeadline());
  timer.SetEnabled(true);
  clock.Advance(60);
  EXPECT_THAT(times, ElementsAre(30, 60));
}

TEST_F(TTimerTest, ZeroIntervalDoesNotFire) {
  TTimer timer;
  timer.OnTimer = Recorder();
  timer.SetEnabled(true);
  timer.SetInterval(0);
  clock.Advance(5000);
  EXPECT_TRUE(times.empty());
  EXPECT_TRUE(timer.Enabled());
  timer.SetInterval(100);
  clock.Advance(100);
  EXPECT_THAT(times, ElementsAre(5100));
}

TEST_F(TTimerTest, DisablingInsideOnTimerStopsIt) {
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = [&] {
    times.push_back(Elapsed());
    timer.SetEnabled(false);
  };
  timer.SetEnabled(true);
  clock.Advance(1000);
  EXPECT_THAT(times, ElementsAre(100));
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(TTimerTest, ChangingTheIntervalInsideOnTimerRestartsFromThatTick) {
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = [&] {
    times.push_back(Elapsed());
    timer.SetInterval(300);
  };
  timer.SetEnabled(true);
  clock.Advance(1000);
  EXPECT_THAT(times, ElementsAre(100, 400, 700, 1000));
}

TEST_F(TTimerTest, DestroyingTheTimerInsideOnTimerIsSafe) {
  auto timer = std::make_unique<TTimer>();
  timer->SetInterval(100);
  std::string seen;
  // The handler keeps using its captures after the timer (which holds the
  // handler) is gone: AddressSanitizer would see a use after free.
  timer->OnTimer = [&, text = std::string("a capture that lives on the heap, not in the small buffer")] {
    timer.reset();
    times.push_back(Elapsed());
    seen = text;
  };
  timer->SetEnabled(true);
  clock.Advance(1000);
  EXPECT_THAT(times, ElementsAre(100));
  EXPECT_FALSE(seen.empty());
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(TTimerTest, DestroyingAnEnabledTimerCancelsIt) {
  {
    TTimer timer;
    timer.SetInterval(100);
    timer.OnTimer = Recorder();
    timer.SetEnabled(true);
  }
  clock.Advance(1000);
  EXPECT_TRUE(times.empty());
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(TTimerTest, ATimerMayDestroyAnotherDueInTheSameTick) {
  auto second = std::make_unique<TTimer>();
  TTimer first;
  first.SetInterval(100);
  first.OnTimer = [&] {
    times.push_back(1);
    second.reset();
  };
  first.SetEnabled(true);
  second->SetInterval(100);
  second->OnTimer = [&] { times.push_back(2); };
  second->SetEnabled(true);
  clock.Advance(200);
  EXPECT_THAT(times, ElementsAre(1, 1));
}

TEST_F(TTimerTest, EnabledTimerWithoutHandlerIsHarmless) {
  TTimer timer;
  timer.SetInterval(10);
  timer.SetEnabled(true);
  clock.Advance(100);
  timer.OnTimer = Recorder();
  clock.Advance(10);
  EXPECT_THAT(times, ElementsAre(110));
}

TEST_F(TTimerTest, ThrowingHandlerIsReportedAndTheTimerKeepsRunning) {
  std::vector<std::string> names;
  SetErrorLogSink([&](std::string_view name) { names.emplace_back(name); });
  TTimer timer;
  timer.SetInterval(100);
  timer.OnTimer = [&] {
    times.push_back(Elapsed());
    throw std::runtime_error("tick failed");
  };
  timer.SetEnabled(true);
  clock.Advance(300);
  SetErrorLogSink({});
  EXPECT_THAT(times, ElementsAre(100, 200, 300));
  EXPECT_THAT(names, ElementsAre("TTimer.OnTimer", "TTimer.OnTimer", "TTimer.OnTimer"));
}

TEST_F(TTimerTest, CallLaterRunsOnce) {
  EventLoop::TimerId id = loop.CallLater(250, Recorder(), "later");
  EXPECT_TRUE(loop.TimerActive(id));
  clock.Advance(1000);
  EXPECT_THAT(times, ElementsAre(250));
  EXPECT_FALSE(loop.TimerActive(id));
}

}  // namespace
}  // namespace brindle
