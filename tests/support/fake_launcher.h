#pragma once

#include <string>
#include <vector>

#include "core/launcher_port.h"

namespace brindle::test {

// Records every document opened and every program started; both succeed
// unless told to fail (nothing to open it with).
class FakeLauncher : public LauncherPort {
 public:
  bool OpenDocument(const std::string& urlOrPath) override {
    opened.push_back(urlOrPath);
    return !fails;
  }
  bool StartProgram(const std::vector<std::string>& argv) override {
    started.push_back(argv);
    return !fails;
  }
  bool HasOpener(const std::string&) override { return !fails; }
  bool fails = false;
  std::vector<std::string> opened;
  std::vector<std::vector<std::string>> started;
};

}  // namespace brindle::test
