#pragma once

#include <string>
#include <vector>

#include "core/launcher_port.h"

namespace brindle::test {

// Records every document opened and every program started; both succeed.
class FakeLauncher : public LauncherPort {
 public:
  bool OpenDocument(const std::string& urlOrPath) override {
    opened.push_back(urlOrPath);
    return true;
  }
  bool StartProgram(const std::vector<std::string>& argv) override {
    started.push_back(argv);
    return true;
  }
  std::vector<std::string> opened;
  std::vector<std::vector<std::string>> started;
};

}  // namespace brindle::test
