#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/http_part_downloader.h"
#include "support/nginx_server.h"
#include "support/part_downloader_test.h"
#include "support/temp_dir.h"
#include "support/test_content.h"
#include "support/web_server_process.h"

namespace brindle {
namespace {

struct ServerCase {
  const char* Name;
  const char* Program;
  std::function<std::unique_ptr<test::WebServerProcess>(const std::string& directory)> Make;
};

// Part downloaders against Debian's nginx and lighttpd (which honours Range
// only in an HTTP/1.1 request).
class HttpInteropTest : public test::PartDownloaderTest, public ::testing::WithParamInterface<ServerCase> {
 protected:
  void SetUp() override {
    if (access(GetParam().Program, X_OK) != 0) GTEST_SKIP() << GetParam().Program << " is not installed";
    server_ = GetParam().Make(dir_.File("server"));
    ASSERT_TRUE(server_->Start()) << server_->Error();
    content_ = test::MakeContent(3 * 1024 * 1024 + 17);
    server_->AddFile("/file.bin", content_);
  }

  std::unique_ptr<test::WebServerProcess> server_;
};

// Two parts, the second resuming after the bytes its part file holds.
TEST_P(HttpInteropTest, TwoPartsOneResumedMakeTheFile) {
  const int64_t half = static_cast<int64_t>(content_.size()) / 2;
  THTTPPartDownloader first(server_->Url("/file.bin"), dir_.File("first"), 0, half - 1, &loop_);
  THTTPPartDownloader second(server_->Url("/file.bin"), dir_.File("second"), half, 0, &loop_);  // to the end
  test::WriteWholeFile(second.FileName(), content_.substr(half, 1000));
  first.Get();
  second.Get();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return test::Final(first.State()) && test::Final(second.State()); }, 60000));
  ASSERT_EQ(first.State(), psDone) << first.ErrorStatus().Text();
  ASSERT_EQ(second.State(), psDone) << second.ErrorStatus().Text();
  EXPECT_TRUE(test::ReadWholeFile(first.FileName()) + test::ReadWholeFile(second.FileName()) == content_);
  // An open-ended range is answered with the whole file's size.
  EXPECT_EQ(second.TransferSize(), static_cast<int64_t>(content_.size()));
  EXPECT_EQ(second.ResumeText(), "Yes");
  EXPECT_EQ(second.ETag(), first.ETag());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, HttpInteropTest,
    ::testing::Values(
        ServerCase{"Nginx", test::NginxServer::kProgram,
                   [](const std::string& d) { return std::make_unique<test::NginxServer>(d); }},
        ServerCase{"Lighttpd", test::LighttpdServer::kProgram,
                   [](const std::string& d) { return std::make_unique<test::LighttpdServer>(d); }}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace brindle
