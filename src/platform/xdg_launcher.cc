#include "platform/xdg_launcher.h"

#include "core/log_error.h"
#include "platform/process_start.h"

namespace brindle {

bool XdgLauncher::OpenDocument(const std::string& urlOrPath) {
  try {
    if (urlOrPath.empty()) return false;
    return StartDetachedProcess({"xdg-open", urlOrPath});
  } catch (...) {
    LogError("OpenDocument");
  }
  return false;
}

bool XdgLauncher::StartProgram(const std::vector<std::string>& argv) { return StartDetachedProcess(argv); }

}  // namespace brindle
