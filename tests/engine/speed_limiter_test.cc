#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "core/event_loop.h"
#include "engine/speed_limit_group.h"
#include "engine/speed_limit_lane.h"
#include "engine/speed_limiter.h"
#include "net/wsocket.h"
#include "support/manual_clock.h"

namespace brindle {
namespace {

constexpr int64_t kKiB = 1024;
constexpr size_t kUnlimited = std::numeric_limits<size_t>::max();

// Lanes driven by hand: a greedy reader takes its whole allowance after
// every refill, an idle one takes nothing.
class SpeedLimiterTest : public ::testing::Test {
 protected:
  SpeedLimiterTest() { clock_.Attach(loop_); }
  ~SpeedLimiterTest() override { clock_.Detach(); }

  static int64_t Take(TSpeedLimitLane& lane) {
    const size_t n = lane.Allowance();
    lane.Consume(n);
    return static_cast<int64_t>(n);
  }
  // Runs seconds of refills; the greedy lanes read after each one.
  void Run(double seconds, const std::vector<TSpeedLimitLane*>& greedy) {
    for (int64_t t = 0; t < static_cast<int64_t>(seconds * 1000); t += TSpeedLimiter::kRefillIntervalMs) {
      clock_.Advance(TSpeedLimiter::kRefillIntervalMs);
      for (TSpeedLimitLane* lane : greedy) Take(*lane);
    }
  }

  test::ManualClock clock_;
  EventLoop loop_{clock_};
  TSpeedLimiter limiter_{&loop_};
};

TEST_F(SpeedLimiterTest, RefillsFromTheClockAndCapsBurstsAtAQuarterSecond) {
  TSpeedLimitGroup group(limiter_);
  auto lane = group.NewLane();
  EXPECT_EQ(lane->Allowance(), kUnlimited);  // no limit anywhere: everything
  group.SetRate(100 * kKiB);
  EXPECT_EQ(lane->Allowance(), 0u);  // tokens come only with time
  clock_.Advance(100);
  EXPECT_EQ(lane->Allowance(), 10240u);
  // An idle connection saves up no more than a quarter second of the rate.
  clock_.Advance(5000);
  EXPECT_EQ(lane->Allowance(), 25600u);
  // A greedy one gets the rate exactly, whatever it read before.
  Take(*lane);
  const int64_t before = lane->LimitedBytes();
  Run(10, {lane.get()});
  EXPECT_EQ(lane->LimitedBytes() - before, 100 * kKiB * 10);
  // 0 means none: the cap goes at once.
  group.SetRate(0);
  EXPECT_EQ(lane->Allowance(), kUnlimited);
}

TEST_F(SpeedLimiterTest, PartsOfOneDownloadShareItsLimitAndASlowOneCostsNothing) {
  TSpeedLimitGroup group(limiter_);
  group.SetRate(80 * kKiB);
  auto a = group.NewLane();
  auto b = group.NewLane();
  Run(10, {a.get(), b.get()});
  EXPECT_EQ(a->LimitedBytes(), 400 * kKiB);
  EXPECT_EQ(b->LimitedBytes(), 400 * kKiB);
  // b stops reading: once its quarter-second share is full, a gets the rest.
  const int64_t aBefore = a->LimitedBytes();
  Run(10, {a.get()});
  EXPECT_GE(a->LimitedBytes() - aBefore, 800 * kKiB - 10 * kKiB - 1);
  EXPECT_LE(b->Granted(), 10.0 * kKiB + 1);  // bounded burst for b
}

TEST_F(SpeedLimiterTest, DownloadsShareTheGlobalLimitWhateverTheirPartCounts) {
  limiter_.SetRate(100 * kKiB);
  TSpeedLimitGroup one(limiter_);
  TSpeedLimitGroup four(limiter_);
  auto single = one.NewLane();
  std::vector<std::shared_ptr<TSpeedLimitLane>> parts;
  std::vector<TSpeedLimitLane*> greedy{single.get()};
  for (int i = 0; i < 4; ++i) greedy.push_back(parts.emplace_back(four.NewLane()).get());
  Run(10, greedy);
  int64_t fourTotal = 0;
  for (const auto& part : parts) {
    EXPECT_EQ(part->LimitedBytes(), 125 * kKiB);  // an equal share each
    fourTotal += part->LimitedBytes();
  }
  EXPECT_EQ(single->LimitedBytes(), 500 * kKiB);
  EXPECT_EQ(fourTotal, 500 * kKiB);
  // A download's own limit below its share: the smaller wins, and the other
  // download takes what it leaves.
  one.SetRate(20 * kKiB);
  const int64_t singleBefore = single->LimitedBytes();
  Run(10, greedy);
  EXPECT_EQ(single->LimitedBytes() - singleBefore, 200 * kKiB);
  int64_t fourAfter = 0;
  for (const auto& part : parts) fourAfter += part->LimitedBytes();
  EXPECT_NEAR(static_cast<double>(fourAfter - fourTotal), 800.0 * kKiB, 1.0);
  // A new global rate holds from the next refill on, for both downloads.
  const auto all = [&] {
    int64_t total = single->LimitedBytes();
    for (const auto& part : parts) total += part->LimitedBytes();
    return total;
  };
  limiter_.SetRate(40 * kKiB);
  Run(0.25, greedy);  // what was granted before the change runs out
  const int64_t allBefore = all();
  Run(10, greedy);
  EXPECT_NEAR(static_cast<double>(all() - allBefore), 400.0 * kKiB, 1.0 * kKiB);
}

TEST_F(SpeedLimiterTest, AWaitingSocketIsHeldUntilTokensComeOrTheLimitGoes) {
  TSpeedLimitGroup group(limiter_);
  group.SetRate(10 * kKiB);
  auto lane = group.NewLane();
  std::vector<bool> holds;
  lane->OnHold = [&](bool held) { holds.push_back(held); };
  TWSocket socket(&loop_);
  lane->Wait(socket);
  EXPECT_TRUE(lane->Held());
  clock_.Advance(100);  // tokens: released
  EXPECT_FALSE(lane->Held());
  lane->Consume(lane->Allowance());
  lane->Wait(socket);
  limiter_.SetRate(0);
  EXPECT_TRUE(lane->Held());  // the download's own limit still holds it
  group.SetRate(0);
  EXPECT_FALSE(lane->Held());  // lifted: released at once, not at the next refill
  EXPECT_EQ(holds, (std::vector<bool>{true, false, true, false}));
}

}  // namespace
}  // namespace brindle
