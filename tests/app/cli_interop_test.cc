#include <gtest/gtest.h>

#include <string>

#include "cli_process.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

// brindle-cli against Debian's nginx. A resume from nginx, and four parts
// over TLS, are the https interop tests'.
class CliInteropTest : public test::CliProcessTest {
 protected:
  void SetUp() override {
    if (!test::NginxServer::Installed()) GTEST_SKIP() << test::NginxServer::kProgram << " is not installed";
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
  }

  test::TempDir www_;
  test::NginxServer nginx_{www_.Path()};
};

TEST_F(CliInteropTest, LimitRateFinishesALimitedFileExactAndStoresNothing) {
  // The rate reached is the benchmark's to report; here only that a file
  // read at the cap over four parts arrives whole, and that the limit was
  // for this run only.
  const std::string big = test::MakeContent(20 * 1024 * 1024);
  nginx_.AddFile("/big.bin", big);
  const test::Outcome outcome = Cli({"-q", "-s", "4", "--limit-rate", "2M", "-d", out_.Path(), nginx_.Url("/big.bin")});
  ASSERT_EQ(outcome.Status, 0) << outcome.Err;
  EXPECT_EQ(outcome.Out, "Done " + out_.File("big.bin") + "\n");
  EXPECT_TRUE(test::ReadWholeFile(out_.File("big.bin")) == big);
  EXPECT_EQ(test::ReadWholeFile(home_.File("registry.reg")).find("SpeedLimit"), std::string::npos);
}

}  // namespace
}  // namespace brindle
