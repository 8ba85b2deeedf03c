#include "integration/browser_integration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/atomic_file.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/settings_schema.h"
#include "core/text_file.h"
#include "integration/browser_request.h"
#include "platform/program_layout.h"

namespace brindle {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ManifestText(const std::string& hostPath, const char* allowedKey, const std::string& allowed) {
  return "{\n  \"name\": " + JsonQuote(kNativeHostName) + ",\n  \"description\": \"Brindle download manager\",\n" +
         "  \"path\": " + JsonQuote(hostPath) + ",\n  \"type\": \"stdio\",\n  \"" + allowedKey + "\": [" +
         JsonQuote(allowed) + "]\n}\n";
}

std::string ManifestFileName() { return std::string(kNativeHostName) + ".json"; }

}  // namespace

TBrowserIntegration::TBrowserIntegration(std::string home, std::string configHome, std::string hostPath)
    : home_(std::move(home)), configHome_(std::move(configHome)), hostPath_(std::move(hostPath)) {}

TBrowserIntegration TBrowserIntegration::ForThisProgram() {
  const char* homeVariable = std::getenv("HOME");
  const std::string home = homeVariable ? homeVariable : "";
  const char* configVariable = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
  const std::string configHome =
      configVariable && configVariable[0] == '/' ? std::string(configVariable) : home + "/.config";
  // A manifest naming a host that is not there would only make the
  // browser report an error: without one, nothing is installed.
  const std::string host = TProgramLayout::ForThisProgram().HostProgram();
  return TBrowserIntegration(home, configHome, access(host.c_str(), X_OK) == 0 ? host : "");
}

std::vector<std::string> TBrowserIntegration::ChromiumManifests() const {
  std::vector<std::string> paths;
  for (const char* always : {"chromium", "google-chrome"})
    paths.push_back(configHome_ + "/" + always + "/NativeMessagingHosts/" + ManifestFileName());
  for (const char* installed : {"BraveSoftware/Brave-Browser", "vivaldi", "microsoft-edge"}) {
    const std::string directory = configHome_ + "/" + installed;
    if (IsDirectory(directory)) paths.push_back(directory + "/NativeMessagingHosts/" + ManifestFileName());
  }
  return paths;
}

std::string TBrowserIntegration::FirefoxManifest() const {
  return home_ + "/.mozilla/native-messaging-hosts/" + ManifestFileName();
}

std::string TBrowserIntegration::OperaManifest() const {
  return configHome_ + "/opera/NativeMessagingHosts/" + ManifestFileName();
}

std::string TBrowserIntegration::ChromiumManifestText() const {
  return ManifestText(hostPath_, "allowed_origins", std::string("chrome-extension://") + kChromiumExtensionId + "/");
}

std::string TBrowserIntegration::FirefoxManifestText() const {
  return ManifestText(hostPath_, "allowed_extensions", kFirefoxExtensionId);
}

void TBrowserIntegration::Install(const std::string& path, const std::string& text) {
  // Without a home there is no user directory to write into.
  if (path.empty() || path[0] != '/') return;
  std::string current;
  if (ReadFileText(path, current) == TReadResult::Ok && current == text) return;
  const std::string directory = path.substr(0, path.rfind('/'));
  if (!EnsureDirectory(directory, 0755)) return;
  WriteFileAtomically(path, text, 0644);
}

void TBrowserIntegration::Remove(const std::string& path) {
  if (!path.empty() && path[0] == '/') unlink(path.c_str());
}

void TBrowserIntegration::IntegrateInternetExplorer() const {
  if (hostPath_.empty()) return;
  const std::string text = ChromiumManifestText();
  for (const std::string& path : ChromiumManifests()) Install(path, text);
}

void TBrowserIntegration::IntegrateNetscape() const {
  if (!hostPath_.empty()) Install(FirefoxManifest(), FirefoxManifestText());
}

void TBrowserIntegration::RemoveNetscape() const { Remove(FirefoxManifest()); }

void TBrowserIntegration::IntegrateOpera() const {
  if (!hostPath_.empty()) Install(OperaManifest(), ChromiumManifestText());
}

void TBrowserIntegration::RemoveOpera() const { Remove(OperaManifest()); }

void TBrowserIntegration::ApplySettings() const {
  try {
    if (Read(setting::EnableBrowserIntegration)) {
      if (Read(setting::IntegrateWithInternetExplorer)) IntegrateInternetExplorer();
      if (Read(setting::IntegrateWithNetscape)) {
        IntegrateNetscape();
      } else {
        RemoveNetscape();
      }
      if (Read(setting::IntegrateWithOpera)) {
        IntegrateOpera();
      } else {
        RemoveOpera();
      }
    } else {
      RemoveNetscape();
      RemoveOpera();
    }
  } catch (...) {
    LogError("TBrowserIntegration.ApplySettings");
  }
}

void TBrowserIntegration::ApplySettingsAtStart() const {
  if (!ProfileInBrindleHome()) ApplySettings();
}

}  // namespace brindle
