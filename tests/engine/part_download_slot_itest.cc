#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "core/settings.h"
#include "engine/file_mirror.h"
#include "engine/part_download_slot.h"
#include "support/fault_ftp_server.h"
#include "support/fault_http_server.h"
#include "support/part_downloader_test.h"

namespace brindle {
namespace {

class PartDownloadSlotITest : public test::PartDownloaderTest, public ::testing::WithParamInterface<const char*> {};

// What an earlier run (or anybody else) left at the part file's name: a
// file longer than its range is cut to it; a link, a second name of another
// file or a FIFO is not Brindle's part file and is replaced, never written
// through, read or waited on. The same over both part downloaders.
TEST_P(PartDownloadSlotITest, LeftoversAtThePartFileNameAreCutOrReplaced) {
  WriteBool(kOptionsSection, "UseHTTPProxy", false);
  WriteBool(kOptionsSection, "UseFTPProxy", false);
  WriteBool(kOptionsSection, "PassiveMode", true);
  test::FaultHttpServer http(loop_);
  test::FaultFtpServer ftp(loop_);
  http.AddFile("/f.bin", content_);
  ftp.AddFile("/f.bin", content_);
  TFileMirror mirror(std::string(GetParam()) == "ftp" ? ftp.Url("/f.bin") : http.Url("/f.bin"));
  test::TempDir elsewhere;
  const std::string outside = elsewhere.File("outside");
  const std::string users = "the user's own bytes";
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> cases = {
      {"longer than its range", [&](const std::string& part) { test::WriteWholeFile(part, Slice(1000, 6999)); }},
      {"a link", [&](const std::string& part) { std::filesystem::create_symlink(outside, part); }},
      {"a second name", [&](const std::string& part) { std::filesystem::create_hard_link(outside, part); }},
      {"a FIFO", [](const std::string& part) { ASSERT_EQ(mkfifo(part.c_str(), 0644), 0); }},
  };
  for (const auto& [name, leave] : cases) {
    SCOPED_TRACE(name);
    test::WriteWholeFile(outside, users);
    TPartDownloadSlot slot(&loop_);
    slot.SetPartDownloaderStartByte(1000);
    slot.SetPartDownloaderEndByte(4999);
    slot.SetPartFileName(dir_.File("base.1000"));
    std::filesystem::remove(slot.PartFileName());
    leave(slot.PartFileName());
    states_.clear();
    slot.OnChange = [this](TPartDownloadSlot&, TPartDownloaderState state) { states_.push_back(state); };
    slot.Start(&mirror, 10000);
    ASSERT_TRUE(test::RunUntil(loop_, [&] { return !states_.empty() && test::Final(states_.back()); }));
    ASSERT_EQ(states_.back(), psDone) << slot.Status().Text();
    EXPECT_EQ(slot.TransferCount(), 4000);
    slot.ResizePartFile();
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(slot.PartFileName())));
    EXPECT_EQ(test::ReadWholeFile(slot.PartFileName()), Slice(1000, 4999));
    EXPECT_EQ(test::ReadWholeFile(outside), users);
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, PartDownloadSlotITest, ::testing::Values("http", "ftp"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace brindle
