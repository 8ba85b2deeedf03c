#include "integration/scheduled_downloads.h"

#include <gtest/gtest.h>

#include "core/download_status.h"
#include "integration_test_support.h"

namespace brindle {
namespace {

class ScheduledDownloadsITest : public test::IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    for (int i = 0; i < 3; ++i) http_.AddFile(Path(i), Content(i));
  }
  static std::string Path(int i) { return "/f" + std::to_string(i) + ".bin"; }
  static std::string Content(int i) { return std::string(30000 + 1000 * i, static_cast<char>('a' + i)); }

  TScheduledDownloads Handlers() { return TScheduledDownloads(*system_); }
};

TEST_F(ScheduledDownloadsITest, WindowEndSchedulesWhatRunsWithoutStartingTheQueueAndWindowStartResumes) {
  WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 2);
  HoldEveryAnswer();
  TLocalDownloadinfo* a = Add(Path(0), "a.bin");
  TLocalDownloadinfo* b = Add(Path(1), "b.bin");
  TLocalDownloadinfo* queued = Add(Path(2), "c.bin");
  ASSERT_EQ(queued->Status(), TDownloadState::Queued);
  ASSERT_TRUE(Run([this] { return http_.Requests().size() == 2; }));

  Handlers().DoOnSchedulerTimeOut();
  EXPECT_TRUE(system_->ActiveList().empty());
  for (TLocalDownloadinfo* record : {a, b}) {
    EXPECT_EQ(record->Status(), TDownloadState::Scheduled);
    EXPECT_EQ(StoredStatus(*record), TDownloadState::Scheduled);
    EXPECT_EQ(model_->Cell(model_->AssociatedRow(record), kColumnStatus), StatusText(TDownloadState::Scheduled));
  }
  // The places the paused ones left stay empty until the next window.
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);
  EXPECT_EQ(queued->Status(), TDownloadState::Queued);
  EXPECT_EQ(system_->AssociatedDownloader(queued), nullptr);
  EXPECT_EQ(RequestsFor(Path(2)), 0);
  EXPECT_EQ(system_->FormsCount(), 0);

  // The window opens again: the scheduled ones go on from their part files,
  // and the queue follows when they are done.
  http_.SetHandler(nullptr);
  Handlers().DoOnSchedulerTime();
  EXPECT_EQ(system_->ActiveList().size(), 2u);
  EXPECT_EQ(a->Status(), TDownloadState::ContactingHost);
  ASSERT_TRUE(Run([&] {
    return a->Status() == TDownloadState::Done && b->Status() == TDownloadState::Done && queued->Status() == TDownloadState::Done;
  }));
  EXPECT_TRUE(test::ReadWholeFile(temp_.File("a.bin")) == Content(0));
  EXPECT_TRUE(test::ReadWholeFile(temp_.File("c.bin")) == Content(2));
}

TEST_F(ScheduledDownloadsITest, OpenDialogsAndOtherStatesAreLeftAlone) {
  HoldEveryAnswer();
  TLocalDownloadinfo* paused = Add(Path(0), "a.bin");
  system_->PauseDownload(paused);
  TLocalDownloadinfo* scheduled = Add(Path(1), "b.bin");
  TLocalDownloadinfo* asking = system_->AddDownload(
      std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(http_.Url(Path(2))), "", nullptr));
  ASSERT_EQ(windows_.NewDownloadDialogs(), 1);  // it answers in the next pass of the loop

  Handlers().DoOnSchedulerTimeOut();
  EXPECT_EQ(scheduled->Status(), TDownloadState::Scheduled);
  EXPECT_NE(asking->Status(), TDownloadState::Scheduled);  // the user is being asked
  EXPECT_NE(system_->AssociatedDownloader(asking), nullptr);
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);

  Handlers().DoOnSchedulerTime();
  EXPECT_EQ(paused->Status(), TDownloadState::Paused);
  EXPECT_EQ(system_->AssociatedDownloader(paused), nullptr);
  EXPECT_NE(system_->AssociatedDownloader(scheduled), nullptr);
  // A second start of the window finds nothing more to start.
  Handlers().DoOnSchedulerTime();
  EXPECT_EQ(system_->ActiveList().size(), 2u);
}

}  // namespace
}  // namespace brindle
