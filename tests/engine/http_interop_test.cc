#include <gtest/gtest.h>

#include <string>

#include "engine/http_part_downloader.h"
#include "support/fault_http_server.h"
#include "support/nginx_server.h"
#include "support/part_downloader_test.h"
#include "support/temp_dir.h"
#include "support/test_content.h"

namespace brindle {
namespace {

// A part downloader against Debian's nginx.
class NginxInteropTest : public test::PartDownloaderTest {
 protected:
  void SetUp() override {
    if (!test::NginxServer::Installed()) GTEST_SKIP() << test::NginxServer::kProgram << " is not installed";
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
    content_ = test::MakeContent(3 * 1024 * 1024 + 17);
    nginx_.AddFile("/file.bin", content_);
  }

  test::NginxServer nginx_{dir_.Path()};
};

TEST_F(NginxInteropTest, TwoPartsMakeTheFile) {
  const int64_t half = static_cast<int64_t>(content_.size()) / 2;
  THTTPPartDownloader first(nginx_.Url("/file.bin"), dir_.File("first"), 0, half - 1, &loop_);
  THTTPPartDownloader second(nginx_.Url("/file.bin"), dir_.File("second"), half, 0, &loop_);  // to the end
  first.Get();
  second.Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return test::Final(first.State()) && test::Final(second.State()); }, 60000));
  ASSERT_EQ(first.State(), psDone) << first.ErrorStatus().Text();
  ASSERT_EQ(second.State(), psDone) << second.ErrorStatus().Text();
  EXPECT_EQ(test::ReadWholeFile(first.FileName()) + test::ReadWholeFile(second.FileName()), content_);
  // nginx answers an open-ended range with the whole file's size and its validators.
  EXPECT_EQ(second.TransferSize(), static_cast<int64_t>(content_.size()));
  EXPECT_EQ(second.ResumeText(), "Yes");
  EXPECT_FALSE(second.ETag().empty());
  EXPECT_FALSE(second.LastModified().empty());
  EXPECT_EQ(second.ETag(), first.ETag());
}

}  // namespace
}  // namespace brindle
