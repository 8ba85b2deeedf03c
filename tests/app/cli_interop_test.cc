#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli_process.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::NginxLogLine;
using test::Outcome;

// First and last byte of "bytes=N-M" ("bytes=N-": last -1).
std::pair<int64_t, int64_t> RangeOf(const std::string& header) {
  const size_t dash = header.find('-');
  const std::string last = header.substr(dash + 1);
  return {std::stoll(header.substr(6, dash - 6)), last.empty() ? -1 : std::stoll(last)};
}

// brindle-cli against Debian's nginx. Under /slow/ every answer is sent at
// 512 KiB/s, so that a download can be caught in the middle; nginx logs each
// request's Range header.
class CliInteropTest : public test::CliProcessTest {
 protected:
  void SetUp() override {
    if (!test::NginxServer::Installed()) GTEST_SKIP() << test::NginxServer::kProgram << " is not installed";
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
    nginx_.AddFile("/f.bin", content_);
    nginx_.AddFile("/g.bin", content_.substr(0, 600 * 1024));
  }
  std::vector<NginxLogLine> Log(const std::string& uri, size_t from = 0) const {
    std::vector<NginxLogLine> lines;
    const std::vector<NginxLogLine> all = nginx_.AccessLog();
    for (size_t i = from; i < all.size(); ++i)
      if (all[i].Uri == uri) lines.push_back(all[i]);
    return lines;
  }

  const std::string content_ = test::MakeContent(2 * 1024 * 1024 + 123);
  test::TempDir www_;
  test::NginxServer nginx_{www_.Path(), "    location /slow/ { rewrite ^/slow(/.*)$ $1 break; limit_rate 512k; }\n"};
};

TEST_F(CliInteropTest, FourPartDownloadIsByteIdentical) {
  // Slowed down, so that the first part cannot reach its end (and take over
  // the next range) before the others have started.
  const Outcome outcome = Cli({"-q", "-s", "4", "-d", out_.Path(), nginx_.Url("/slow/f.bin")});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_EQ(outcome.Out, "Done " + out_.File("f.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  std::vector<int64_t> starts;
  for (const NginxLogLine& line : Log("/slow/f.bin")) {
    EXPECT_TRUE(line.Status == 206 || line.Status == 200) << line.Status;
    starts.push_back(line.Range.empty() ? 0 : RangeOf(line.Range).first);
  }
  std::sort(starts.begin(), starts.end());
  // Slot 0 asks from byte 0; the other three split what it had not received
  // when the size came, in equal parts.
  ASSERT_EQ(starts.size(), 4u);
  EXPECT_EQ(starts[0], 0);
  EXPECT_GT(starts[1], 0);
  EXPECT_EQ(starts[2] - starts[1], starts[3] - starts[2]);
}

TEST_F(CliInteropTest, InterruptedDownloadResumesWithoutAskingForBytesOnDisk) {
  const std::string url = nginx_.Url("/slow/f.bin");
  Start({"-s", "4", "-d", out_.Path(), url});
  ASSERT_TRUE(WaitForParts(4, 32 * 1024));
  Kill(SIGINT);
  const Outcome interrupted = Wait();
  ASSERT_EQ(interrupted.Status, 130) << interrupted.Err;
  EXPECT_FALSE(test::FileExists(out_.File("f.bin")));
  const auto parts = PartFiles();
  ASSERT_EQ(parts.size(), 4u);
  // nginx logs a request when it notices the closed connection.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Log("/slow/f.bin").size() < 4 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const size_t before = nginx_.AccessLog().size();

  const Outcome resumed = Cli({"-q", "-d", out_.Path(), url});
  ASSERT_EQ(resumed.Status, 0) << resumed.Err;
  EXPECT_EQ(resumed.Out, "Done " + out_.File("f.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("f.bin")) == content_);
  // Every request starts where a part file ended; its open end is cut by
  // brindle-cli itself once the part is complete.
  std::multiset<int64_t> expected, asked;
  for (const auto& [start, size] : parts) expected.insert(start + size);
  for (const NginxLogLine& line : Log("/slow/f.bin", before)) {
    ASSERT_FALSE(line.Range.empty());
    asked.insert(RangeOf(line.Range).first);
  }
  EXPECT_EQ(asked, expected);
}

TEST_F(CliInteropTest, LimitRateFinishesALimitedFileExactAndStoresNothing) {
  // The rate reached is the benchmark's to report; here only that a file
  // read at the cap over four parts arrives whole, and that the limit was
  // for this run only.
  const std::string big = test::MakeContent(20 * 1024 * 1024);
  nginx_.AddFile("/big.bin", big);
  const Outcome outcome = Cli({"-q", "-s", "4", "--limit-rate", "2M", "-d", out_.Path(), nginx_.Url("/big.bin")});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_TRUE(test::ReadWholeFile(out_.File("big.bin")) == big);
  EXPECT_EQ(test::ReadWholeFile(home_.File("registry.reg")).find("SpeedLimit"), std::string::npos);
}

}  // namespace
}  // namespace brindle
