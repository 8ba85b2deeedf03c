#pragma once

#include <string>
#include <vector>

namespace brindle {

// Opening documents and starting programs. Neither waits for what it starts.
class LauncherPort {
 public:
  virtual ~LauncherPort() = default;
  // Opens a URL in the browser or a file with its associated program.
  virtual bool OpenDocument(const std::string& urlOrPath) = 0;
  // Starts argv[0] (searched in PATH) with the other items as its
  // arguments, never through a shell. False when it could not be started.
  virtual bool StartProgram(const std::vector<std::string>& argv) = 0;
  // Whether the desktop names a program that opens a file of that path's
  // type; true when it cannot tell. OpenDocument alone cannot say: it does
  // not wait for the opener.
  virtual bool HasOpener(const std::string& /*path*/) { return true; }
};

// The launcher of the program. The default starts nothing and returns
// false; the program installs the desktop's launcher at start, tests a
// fake. The caller keeps ownership; nullptr restores the default.
LauncherPort& Launcher();
void SetLauncher(LauncherPort* port);

}  // namespace brindle
