#pragma once

#include "core/launcher_port.h"

namespace brindle {

// The desktop's launcher: documents and URLs through xdg-open, programs
// started directly. Both detached; neither waits.
class XdgLauncher final : public LauncherPort {
 public:
  bool OpenDocument(const std::string& urlOrPath) override;
  bool StartProgram(const std::vector<std::string>& argv) override;
  // Asks xdg-mime for the file's type and its default application.
  bool HasOpener(const std::string& path) override;
};

}  // namespace brindle
