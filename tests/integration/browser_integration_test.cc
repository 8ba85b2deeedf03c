#include "integration/browser_integration.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/memory_registry.h"
#include "core/paths.h"
#include "core/settings.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::FileExists;
using test::ReadWholeFile;
using test::WriteWholeFile;

class BrowserIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistry(&registry_); }
  void TearDown() override { SetRegistry(nullptr); }

  std::string Home(const std::string& path) const { return home_.File(path); }
  std::string Config(const std::string& path) const { return home_.File(".config/" + path); }
  TBrowserIntegration Integration(const std::string& host = "/opt/brindle/bin/brindle-host") const {
    return TBrowserIntegration(home_.Path(), home_.Path() + "/.config", host);
  }

  std::string Chromium() const { return Config("chromium/NativeMessagingHosts/org.brindle.host.json"); }
  std::string Chrome() const { return Config("google-chrome/NativeMessagingHosts/org.brindle.host.json"); }
  std::string Brave() const {
    return Config("BraveSoftware/Brave-Browser/NativeMessagingHosts/org.brindle.host.json");
  }
  std::string Vivaldi() const { return Config("vivaldi/NativeMessagingHosts/org.brindle.host.json"); }
  std::string Firefox() const { return Home(".mozilla/native-messaging-hosts/org.brindle.host.json"); }
  std::string Opera() const { return Config("opera/NativeMessagingHosts/org.brindle.host.json"); }

  MemoryRegistry registry_;
  test::TempDir home_;
};

TEST_F(BrowserIntegrationTest, SettingsDecideWhichManifestsExist) {
  struct Case {
    bool Enabled, Chromium, Firefox, Opera;
    bool ChromiumAfter, FirefoxAfter, OperaAfter;  // starting from all three installed
  };
  const Case cases[] = {
      {true, true, false, false, true, false, false},  // the defaults
      {true, true, true, true, true, true, true},
      {true, false, true, false, true, true, false},   // Chromium has no removal
      {true, false, false, true, true, false, true},
      {false, true, true, true, true, false, false},   // off: Firefox and Opera go, Chromium stays
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(Home(".config"));
    std::filesystem::remove_all(Home(".mozilla"));
    const TBrowserIntegration integration = Integration();
    integration.IntegrateInternetExplorer();
    integration.IntegrateNetscape();
    integration.IntegrateOpera();
    registry_.Clear();
    WriteBool(kOptionsSection, "EnableBrowserIntegration", c.Enabled);
    WriteBool(kOptionsSection, "IntegrateWithInternetExplorer", c.Chromium);
    WriteBool(kOptionsSection, "IntegrateWithNetscape", c.Firefox);
    WriteBool(kOptionsSection, "IntegrateWithOpera", c.Opera);
    integration.ApplySettings();
    EXPECT_EQ(FileExists(Chromium()), c.ChromiumAfter);
    EXPECT_EQ(FileExists(Chrome()), c.ChromiumAfter);
    EXPECT_EQ(FileExists(Firefox()), c.FirefoxAfter);
    EXPECT_EQ(FileExists(Opera()), c.OperaAfter);
  }
  // From nothing, the defaults install the Chromium family only.
  std::filesystem::remove_all(Home(".config"));
  registry_.Clear();
  Integration().ApplySettings();
  EXPECT_TRUE(FileExists(Chromium()));
  EXPECT_FALSE(FileExists(Firefox()));
  EXPECT_FALSE(FileExists(Opera()));
}

// A profile of its own (a trial build) writes nothing into the user's
// browsers at start; the settings applied by the user still write.
TEST_F(BrowserIntegrationTest, AProfileInBrindleHomeLeavesTheBrowsersAloneAtStart) {
  const char* saved = std::getenv("BRINDLE_HOME");
  const std::string savedHome = saved ? saved : "";
  for (const bool trial : {true, false}) {
    std::filesystem::remove_all(Home(".config"));
    if (trial) {
      setenv("BRINDLE_HOME", Home("trial").c_str(), 1);
    } else {
      unsetenv("BRINDLE_HOME");
    }
    Integration().ApplySettingsAtStart();
    EXPECT_EQ(FileExists(Chromium()), !trial);
    Integration().ApplySettings();
    EXPECT_TRUE(FileExists(Chromium()));
  }
  if (saved) setenv("BRINDLE_HOME", savedHome.c_str(), 1);
}

TEST_F(BrowserIntegrationTest, ManifestsNameTheHostAndAllowOnlyBrindlesExtension) {
  std::filesystem::create_directories(Config("vivaldi"));
  const TBrowserIntegration integration = Integration();
  integration.IntegrateInternetExplorer();
  integration.IntegrateNetscape();
  EXPECT_TRUE(FileExists(Vivaldi())) << "an installed Chromium-family browser gets the manifest";
  EXPECT_FALSE(FileExists(Brave())) << "a browser that is not installed gets no directory";
  const auto chromium = nlohmann::json::parse(ReadWholeFile(Chromium()), nullptr, false);
  ASSERT_TRUE(chromium.is_object());
  EXPECT_EQ(chromium.value("name", ""), kNativeHostName);
  EXPECT_EQ(chromium.value("path", ""), "/opt/brindle/bin/brindle-host");
  EXPECT_EQ(chromium.value("type", ""), "stdio");
  EXPECT_EQ(chromium.value("allowed_origins", nlohmann::json()),
            nlohmann::json::array({std::string("chrome-extension://") + kChromiumExtensionId + "/"}));
  const auto firefox = nlohmann::json::parse(ReadWholeFile(Firefox()), nullptr, false);
  ASSERT_TRUE(firefox.is_object());
  EXPECT_EQ(firefox.value("allowed_extensions", nlohmann::json()), nlohmann::json::array({kFirefoxExtensionId}));
  EXPECT_FALSE(firefox.contains("allowed_origins"));
}

TEST_F(BrowserIntegrationTest, OnlyBrindlesOwnManifestIsWrittenOrRemoved) {
  const std::string foreign = Home(".mozilla/native-messaging-hosts/other.host.json");
  std::filesystem::create_directories(Home(".mozilla/native-messaging-hosts"));
  std::filesystem::create_directories(Config(""));
  WriteWholeFile(Home(".mozilla/native-messaging-hosts/.keep"), "");
  WriteWholeFile(foreign, "{\"name\":\"other.host\"}");
  const TBrowserIntegration moved = Integration("/usr/bin/brindle-host");
  // A manifest of an older place is rewritten; applying twice leaves one.
  Integration("/home/u/build/brindle-host").IntegrateNetscape();
  moved.IntegrateNetscape();
  moved.IntegrateNetscape();
  EXPECT_EQ(nlohmann::json::parse(ReadWholeFile(Firefox()), nullptr, false).value("path", ""), "/usr/bin/brindle-host");
  // .keep, the foreign manifest and ours; no temporary left.
  EXPECT_EQ(test::ListFiles(Home(".mozilla/native-messaging-hosts")).size(), 3u);
  moved.RemoveNetscape();
  moved.RemoveNetscape();
  EXPECT_FALSE(FileExists(Firefox()));
  EXPECT_EQ(ReadWholeFile(foreign), "{\"name\":\"other.host\"}");
  // A home that cannot take the manifest (a file where the directory
  // belongs) is passed over silently.
  WriteWholeFile(Config("opera"), "not a directory");
  moved.IntegrateOpera();
  moved.RemoveOpera();
  EXPECT_EQ(ReadWholeFile(Config("opera")), "not a directory");
}

TEST_F(BrowserIntegrationTest, WithoutAHostBesideTheProgramNothingIsInstalledButRemovalWorks) {
  // The test binary has no brindle-host beside it, as a program moved
  // without its helper would not.
  const TBrowserIntegration integration = [this] {
    test::ScopedEnvironment env({{"HOME", home_.Path()}, {"XDG_CONFIG_HOME", Home("xdg")}});
    return TBrowserIntegration::ForThisProgram();
  }();
  integration.IntegrateInternetExplorer();
  integration.IntegrateNetscape();
  EXPECT_FALSE(std::filesystem::exists(Home("xdg")));
  EXPECT_FALSE(FileExists(Firefox()));
  Integration().IntegrateNetscape();
  ASSERT_TRUE(FileExists(Firefox()));
  integration.RemoveNetscape();
  EXPECT_FALSE(FileExists(Firefox()));
}

}  // namespace
}  // namespace brindle
