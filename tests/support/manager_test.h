#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "core/atomic_file.h"
#include "core/memory_registry.h"
#include "core/settings.h"
#include "support/manual_clock.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brindle::test {

// Each test gets its own data directory (BRINDLE_HOME), an in-memory
// registry and a clock that stands still.
class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(&registry_);
    SetProgramClock(&clock_);
  }
  void TearDown() override {
    SetFileFaultHook({});
    SetProgramClock(nullptr);
    SetRegistry(nullptr);
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
  ScopedEnvironment env_{{{"BRINDLE_HOME", temp_.Path()}}};
};

}  // namespace brindle::test
