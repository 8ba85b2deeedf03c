#pragma once

#include <string>
#include <vector>

namespace brindle {

// The native messaging host's name, which is also its manifest's file name
// ("org.brindle.host.json") in every browser's host directory.
inline constexpr const char* kNativeHostName = "org.brindle.host";
// The extension's fixed ids: Chromium and Opera derive it from the key in
// the extension's manifest; Firefox reads it from the manifest.
inline constexpr const char* kChromiumExtensionId = "pgccibdnoljeeepbgbclfhncgpoicogk";
inline constexpr const char* kFirefoxExtensionId = "brindle-integration@brindle";

// Installs and removes the host manifest through which a browser's
// extension reaches brindle-host. Every operation is silent: a directory
// that cannot be made or a file that cannot be written leaves things as
// they are. Only Brindle's own manifest file is ever written or deleted.
class TBrowserIntegration {
 public:
  // home: the user's home directory; configHome: $XDG_CONFIG_HOME or
  // home + "/.config"; hostPath: brindle-host's absolute path.
  TBrowserIntegration(std::string home, std::string configHome, std::string hostPath);

  // The environment's home and configuration directories, and brindle-host
  // beside the running program; without that program nothing is installed
  // (removal still works).
  static TBrowserIntegration ForThisProgram();

  // Chromium-family browsers: Chromium and Google Chrome always, Brave,
  // Vivaldi and Microsoft Edge where their configuration directory exists.
  // They have no removal: the manifest stays when integration is off.
  void IntegrateInternetExplorer() const;
  void IntegrateNetscape() const;  // Firefox
  void RemoveNetscape() const;
  void IntegrateOpera() const;
  void RemoveOpera() const;

  // The settings' choice, as the main window applies it at every start and
  // after each change: with EnableBrowserIntegration, each browser's setting
  // integrates or removes it (Chromium is only integrated); without it,
  // Firefox and Opera are removed.
  void ApplySettings() const;
  // What a start applies: ApplySettings, except in a profile of its own
  // ($BRINDLE_HOME: a trial build or a portable copy), which leaves the
  // user's browsers alone until the user applies the settings.
  void ApplySettingsAtStart() const;

  // The manifest files this object writes, for the family it names.
  std::vector<std::string> ChromiumManifests() const;
  std::string FirefoxManifest() const;
  std::string OperaManifest() const;

  std::string ChromiumManifestText() const;
  std::string FirefoxManifestText() const;

 private:
  static void Install(const std::string& path, const std::string& text);
  static void Remove(const std::string& path);

  std::string home_;
  std::string configHome_;
  std::string hostPath_;
};

}  // namespace brindle
