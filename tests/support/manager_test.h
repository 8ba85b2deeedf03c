#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/atomic_file.h"
#include "core/memory_registry.h"
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

}  // namespace brindle::test
