#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/cli_options.h"
#include "app/cli_progress.h"
#include "app/cli_registry_overlay.h"
#include "core/memory_registry.h"
#include "core/settings_schema.h"

namespace brindle {
namespace {

TEST(CliOptionsTest, ReadsEveryOptionForm) {
  std::string error;
  const auto options =
      ParseCliOptions({"-d", "dir", "--output=f.zip", "-s4", "--jobs", "2", "--retries", "0", "--retry-delay=5", "-q",
                       "--shutdown-when-done", "--checksum=MD5=900150983CD24FB0D6963F7D28E17F72", "--", "http://h/a"},
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
  EXPECT_EQ(options->Checksum->Text(), "md5=900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(options->Urls, std::vector<std::string>{"http://h/a"});
}

TEST(CliOptionsTest, RefusesBadUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {"-j", "0", "http://h/a"}, {"-s", "x", "http://h/a"}, {"--split"},  {"-o", "a/b", "http://h/a"},
      {"--retries=-1", "http://h/a"}, {"-d", "", "http://h/a"}, {"--nope", "http://h/a"},
      {"--unzip", "a.zip", "d", "e"}, {"--unzip", "a.zip", "-s", "2"}, {"--unzip"}, {"--unzip", "dir.d/archive"},
      {"--force", "http://h/a"},
  };
  for (const auto& args : cases) {
    std::string error;
    EXPECT_FALSE(ParseCliOptions(args, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(CliOptionsTest, ChecksumIsCheckedAndGoesWithOneDownload) {
  const std::string md5 = "md5=900150983cd24fb0d6963f7d28e17f72";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--checksum", "sha1=00", "http://h/a"}, "bad value for --checksum: sha1 takes 40 hex digits, not 2"},
      {{"--checksum", md5, "http://h/a", "http://h/b"}, "--checksum takes one URL only"},
      {{"--unzip", "a.zip", "--checksum", md5}, "--unzip takes no download options"},
  };
  for (const auto& [args, why] : cases) {
    std::string error;
    EXPECT_FALSE(ParseCliOptions(args, error)) << args[1];
    EXPECT_EQ(error, why);
  }
}

TEST(CliOptionsTest, LimitRateTakesBytesKilobytesAndMegabytes) {
  const std::pair<const char*, int64_t> valid[] = {
      {"0", 0},          {"1", 1},       {"1500", 1500},          {"500K", 512000},     {"500k", 512000},
      {"2M", 2097152},   {"2m", 2097152}, {"1.5M", 1572864},      {"0.5K", 512},        {"007", 7},
      {"999999999999M", 999999999999LL * 1048576},
  };
  for (const auto& [text, bytes] : valid) {
    std::string error;
    const auto options = ParseCliOptions({std::string("--limit-rate=") + text, "http://h/a"}, error);
    ASSERT_TRUE(options) << text << ": " << error;
    EXPECT_EQ(options->LimitRate, bytes) << text;
  }
  for (const char* text : {"", "K", "M", "-1", "2G", "2MB", "1.", ".5M", "1.2.3", "1,5M", " 2M", "2M ", "0x10",
                           "1e3", "9999999999999", "1.0000000001K"}) {
    std::string error;
    EXPECT_FALSE(ParseCliOptions({"--limit-rate", text, "http://h/a"}, error)) << text;
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_FALSE(ParseCliOptions({"http://h/a"}, error)->LimitRate);  // not given: the stored setting
  EXPECT_FALSE(ParseCliOptions({"--unzip", "a.zip", "--limit-rate", "1M"}, error));
}

TEST(CliOptionsTest, UnzipTakesAnArchiveAndAnOptionalDirectory) {
  std::string error;
  auto options = ParseCliOptions({"--unzip", "a.zip", "out"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->Unzip, "a.zip");
  EXPECT_EQ(options->UnzipDir, "out");
  EXPECT_TRUE(options->Urls.empty());
  EXPECT_FALSE(options->Force);
  options = ParseCliOptions({"--unzip", "a.zip", "out", "--force"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->UnzipDir, "out");
  EXPECT_TRUE(options->Force);
  options = ParseCliOptions({"--unzip=/x/a.b.zip"}, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->UnzipDir, "");
  EXPECT_EQ(DefaultUnzipDirectory("/x/a.b.zip"), "/x/a.b");
  EXPECT_EQ(DefaultUnzipDirectory("a.zip"), "a");
  EXPECT_EQ(DefaultUnzipDirectory("/x/.zip"), "");
  EXPECT_EQ(DefaultUnzipDirectory("/x.d/archive"), "");
}

// On a terminal the live lines are redrawn in place (cursor up over them,
// clear to the end); a lasting line goes above them. Elsewhere only lasting
// lines are written. A name's control characters are shown escaped.
TEST(CliProgressTest, LiveLinesAreRedrawnInPlaceOnlyOnATerminal) {
  for (const bool terminal : {true, false}) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    {
      TCliProgress progress(out, terminal);
      progress.SetLiveLines({"a 10%", "b 20%"});
      progress.SetLiveLines({"a 10%", "b 20%"});  // unchanged: not drawn again
      progress.SetLiveLines({"a\x1b[2J 50%"});
      progress.PrintLine("Done a\nDone b");
      progress.Clear();
    }
    std::fclose(out);
    const std::string written(text, size);
    std::free(text);
    EXPECT_EQ(written, terminal ? "a 10%\nb 20%\n\r\x1b[2A\x1b[Ja\\x1b[2J 50%\n\r\x1b[1A\x1b[JDone a\\x0aDone b\n"
                                  "a\\x1b[2J 50%\n\r\x1b[1A\x1b[J"
                                : "Done a\\x0aDone b\n");
  }
}

TEST(CliRegistryOverlayTest, OverridesAreReadButNeverStored) {
  MemoryRegistry stored;
  TCliRegistryOverlay overlay(stored);
  SetRegistry(&overlay);
  WriteInteger(kOptionsSection, "SplitParts", 8);
  overlay.Override(setting::SplitParts, 2);
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
