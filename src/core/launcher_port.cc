#include "core/launcher_port.h"

#include <atomic>

namespace brindle {
namespace {

class NoLauncher final : public LauncherPort {
 public:
  bool OpenDocument(const std::string&) override { return false; }
  bool StartProgram(const std::vector<std::string>&) override { return false; }
};

NoLauncher gNoLauncher;
std::atomic<LauncherPort*> gLauncher{nullptr};

}  // namespace

LauncherPort& Launcher() {
  LauncherPort* port = gLauncher.load();
  return port != nullptr ? *port : gNoLauncher;
}

void SetLauncher(LauncherPort* port) { gLauncher.store(port); }

}  // namespace brindle
