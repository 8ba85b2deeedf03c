#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "core/memory_registry.h"
#include "core/prompt_port.h"
#include "core/settings.h"
#include "support/manual_clock.h"
#include "support/temp_dir.h"

namespace brindle::test {

// Each test gets its own data directory (BRINDLE_HOME), an in-memory
// registry and a clock that stands still.
class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("BRINDLE_HOME")) savedHome_ = home;
    setenv("BRINDLE_HOME", temp_.Path().c_str(), 1);
    SetRegistry(&registry_);
    SetProgramClock(&clock_);
  }
  void TearDown() override {
    SetFileFaultHook({});
    SetProgramClock(nullptr);
    SetRegistry(nullptr);
    if (savedHome_) setenv("BRINDLE_HOME", savedHome_->c_str(), 1);
    else unsetenv("BRINDLE_HOME");
  }
  // Every atomic write of path fails at its rename.
  static void FailWritesOf(const std::string& path) {
    SetFileFaultHook([path](std::string_view step, const std::string& target) {
      return step == "rename" && target == path ? ENOSPC : 0;
    });
  }

  TempDir temp_;
  MemoryRegistry registry_;
  ManualClock clock_;
  std::optional<std::string> savedHome_;
};

// Answers every question with yes (or no) at once and records every text.
class ScriptedPrompt : public PromptPort {
 public:
  void Ask(const std::string&, const std::string& question, std::function<void(bool)> answer) override {
    texts.push_back(question);
    answer(yes);
  }
  void Message(const std::string&, const std::string& text, std::function<void()> done) override {
    texts.push_back(text);
    if (done) done();
  }
  bool yes = true;
  std::vector<std::string> texts;
};

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
