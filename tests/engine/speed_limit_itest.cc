#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "core/settings.h"
#include "engine/download_record.h"
#include "engine/downloader.h"
#include "engine/http_part_downloader.h"
#include "engine/part_download_slot.h"
#include "engine/part_download_slots.h"
#include "engine/speed_limit_group.h"
#include "engine/speed_limit_lane.h"
#include "engine/speed_limiter.h"
#include "support/fault_http_server.h"
#include "support/part_downloader_test.h"

namespace brindle {
namespace {

constexpr int64_t kKiB = 1024;

class TestRecord : public TDownloadRecord {
 public:
  using TDownloadRecord::TDownloadRecord;
  bool Save() const override { return true; }
};

// Limited downloads from the in-process server, timed by the manual clock:
// the bytes counted are those the parts received while the simulated time
// passed, so no wall-clock speed is ever measured.
class SpeedLimitITest : public test::PartDownloaderTest {
 protected:
  SpeedLimitITest() {
    WriteBool(kOptionsSection, "UseHTTPProxy", false);
    server_.AddFile("/f.bin", test::MakeContent(6'000'000));
  }

  TDownloader& Start(int64_t ownLimitKiB = 0) {
    const std::string name = "d" + std::to_string(records_.size());
    auto record = std::make_unique<TestRecord>(std::make_unique<TUrl>(server_.Url("/f.bin")), dir_.File(name));
    record->LocalFileName = dir_.File(name + ".out");
    record->SpeedLimit = ownLimitKiB;
    TDownloaderOptions options;
    options.SplitParts = 4;
    options.Loop = &loop_;
    options.Limiter = &limiter_;
    options.Ping = [](const std::string&, int, int) { return TPingOutcome{1, 10}; };
    records_.push_back(std::move(record));
    downloaders_.push_back(std::make_unique<TDownloader>(*records_.back(), std::move(options)));
    downloaders_.back()->StartDownload();
    return *downloaders_.back();
  }
  // Simulated time in refill steps; the loop runs until quiet after each.
  void Pass(int64_t ms) {
    for (int64_t t = 0; t < ms; t += TSpeedLimiter::kRefillIntervalMs) {
      clock_.Advance(TSpeedLimiter::kRefillIntervalMs);
      for (int i = 0; i < 30; ++i) loop_.RunOnce(0);
    }
  }
  static std::vector<int64_t> PartBytes(const TDownloader& d) {
    std::vector<int64_t> bytes;
    for (int i = 0; i < d.Slots().NumberOfSlots(); ++i) {
      const TPartDownloader* part = d.Slots().GetSlot(i)->PartDownloader();
      bytes.push_back(part && part->Lane() ? part->Lane()->LimitedBytes() : 0);
    }
    return bytes;
  }

  test::FaultHttpServer server_{loop_};
  TSpeedLimiter limiter_{&loop_};
  std::vector<std::unique_ptr<TestRecord>> records_;
  std::vector<std::unique_ptr<TDownloader>> downloaders_;
};

TEST_F(SpeedLimitITest, ADownloadKeepsToItsCapOverFourFairParts) {
  TDownloader& d = Start(100);
  Pass(2000);  // size learned, parts split and running
  ASSERT_EQ(d.Slots().NumberOfSlots(), 4);
  const int64_t before = d.TransferCount();
  const std::vector<int64_t> partsBefore = PartBytes(d);
  Pass(20000);
  const double rate = static_cast<double>(d.TransferCount() - before) / 20.0;
  EXPECT_NEAR(rate, 100.0 * kKiB, 5.0 * kKiB);
  const std::vector<int64_t> partsAfter = PartBytes(d);
  for (size_t i = 0; i < partsAfter.size(); ++i)
    EXPECT_GE(partsAfter[i] - partsBefore[i], 100 * kKiB * 20 / 4 / 4) << "part " << i;

  // Lifted while running: the next refill step is no longer capped.
  const int64_t capped = d.TransferCount();
  d.SetSpeedLimit(0);
  Pass(100);
  EXPECT_GT(d.TransferCount() - capped, 100 * kKiB);
}

TEST_F(SpeedLimitITest, TwoDownloadsShareTheGlobalCapAndAChangeAppliesAtOnce) {
  limiter_.SetRate(100 * kKiB);
  TDownloader& a = Start();
  TDownloader& b = Start();
  Pass(2000);
  const int64_t a0 = a.TransferCount();
  const int64_t b0 = b.TransferCount();
  Pass(10000);
  const int64_t aGot = a.TransferCount() - a0;
  const int64_t bGot = b.TransferCount() - b0;
  EXPECT_NEAR(static_cast<double>(aGot + bGot), 1000.0 * kKiB, 50.0 * kKiB);
  EXPECT_NEAR(static_cast<double>(aGot), static_cast<double>(bGot), 0.1 * static_cast<double>(bGot));

  limiter_.SetRate(20 * kKiB);
  Pass(200);  // what was granted before the change runs out
  const int64_t a1 = a.TransferCount();
  const int64_t b1 = b.TransferCount();
  Pass(10000);
  EXPECT_NEAR(static_cast<double>(a.TransferCount() - a1 + b.TransferCount() - b1), 200.0 * kKiB, 10.0 * kKiB);
}

TEST_F(SpeedLimitITest, TimeHeldBackIsNotAStall) {
  // A few bytes a second over a 2-second stall time-out: a header line alone
  // takes longer than that to arrive, all of it held back.
  WriteInteger(kOptionsSection, "StallTimeOut", 2);
  TSpeedLimitGroup group(limiter_);
  group.SetRate(8);
  THTTPPartDownloader part(server_.Url("/f.bin"), dir_.File("p"), 0, 999, &loop_);
  std::vector<TPartDownloaderState> states;
  part.OnChange = [&](TPartDownloader&, TPartDownloaderState s) { states.push_back(s); };
  part.SetSpeedLimitGroup(&group);
  part.Get();
  Pass(30000);
  EXPECT_NE(part.State(), psError) << part.ErrorStatus().Text();
  EXPECT_GT(part.Lane()->LimitedBytes(), 200);
  EXPECT_LE(part.Lane()->LimitedBytes(), 8 * 30 + 2);
  // Lifted, the rest comes at once and the part completes.
  group.SetRate(0);
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return part.State() == psDone; }));
  EXPECT_EQ(part.TransferCount(), 1000);
}

}  // namespace
}  // namespace brindle
