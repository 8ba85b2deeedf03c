#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/memory_registry.h"
#include "core/settings.h"
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
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    if (const char* home = std::getenv("BRINDLE_HOME")) savedHome_ = home;
    setenv("BRINDLE_HOME", temp_.Path().c_str(), 1);
    // Browser integration is on by default and writes into the user's
    // browser directories: those of a home of the test's own.
    if (const char* home = std::getenv("HOME")) savedUserHome_ = home;
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) savedUserConfig_ = config;
    setenv("HOME", temp_.File("home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", temp_.File("home/.config").c_str(), 1);
    SetRegistry(&registry_);
  }
  void TearDown() override {
    SetRegistry(nullptr);
    if (savedHome_) setenv("BRINDLE_HOME", savedHome_->c_str(), 1);
    else unsetenv("BRINDLE_HOME");
    if (savedUserHome_) setenv("HOME", savedUserHome_->c_str(), 1);
    else unsetenv("HOME");
    if (savedUserConfig_) setenv("XDG_CONFIG_HOME", savedUserConfig_->c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
  }

  TempDir temp_;
  MemoryRegistry registry_;
  std::optional<std::string> savedHome_;
  std::optional<std::string> savedUserHome_;
  std::optional<std::string> savedUserConfig_;
};

}  // namespace brindle::test
