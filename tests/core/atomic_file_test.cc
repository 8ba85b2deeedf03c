#include "core/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/file_claim.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::FileExists;
using test::ReadWholeFile;
using test::WriteWholeFile;

class AtomicFileTest : public ::testing::Test {
 protected:
  void TearDown() override { SetFileFaultHook({}); }
  test::TempDir temp_;
};

TEST_F(AtomicFileTest, ReplacesContentAndLeavesNoTemporaryFile) {
  const std::string path = temp_.File("ABCD1234.dat");
  WriteWholeFile(path, "old content that is longer");
  // A temporary file left by a crash must not lend the new file its mode.
  WriteWholeFile(path + ".tmp", "left by a crash");
  chmod((path + ".tmp").c_str(), 0666);
  ASSERT_TRUE(WriteFileAtomically(path, "new", 0600));
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_FALSE(FileExists(path + ".tmp"));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(AtomicFileTest, FailureAtAnyStepKeepsOldFile) {
  const std::string path = temp_.File("cat.dat");
  for (const char* failing : {"open", "write", "fsync", "rename"}) {
    SCOPED_TRACE(failing);
    WriteWholeFile(path, "old");
    std::vector<std::string> steps;
    SetFileFaultHook([&](std::string_view step, const std::string& target) {
      EXPECT_EQ(target, path);
      steps.emplace_back(step);
      return step == failing ? ENOSPC : 0;
    });
    errno = 0;
    EXPECT_FALSE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(steps.back(), failing);
    EXPECT_EQ(ReadWholeFile(path), "old");
    EXPECT_FALSE(FileExists(path + ".tmp"));
  }
}

#ifdef BRINDLE_TEST_HOOKS
// Every way of claiming a name (the rename that refuses to replace; where
// the file system lacks it, a hard link; where it lacks that too, a
// placeholder) takes the first free "(n)" name and replaces nothing.
TEST_F(AtomicFileTest, ClaimFileNameNeverReplacesWhateverWayTheFileSystemAllows) {
  const std::string target = temp_.File("f.bin");
  for (const std::vector<std::string>& missing : {std::vector<std::string>{}, {"renameat2"}, {"renameat2", "link"}}) {
    SCOPED_TRACE(missing.size());
    SetFileFaultHook([&missing](std::string_view step, const std::string&) {
      return std::find(missing.begin(), missing.end(), step) != missing.end() ? EINVAL : 0;
    });
    std::filesystem::remove_all(temp_.Path());
    std::filesystem::create_directories(temp_.Path());
    WriteWholeFile(temp_.File("new"), "first");
    EXPECT_EQ(ClaimFileName(temp_.File("new"), target), target);
    WriteWholeFile(temp_.File("new"), "second");
    std::filesystem::create_symlink(temp_.File("nowhere"), temp_.File("f(1).bin"));
    EXPECT_EQ(ClaimFileName(temp_.File("new"), target), temp_.File("f(2).bin"));
    EXPECT_EQ(ReadWholeFile(target), "first");
    EXPECT_EQ(ReadWholeFile(temp_.File("f(2).bin")), "second");
    EXPECT_FALSE(FileExists(temp_.File("new")));
    EXPECT_TRUE(std::filesystem::is_symlink(temp_.File("f(1).bin")));
    // A source that is gone: nothing is claimed, nothing left behind.
    EXPECT_EQ(ClaimFileName(temp_.File("new"), target), "");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(FileExists(temp_.File("f(3).bin")));
  }
}

// The death test re-runs this test in a fresh process (so that the crash
// point reads BRINDLE_CRASH_AT anew); the child finds the file to write in
// BRINDLE_TEST_CRASH_FILE, set by the parent.
TEST(AtomicFileDeathTest, CrashBeforeRenameLeavesOldContent) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* inherited = std::getenv("BRINDLE_TEST_CRASH_FILE");
  std::optional<test::TempDir> temp;
  const std::string path = inherited ? inherited : temp.emplace().File("record.dat");
  if (!inherited) WriteWholeFile(path, "old");
  {
    test::ScopedEnvironment env({{"BRINDLE_TEST_CRASH_FILE", path}, {"BRINDLE_CRASH_AT", "atomic-write-before-rename"}});
    EXPECT_EXIT(WriteFileAtomically(path, "new"), ::testing::ExitedWithCode(86), "");
  }
  EXPECT_EQ(ReadWholeFile(path), "old");
  ASSERT_TRUE(WriteFileAtomically(path, "after"));
  EXPECT_EQ(ReadWholeFile(path), "after");
  EXPECT_FALSE(FileExists(path + ".tmp"));
}
#endif

}  // namespace
}  // namespace brindle
