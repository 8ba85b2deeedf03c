#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "core/memory_registry.h"
#include "core/settings.h"
#include "engine/file_mirror.h"
#include "engine/part_download_slot.h"
#include "support/fault_ftp_server.h"
#include "support/final_state.h"
#include "support/fault_http_server.h"
#include "support/manual_clock.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::MakeContent;

using test::Final;

// The same slot behaviour over both part downloaders.
class PartDownloadSlotITest : public ::testing::TestWithParam<const char*> {
 protected:
  PartDownloadSlotITest() {
    clock_.Attach(loop_);
    SetRegistry(&registry_);
    WriteBool(kOptionsSection, "UseHTTPProxy", false);
    WriteBool(kOptionsSection, "UseFTPProxy", false);
    WriteBool(kOptionsSection, "PassiveMode", true);
    http_.AddFile("/f.bin", content_);
    ftp_.AddFile("/f.bin", content_);
  }
  ~PartDownloadSlotITest() override { SetRegistry(nullptr), clock_.Detach(); }

  std::string Url(const std::string& path) const {
    return std::string(GetParam()) == "ftp" ? ftp_.Url(path) : http_.Url(path);
  }
  std::unique_ptr<TPartDownloadSlot> MakeSlot(int64_t first, int64_t last) {
    auto slot = std::make_unique<TPartDownloadSlot>(&loop_);
    slot->SetPartDownloaderStartByte(first);
    slot->SetPartDownloaderEndByte(last);
    slot->SetPartFileName(dir_.File("base." + std::to_string(first)));
    Watch(*slot);
    return slot;
  }
  void Watch(TPartDownloadSlot& slot) {
    slot.OnChange = [this](TPartDownloadSlot& s, TPartDownloaderState state) {
      states_.push_back(state);
      if (statuses_.empty() || statuses_.back() != s.Status().Text()) statuses_.push_back(s.Status().Text());
    };
  }
  // Starts the slot and runs until its part downloader reaches a final state.
  void Run(TPartDownloadSlot& slot, TFileMirror* mirror) {
    states_.clear();
    statuses_.clear();
    slot.Start(mirror, 10000);
    ASSERT_TRUE(test::RunUntil(loop_, [&] { return !states_.empty() && Final(states_.back()); }));
  }
  std::string Slice(int64_t first, int64_t last) const { return content_.substr(first, last - first + 1); }

  test::ManualClock clock_;
  EventLoop loop_{clock_};
  MemoryRegistry registry_;
  test::TempDir dir_;
  test::FaultHttpServer http_{loop_};
  test::FaultFtpServer ftp_{loop_};
  const std::string content_ = MakeContent(100000);
  std::vector<TPartDownloaderState> states_;
  std::vector<std::string> statuses_;
};

TEST_P(PartDownloadSlotITest, FirstPartLearnsTheSizeAndFetchesTheWholeFile) {
  TFileMirror mirror(Url("/f.bin"));
  auto slot = MakeSlot(0, 0);
  Run(*slot, &mirror);
  ASSERT_EQ(states_.back(), psDone) << slot->Status().Text();
  if (statuses_.front() == "Contacting host") statuses_.erase(statuses_.begin());
  EXPECT_EQ(statuses_, (std::vector<std::string>{"Getting file info", "Downloading", "Done"}));
  EXPECT_EQ(slot->FileSize(), 100000);
  EXPECT_EQ(slot->EndByte(), 99999);
  EXPECT_EQ(slot->Count(), 100000);
  EXPECT_EQ(slot->Speed(), 0);  // under one second
  EXPECT_EQ(test::ReadWholeFile(slot->PartFileName()), content_);
  EXPECT_FALSE(slot->HadError() || mirror.ErrorCode);
}

// What an earlier run (or anybody else) left at the part file's name: a
// file longer than its range is cut to it; a link, a second name of another
// file or a FIFO is not Brindle's part file and is replaced, never written
// through, read or waited on.
TEST_P(PartDownloadSlotITest, LeftoversAtThePartFileNameAreCutOrReplaced) {
  test::TempDir elsewhere;
  const std::string outside = elsewhere.File("outside");
  const std::string users = "the user's own bytes";
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> cases = {
      {"longer than its range", [&](const std::string& part) { test::WriteWholeFile(part, Slice(1000, 6999)); }},
      {"a link", [&](const std::string& part) { std::filesystem::create_symlink(outside, part); }},
      {"a second name", [&](const std::string& part) { std::filesystem::create_hard_link(outside, part); }},
      {"a FIFO", [](const std::string& part) { ASSERT_EQ(mkfifo(part.c_str(), 0644), 0); }},
  };
  TFileMirror mirror(Url("/f.bin"));
  for (const auto& [name, leave] : cases) {
    SCOPED_TRACE(name);
    test::WriteWholeFile(outside, users);
    auto slot = MakeSlot(1000, 4999);
    std::filesystem::remove(slot->PartFileName());
    leave(slot->PartFileName());
    Run(*slot, &mirror);
    ASSERT_EQ(states_.back(), psDone) << slot->Status().Text();
    EXPECT_EQ(slot->TransferCount(), 4000);
    slot->ResizePartFile();
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(slot->PartFileName())));
    EXPECT_EQ(test::ReadWholeFile(slot->PartFileName()), Slice(1000, 4999));
    EXPECT_EQ(test::ReadWholeFile(outside), users);
  }
}

TEST_P(PartDownloadSlotITest, HandedOverPartDownloaderFetchesTheNextRange) {
  TFileMirror mirror(Url("/f.bin"));
  auto first = MakeSlot(0, 999);
  Run(*first, &mirror);
  ASSERT_EQ(states_.back(), psDone) << first->Status().Text();
  first->ResizePartFile();
  auto second = MakeSlot(1000, 2999);
  second->SetPartDownloader(first->TakePartDownloader());
  Run(*second, &mirror);
  ASSERT_EQ(states_.back(), psDone) << second->Status().Text();
  EXPECT_EQ(test::ReadWholeFile(first->PartFileName()), Slice(0, 999));
  EXPECT_EQ(test::ReadWholeFile(second->PartFileName()), Slice(1000, 2999));
  EXPECT_EQ(first->Status().Text(), "Done");
  EXPECT_TRUE(std::string(GetParam()) != "ftp" || ftp_.Sessions() == 1);  // the same login
}

INSTANTIATE_TEST_SUITE_P(Schemes, PartDownloadSlotITest, ::testing::Values("http", "ftp"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace brindle
