#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/event_loop.h"
#include "core/memory_registry.h"
#include "core/settings.h"
#include "engine/http_part_downloader.h"
#include "support/fault_http_server.h"
#include "support/nginx_server.h"
#include "support/final_state.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

class NginxInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::NginxServer::Installed()) GTEST_SKIP() << test::NginxServer::kProgram << " is not installed";
    SetRegistry(&registry_);
    for (size_t i = 0; i < content_.size(); ++i) content_[i] = static_cast<char>((i * 2654435761u) >> 13);
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
    nginx_.AddFile("/file.bin", content_);
  }

  void TearDown() override { SetRegistry(nullptr); }

  std::string Url(const std::string& path) const { return nginx_.Url(path); }

  std::unique_ptr<THTTPPartDownloader> Make(const std::string& path, int64_t start, int64_t end) {
    return std::make_unique<THTTPPartDownloader>(Url(path), dir_.File("download"), start, end, &loop_);
  }

  static bool Final(const TPartDownloader& part) { return test::Final(part.State()); }

  EventLoop loop_;
  MemoryRegistry registry_;
  test::TempDir dir_;
  std::string content_ = std::string(3 * 1024 * 1024 + 17, '\0');
  test::NginxServer nginx_{dir_.Path(), "    location = /moved { return 302 /file.bin; }\n"};
};

TEST_F(NginxInteropTest, TwoPartsMakeTheFile) {
  const int64_t half = static_cast<int64_t>(content_.size()) / 2;
  auto first = Make("/file.bin", 0, half - 1);
  auto second = Make("/file.bin", half, 0);  // open-ended: to the end of the file
  first->Get();
  second->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*first) && Final(*second); }, 60000));
  ASSERT_EQ(first->State(), psDone) << first->ErrorStatus().Text();
  ASSERT_EQ(second->State(), psDone) << second->ErrorStatus().Text();
  EXPECT_NE(first->FileName(), second->FileName());
  EXPECT_EQ(test::ReadWholeFile(first->FileName()) + test::ReadWholeFile(second->FileName()), content_);
  // nginx answers an open-ended range with the whole file's size and its validators.
  EXPECT_EQ(second->TransferSize(), static_cast<int64_t>(content_.size()));
  EXPECT_EQ(second->ResumeText(), "Yes");
  EXPECT_FALSE(second->ETag().empty());
  EXPECT_FALSE(second->LastModified().empty());
  EXPECT_EQ(second->ETag(), first->ETag());
}

TEST_F(NginxInteropTest, RedirectionIsFollowedForNewAndResumedParts) {
  auto fresh = Make("/moved", 0, 0);
  fresh->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*fresh); }, 60000));
  ASSERT_EQ(fresh->State(), psDone) << fresh->ErrorStatus().Text();
  EXPECT_EQ(test::ReadWholeFile(fresh->FileName()), content_);
  EXPECT_EQ(fresh->Url().Url, Url("/file.bin"));

  auto resumed = std::make_unique<THTTPPartDownloader>(Url("/moved"), dir_.File("resumed.2000000"), 2000000, 0, &loop_);
  test::WriteWholeFile(resumed->FileName(), content_.substr(2000000, 1000));
  resumed->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*resumed); }, 60000));
  ASSERT_EQ(resumed->State(), psDone) << resumed->ErrorStatus().Text();
  EXPECT_EQ(test::ReadWholeFile(resumed->FileName()), content_.substr(2000000));
}

TEST_F(NginxInteropTest, MissingFileIsNotFound) {
  auto part = Make("/missing.bin", 0, 0);
  part->Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Final(*part); }, 60000));
  EXPECT_EQ(part->State(), psError);
  EXPECT_EQ(part->ErrorCode(), 4);
  EXPECT_EQ(part->ErrorStatus().Text(), "File not found");
  EXPECT_EQ(test::ReadWholeFile(part->FileName()), "");
}

}  // namespace
}  // namespace brindle
