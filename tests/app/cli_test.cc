#include <gtest/gtest.h>

#include "app/cli_options.h"
#include "app/cli_registry_overlay.h"
#include "core/memory_registry.h"
#include "core/settings.h"

namespace brindle {
namespace {

TEST(CliOptionsTest, ReadsEveryOptionForm) {
  std::string error;
  const auto options = ParseCliOptions({"-d", "dir", "--output=f.zip", "-s4", "--jobs", "2", "--retries", "0",
                                        "--retry-delay=5", "-q", "--shutdown-when-done", "--", "http://h/a"},
                                       error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->Dir, "dir");
  EXPECT_EQ(options->Output, "f.zip");
  EXPECT_EQ(options->Split, 4);
  EXPECT_EQ(options->Jobs, 2);
  EXPECT_EQ(options->Retries, 0);
  EXPECT_EQ(options->RetryDelay, 5);
  EXPECT_TRUE(options->Quiet);
  EXPECT_TRUE(options->ShutdownWhenDone);
  EXPECT_EQ(options->Urls, std::vector<std::string>{"http://h/a"});
}

TEST(CliOptionsTest, RefusesBadUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {"-j", "0", "http://h/a"}, {"-s", "x", "http://h/a"}, {"--split"},  {"-o", "a/b", "http://h/a"},
      {"--retries=-1", "http://h/a"}, {"-d", "", "http://h/a"}, {"--nope", "http://h/a"},
  };
  for (const auto& args : cases) {
    std::string error;
    EXPECT_FALSE(ParseCliOptions(args, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(CliOptionsTest, SupportsHttpHttpsAndFtpOnly) {
  EXPECT_TRUE(SupportedAddress("http://h/a.zip"));
  EXPECT_TRUE(SupportedAddress("FTP://h/a.zip"));
  EXPECT_TRUE(SupportedAddress("https://h/a.zip"));
  EXPECT_FALSE(SupportedAddress("gopher://h/a.zip"));
  EXPECT_FALSE(SupportedAddress("www.h.org/a.zip"));
  EXPECT_FALSE(SupportedAddress("http:///a.zip"));
  EXPECT_FALSE(SupportedAddress("mailto:a@b.c"));
}

TEST(CliRegistryOverlayTest, OverridesAreReadButNeverStored) {
  MemoryRegistry stored;
  TCliRegistryOverlay overlay(stored);
  SetRegistry(&overlay);
  WriteInteger(kOptionsSection, "SplitParts", 8);
  overlay.Override(kOptionsSection, "SplitParts", 2);
  EXPECT_EQ(ReadInteger(kOptionsSection, "SplitParts", 4), 2);
  WriteInteger(kOptionsSection, "SplitParts", 3);  // the run's value only
  EXPECT_EQ(ReadInteger(kOptionsSection, "SplitParts", 4), 3);
  WriteInteger(kOptionsSection, "RetryTimes", 7);
  SetRegistry(nullptr);
  SetRegistry(&stored);
  EXPECT_EQ(ReadInteger(kOptionsSection, "SplitParts", 4), 8);
  EXPECT_EQ(ReadInteger(kOptionsSection, "RetryTimes", 10), 7);
  SetRegistry(nullptr);
}

}  // namespace
}  // namespace brindle
