#include "core/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

// The variables the paths depend on, unset but for HOME; put back afterwards.
class PathsTest : public ::testing::Test {
 protected:
  test::ScopedEnvironment env_{{{"BRINDLE_HOME", std::nullopt},
                                {"XDG_CONFIG_HOME", std::nullopt},
                                {"XDG_DATA_HOME", std::nullopt},
                                {"XDG_DOWNLOAD_DIR", std::nullopt},
                                {"HOME", "/home/u"}}};
  test::TempDir temp_;
};

TEST_F(PathsTest, BrindleHomeHoldsEverything) {
  setenv("BRINDLE_HOME", "/tmp/portable/", 1);
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(ConfigDirectory(), "/tmp/portable");
  EXPECT_EQ(ApplicationDirectory(), "/tmp/portable/");
  EXPECT_EQ(CategoriesFile(), "/tmp/portable/cat.dat");
  EXPECT_EQ(DefaultPartialDownloadsDirectory(), "/tmp/portable/Partial Downloads");
  EXPECT_EQ(MirrorListFile(), "/tmp/portable/mirrors.lst");
  EXPECT_EQ(RegistryFile(), "/tmp/portable/registry.reg");
}

TEST_F(PathsTest, XdgDirectoriesAndTheirDefaults) {
  setenv("BRINDLE_HOME", "", 1);
  EXPECT_EQ(ConfigDirectory(), "/home/u/.config/brindle");
  EXPECT_EQ(ApplicationDirectory(), "/home/u/.local/share/brindle/");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  setenv("XDG_DATA_HOME", "/data/", 1);
  EXPECT_EQ(RegistryFile(), "/cfg/brindle/registry.reg");
  EXPECT_EQ(CategoriesFile(), "/data/brindle/cat.dat");
  setenv("XDG_DATA_HOME", "relative/data", 1);  // invalid by the XDG rules
  EXPECT_EQ(DataDirectory(), "/home/u/.local/share/brindle");
}

TEST_F(PathsTest, DownloadDirectory) {
  EXPECT_EQ(DefaultDownloadDirectory(), "/home/u/Downloads");
  setenv("XDG_CONFIG_HOME", temp_.Path().c_str(), 1);
  test::WriteWholeFile(temp_.File("user-dirs.dirs"), "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n");
  EXPECT_EQ(DefaultDownloadDirectory(), "/home/u/Fetched");
  setenv("XDG_DOWNLOAD_DIR", "/srv/dl", 1);
  EXPECT_EQ(DefaultDownloadDirectory(), "/srv/dl");
}

TEST(UserDirsTest, DownloadEntry) {
  const std::pair<const char*, const char*> cases[] = {
      {"XDG_MUSIC_DIR=\"$HOME/M\"\nXDG_DOWNLOAD_DIR=\"/abs/dl/\"", "/abs/dl"},
      {"XDG_DOWNLOAD_DIR=\"$HOME/My \\\"Files\\\"\"\n", "/h/My \"Files\""},
      {"XDG_DOWNLOAD_DIR=\"relative\"\n", ""},
      {"XDG_DOWNLOAD_DIR=\"/first\"\nXDG_DOWNLOAD_DIR=\"/second\"\n", "/second"},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(UserDirectoryFromUserDirs(text, "XDG_DOWNLOAD_DIR", "/h"), expected) << text;
  EXPECT_EQ(UserDirectoryFromUserDirs(cases[0].first, "XDG_MUSIC_DIR", "/h"), "/h/M");
}

TEST(EnsureDirectoryTest, CreatesParentsWithMode) {
  test::TempDir temp;
  ASSERT_TRUE(EnsureDirectory(temp.File("a/b/c"), 0700));
  struct stat info {};
  ASSERT_EQ(stat(temp.File("a/b").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(EnsureDirectory(temp.File("a/b/c")));
  test::WriteWholeFile(temp.File("file"), "x");
  EXPECT_FALSE(EnsureDirectory(temp.File("file")));
  EXPECT_FALSE(EnsureDirectory(temp.File("file/sub")));
}

TEST(DirectoryWriteErrorTest, LeavesNothingBehindAndSaysWhy) {
  test::TempDir temp;
  EXPECT_EQ(DirectoryWriteError(temp.Path()), 0);
  EXPECT_TRUE(std::filesystem::is_empty(temp.Path()));
  EXPECT_EQ(DirectoryWriteError(temp.File("missing")), ENOENT);
}

}  // namespace
}  // namespace brindle
