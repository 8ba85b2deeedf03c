#include "platform/program_layout.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace brindle {
namespace {

const std::string kBin = BRINDLE_INSTALL_BINDIR;
const std::string kHostDir = BRINDLE_INSTALL_HOSTDIR;
const std::string kDataDir = BRINDLE_INSTALL_DATADIR;

TEST(ProgramLayoutTest, FindsTheOtherProgramsFromEachProgramsPlace) {
  test::TempDir temp;
  const std::string prefix = temp.File("usr");
  std::filesystem::create_directories(prefix + "/" + kDataDir + "/extension");
  test::WriteWholeFile(prefix + "/" + kDataDir + "/extension/manifest.json", "{}");
  // A bin folder without the installed extension beside it is not an
  // installation, even where a folder of Brindle's name is (the user's data).
  const std::string bare = temp.File("opt/bin");
  std::filesystem::create_directories(bare);
  std::filesystem::create_directories(temp.File("opt/" + kDataDir));
  const std::string build = temp.File("bin/build/src/app");
  const struct {
    std::string program;
    std::string prefix, desktop, host, extension;
  } cases[] = {
      {prefix + "/" + kBin + "/brindle", prefix, prefix + "/" + kBin + "/brindle",
       prefix + "/" + kHostDir + "/brindle-host", prefix + "/" + kDataDir + "/extension"},
      {prefix + "/" + kHostDir + "/brindle-host", prefix, prefix + "/" + kBin + "/brindle",
       prefix + "/" + kHostDir + "/brindle-host", prefix + "/" + kDataDir + "/extension"},
      // The running file was replaced by an upgrade: the new one is meant.
      {prefix + "/" + kBin + "/brindle (deleted)", prefix, prefix + "/" + kBin + "/brindle",
       prefix + "/" + kHostDir + "/brindle-host", prefix + "/" + kDataDir + "/extension"},
      {build + "/brindle-cli", "", build + "/brindle", build + "/brindle-host", ""},
      {bare + "/brindle", "", bare + "/brindle", bare + "/brindle-host", ""},
      {"", "", "brindle", "brindle-host", ""},
      {"brindle", "", "brindle", "brindle-host", ""},
  };
  for (const auto& c : cases) {
    const TProgramLayout layout = TProgramLayout::ForProgram(c.program);
    EXPECT_EQ(layout.Installed(), !c.prefix.empty()) << c.program;
    EXPECT_EQ(layout.Prefix(), c.prefix) << c.program;
    EXPECT_EQ(layout.DesktopProgram(), c.desktop) << c.program;
    EXPECT_EQ(layout.HostProgram(), c.host) << c.program;
    EXPECT_EQ(layout.ExtensionDirectory(), c.extension) << c.program;
  }
}

TEST(ProgramLayoutTest, ThisTestRunsFromTheBuildTree) {
  const TProgramLayout layout = TProgramLayout::ForThisProgram();
  EXPECT_FALSE(layout.Installed());
  const std::string cli = layout.CliProgram();
  EXPECT_EQ(cli.substr(0, cli.rfind('/')),
            std::filesystem::canonical("/proc/self/exe").parent_path().string());
}

}  // namespace
}  // namespace brindle
