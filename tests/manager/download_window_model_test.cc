#include "manager/download_window_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/presentation.h"

namespace brindle {
namespace {

// Distinct addresses stand for the slots.
const int kSlots[3] = {};

TPartSlotInfo Slot(int i, int64_t received, const std::string& host) {
  return {&kSlots[i], received, "Downloading", host};
}

TDownloadSnapshot Snapshot(int64_t size, int64_t count, std::vector<TPartSlotInfo> slots = {}) {
  TDownloadSnapshot s;
  s.LocalFileName = "/home/u/Downloads/file.iso";
  s.Url = "http://example.org/file.iso";
  s.Status = TDownloadState::Downloading;
  s.ResumeText = "Yes";
  s.TimeLeft = "00:01:00";
  s.TransferRate = "12.5";
  s.FileSize = size;
  s.TransferCount = count;
  s.Slots = std::move(slots);
  return s;
}

TEST(DownloadWindowModelTest, PartRowsFollowTheSlotsAndAreRenumberedAfterARemoval) {
  TDownloadWindowModel model;
  model.UpdateInfo(Snapshot(3000, 0, {Slot(0, 0, "a")}));
  ASSERT_EQ(model.Rows().size(), 1u);
  // Slots added by the split: the rows are made again, one per slot in order.
  model.UpdateInfo(Snapshot(3000, 600, {Slot(0, 100, "a"), Slot(1, 200, "b"), Slot(2, 300, "c")}));
  ASSERT_EQ(model.Rows().size(), 3u);
  EXPECT_EQ(model.Rows()[2].Number, "3");
  EXPECT_EQ(model.Rows()[2].Location, "c");
  EXPECT_EQ(model.Rows()[2].Size, BytesToPresentableString(300));

  model.DeletePartDownloadSlotInfo(&kSlots[1]);
  ASSERT_EQ(model.Rows().size(), 2u);
  EXPECT_EQ(model.Rows()[0].Number, "1");
  EXPECT_EQ(model.Rows()[1].Number, "2");
  EXPECT_EQ(model.Rows()[1].Slot, &kSlots[2]);
  EXPECT_EQ(model.Rows()[1].Location, "c");
  // The former third slot's updates now land in row 2.
  model.UpdatePartDownloadSlotInfo(Slot(2, 999, "c2"));
  EXPECT_EQ(model.Rows()[1].Location, "c2");
  EXPECT_EQ(model.Rows()[1].Number, "2");
  // A removed slot's late update changes nothing.
  model.UpdatePartDownloadSlotInfo(Slot(1, 5, "gone"));
  EXPECT_EQ(model.Rows()[0].Location, "a");
}

TEST(DownloadWindowModelTest, CaptionSizeAndProgress) {
  TDownloadWindowModel model;
  EXPECT_EQ(model.Caption(), "File Download");
  model.UpdateInfo(Snapshot(0, 0));
  EXPECT_EQ(model.Caption(), "file.iso");
  model.UpdateInfo(Snapshot(-1, 500));
  EXPECT_EQ(model.Caption(), "file.iso");
  model.UpdateInfo(Snapshot(1000, 405));
  EXPECT_EQ(model.Caption(), "41% file.iso");
  EXPECT_EQ(model.FileSizeText(), BytesToPresentableString(405) + " of " + BytesToPresentableString(1000));
  EXPECT_EQ(model.ProgressMaximum(), 1000);
  EXPECT_EQ(model.ProgressPosition(), 405);
  // Beyond the int range the bar counts in coarser units and stays in proportion.
  const int64_t big = int64_t{6} << 30;
  model.UpdateInfo(Snapshot(big, big / 2));
  EXPECT_GT(model.ProgressMaximum(), 0);
  EXPECT_EQ(model.ProgressPosition(), model.ProgressMaximum() / 2);
}

TEST(DownloadWindowModelTest, RateAndTimeLeftOnEveryNinthCall) {
  TDownloadWindowModel model;
  TDownloadSnapshot s = Snapshot(1000, 0);
  s.TransferRate = "N/A";
  model.UpdateInfo(s);
  EXPECT_EQ(model.TransferRate(), "N/A");
  s.TransferRate = "7.25";
  s.TimeLeft = "00:00:09";
  for (int call = 2; call <= 9; ++call) {
    model.UpdateInfo(s);
    EXPECT_EQ(model.TransferRate(), "N/A") << call;
  }
  model.UpdateInfo(s);
  EXPECT_EQ(model.TransferRate(), "7.25 kb/sec");
  EXPECT_EQ(model.TimeLeft(), "00:00:09");
}

TEST(DownloadWindowModelTest, PauseOnlyWhereTheServerMayResume) {
  const std::pair<const char*, bool> cases[] = {{"Yes", true}, {"Unknown", true}, {"No", false}};
  for (const auto& [resume, enabled] : cases) {
    TDownloadWindowModel model;
    TDownloadSnapshot s = Snapshot(1000, 0);
    s.ResumeText = resume;
    s.Status = TDownloadState::Timeout;
    model.UpdateInfo(s);
    EXPECT_EQ(model.PauseEnabled(), enabled) << resume;
    EXPECT_EQ(model.Resume(), resume);
    EXPECT_EQ(model.StatusColor(), TStatusColor::Error);
  }
}

}  // namespace
}  // namespace brindle
