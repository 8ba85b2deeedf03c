// brindle-host: the native messaging host the browser extension talks to.
// A browser starts it with its own arguments (Chromium the caller's origin,
// Firefox the manifest's path and the add-on's id), which are not needed:
// the manifests already limit who may call it.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/paths.h"
#include "core/settings_schema.h"
#include "core/text_file.h"
#include "integration/browser_host.h"
#include "platform/broken_pipe_signal.h"
#include "platform/hand_over_client.h"
#include "platform/hand_over_socket.h"
#include "platform/process_start.h"
#include "platform/program_layout.h"
#include "platform/registry_hive_file.h"

using namespace brindle;

namespace {

std::string DesktopProgram() {
  const std::string installed = TProgramLayout::ForThisProgram().DesktopProgram();
  if (access(installed.c_str(), X_OK) == 0) return installed;
  // Where the desktop program recorded itself at its last start.
  const auto recorded = Registry().GetValue(kProductKey, "Path");
  if (recorded && recorded->Type == RegistryType::String && !recorded->Data.empty()) return recorded->Data;
  return "brindle";
}

}  // namespace

int main() {
  IgnoreBrokenPipeSignal();
  // The settings are only read here: the running program owns the file,
  // so the host keeps them in memory and never writes them back.
  RegistryHiveFile hive;
  std::string text;
  if (ReadFileText(RegistryFile(), text) == TReadResult::Ok) hive.Parse(text);
  SetRegistry(&hive);
  StoreDefaultExtensionsIfEmpty();

  TBrowserHost host;
  const std::string socketPath = HandOverSocketPath(ConfigDirectory());
  host.HandOver = [&socketPath](const THandOverRequest& request) { return brindle::HandOver(socketPath, request, 10000); };
  host.StartProgram = [] { return StartDetachedProcess({DesktopProgram()}, true); };
  std::string error;
  const int status = host.Run(STDIN_FILENO, STDOUT_FILENO, error);
  if (status != 0) std::fprintf(stderr, "brindle-host: %s\n", error.c_str());
  SetRegistry(nullptr);
  return status;
}
