#include "core/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>

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

TEST_F(AtomicFileTest, DirectoryWriteTestLeavesNothingBehindAndTellsWhyItFailed) {
  EXPECT_EQ(DirectoryWriteError(temp_.Path()), 0);
  EXPECT_TRUE(std::filesystem::is_empty(temp_.Path()));
  EXPECT_EQ(DirectoryWriteError(temp_.File("missing")), ENOENT);
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
// The death test re-runs this test in a fresh process (so that the crash
// point reads BRINDLE_CRASH_AT anew); the child finds the file to write in
// BRINDLE_TEST_CRASH_FILE, set by the parent.
TEST(AtomicFileDeathTest, CrashBeforeRenameLeavesOldContent) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* inherited = std::getenv("BRINDLE_TEST_CRASH_FILE");
  std::optional<test::TempDir> temp;
  std::string path;
  if (inherited) {
    path = inherited;
  } else {
    temp.emplace();
    path = temp->File("record.dat");
    WriteWholeFile(path, "old");
    setenv("BRINDLE_TEST_CRASH_FILE", path.c_str(), 1);
    setenv("BRINDLE_CRASH_AT", "atomic-write-before-rename", 1);
  }
  EXPECT_EXIT(WriteFileAtomically(path, "new"), ::testing::ExitedWithCode(86), "");
  unsetenv("BRINDLE_TEST_CRASH_FILE");
  unsetenv("BRINDLE_CRASH_AT");
  EXPECT_EQ(ReadWholeFile(path), "old");
  ASSERT_TRUE(WriteFileAtomically(path, "after"));
  EXPECT_EQ(ReadWholeFile(path), "after");
  EXPECT_FALSE(FileExists(path + ".tmp"));
}
#endif

}  // namespace
}  // namespace brindle
