#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace brindle::test {

// A crash in the middle of a save. The death test re-runs the whole test in
// a fresh process (so that the crash point reads BRINDLE_CRASH_AT anew);
// that child finds the parent's directory in BRINDLE_TEST_CRASH_DIR and must
// not prepare it again (InParent).
class CrashScene {
 public:
  CrashScene() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (const char* inherited = std::getenv("BRINDLE_TEST_CRASH_DIR")) dir_ = inherited;
    else dir_ = temp_.emplace().Path();
  }
  bool InParent() const { return temp_.has_value(); }
  const std::string& Dir() const { return dir_; }
  // save must reach the atomic writer's crash point before its rename.
  void ExpectCrash(const std::function<void()>& save) {
    setenv("BRINDLE_TEST_CRASH_DIR", dir_.c_str(), 1);
    setenv("BRINDLE_CRASH_AT", "atomic-write-before-rename", 1);
    EXPECT_EXIT(save(), ::testing::ExitedWithCode(86), "");
    unsetenv("BRINDLE_TEST_CRASH_DIR");
    unsetenv("BRINDLE_CRASH_AT");
  }

 private:
  std::optional<TempDir> temp_;
  std::string dir_;
};

}  // namespace brindle::test
