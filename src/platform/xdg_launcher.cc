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

bool XdgLauncher::HasOpener(const std::string& path) {
  try {
    constexpr int kTimeoutMs = 5000;
    const auto trimmed = [](std::string text) {
      while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
      return text;
    };
    std::string type;
    if (RunProcessCapture({"xdg-mime", "query", "filetype", path}, type, kTimeoutMs) != 0) return true;
    type = trimmed(type);
    if (type.empty()) return true;
    std::string application;
    if (RunProcessCapture({"xdg-mime", "query", "default", type}, application, kTimeoutMs) < 0) return true;
    return !trimmed(application).empty();
  } catch (...) {
    LogError("HasOpener");
  }
  return true;
}

}  // namespace brindle
