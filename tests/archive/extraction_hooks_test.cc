#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "archive/extraction_state.h"
#include "archive/unzip.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

const std::string kData = std::string(BRINDLE_TEST_DATA) + "/zip/";
// 436 KB of deflated data: many input blocks, so many passes.
const std::string kBig = kData + "infozip-deflate-2mib.zip";

bool IsEmptyDirectory(const std::string& path) { return std::filesystem::is_empty(path); }

class ExtractionHooksTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetIdleRoutine({});
    SetAbortTest({});
    ExtractionState::SetClockForTest({});
  }
  test::TempDir temp_;
};

TEST_F(ExtractionHooksTest, ProgressRisesToHundredAndIdleRoutineRunsBetweenBlocks) {
  int idle_calls = 0;
  SetIdleRoutine([&] { ++idle_calls; });
  std::vector<int> seen;
  ASSERT_EQ(ExtractEntry(kBig, temp_.File("big.txt"), 0, [&](int& percent) { seen.push_back(percent); }), kZipOk);
  EXPECT_GT(idle_calls, 100);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 100);
}

TEST_F(ExtractionHooksTest, AbortsLeaveNoOutput) {
  // By the abort test (the Escape key in the desktop program).
  int passes = 0;
  SetAbortTest([&] { return ++passes == 5; });
  EXPECT_EQ(ExtractEntry(kBig, temp_.File("big.txt"), 0), kZipUserAbort);
  EXPECT_TRUE(IsEmptyDirectory(temp_.Path()));
  SetAbortTest({});

  // By the progress routine setting the percent out of range.
  EXPECT_EQ(ExtractEntry(kBig, temp_.File("big.txt"), 0, [](int& percent) { percent = kZipAbortPercent; }),
            kZipUserAbort);
  EXPECT_TRUE(IsEmptyDirectory(temp_.Path()));
  EXPECT_EQ(ExtractEntry(kBig, temp_.File("big.txt"), 0, [](int& percent) { percent = kZipAbortPercent - 1; }), kZipOk);

  // An abort stops the whole ExtractAll.
  std::vector<int> codes;
  SetAbortTest([] { return true; });
  EXPECT_EQ(ExtractAll(kBig, temp_.File("all"), "*.*", [&](int code, const ZipReport&) { codes.push_back(code); }),
            kZipSeriousError);
  EXPECT_EQ(codes, (std::vector<int>{kZipReportStarts, kZipReportEntryStarts, kZipReportStopped}));
  EXPECT_FALSE(test::FileExists(temp_.File("all/big-2mib.txt")));
}

TEST_F(ExtractionHooksTest, SecondExtractionDuringOneIsRefusedUnlessTheFirstLooksDead) {
  int64_t now = 1000000;
  ExtractionState::SetClockForTest([&] { return now; });
  struct Case {
    int64_t silence_ms;  // since the running extraction's last pass
    int nested_result;
  };
  for (const Case& c : {Case{0, kZipInProgress}, Case{30000, kZipInProgress}, Case{30001, kZipOk}}) {
    SCOPED_TRACE(c.silence_ms);
    int nested = 1;
    bool started = false;
    SetIdleRoutine([&] {
      if (std::exchange(started, true)) return;
      now += c.silence_ms;
      nested = ExtractEntry(kData + "shrink-text.zip", temp_.File("nested.txt"), 0);
    });
    EXPECT_EQ(ExtractEntry(kBig, temp_.File("big.txt"), 0), kZipOk);
    EXPECT_EQ(nested, c.nested_result);
    SetIdleRoutine({});
  }
}

TEST_F(ExtractionHooksTest, NestedExtractAllFailsWithoutTakingTheRunningOnesRoutines) {
  int nested = 1;
  bool started = false;
  std::vector<int> nested_codes;
  SetIdleRoutine([&] {
    if (std::exchange(started, true)) return;
    nested = ExtractAll(kData + "shrink-text.zip", temp_.File("nested"), "*.*",
                        [&](int code, const ZipReport&) { nested_codes.push_back(code); });
  });
  std::vector<int> codes;
  EXPECT_EQ(ExtractAll(kData + "legacy-mixed-methods.zip", temp_.File("outer"), "*.*",
                       [&](int code, const ZipReport&) { codes.push_back(code); }),
            6);
  EXPECT_EQ(nested, kZipSeriousError);
  EXPECT_EQ(nested_codes, (std::vector<int>{kZipReportStarts, kZipReportEntryStarts, kZipReportStopped}));
  ASSERT_EQ(codes.size(), 2u + 6 * 2);
  EXPECT_EQ(codes.back(), kZipReportFinished);
  EXPECT_FALSE(SetReportRoutine({}));
}

}  // namespace
}  // namespace brindle
