#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <string>

#include "core/memory_registry.h"
#include "core/settings.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brindle::test {

// The one QApplication of the test program, on the offscreen platform.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* app = [] {
    auto* created = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *app;
}

// Each test gets its own profile (BRINDLE_HOME) and an in-memory registry.
// Browser integration is on by default and writes into the user's browser
// directories: those of a home of the test's own.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistry(&registry_); }
  void TearDown() override { SetRegistry(nullptr); }

  QApplication& app_ = App();  // before the test's HOME, as the program starts
  TempDir temp_;
  MemoryRegistry registry_;
  ScopedEnvironment env_{{{"BRINDLE_HOME", temp_.Path()},
                          {"HOME", temp_.File("home")},
                          {"XDG_CONFIG_HOME", temp_.File("home/.config")}}};
};

}  // namespace brindle::test
