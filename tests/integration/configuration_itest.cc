#include "integration/configuration.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/download_status.h"
#include "integration_test_support.h"

namespace brindle {
namespace {

class ConfigurationITest : public test::IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    env_.Set("XDG_CONFIG_HOME", temp_.File("xdg"));
    host_.Ask = [this](const std::string& question) {
      questions_.push_back(question);
      return yes_;
    };
    host_.Message = [this](const std::string& text) { messages_.push_back(text); };
    host_.ShowField = [this](const std::string& key) { messages_.push_back("[" + key + "]"); };
    host_.ProgramPath = "/opt/my apps/brindle";
  }
  TConfigurationResult Save(TConfigurationValues& values, TPartialDownloadsMove::TMoveFile move = nullptr) {
    return SaveConfiguration(values, *system_, host_, std::move(move));
  }

  TConfigurationHost host_;
  bool yes_ = true;
  std::vector<std::string> questions_, messages_;
};

TEST_F(ConfigurationITest, EveryKeyLoadsAndIsWrittenBack) {
  for (const TConfigurationFlagKey& flag : ConfigurationFlagKeys())
    WriteBool(kOptionsSection, flag.Key, !flag.Default());
  for (const TConfigurationTextKey& text : ConfigurationTextKeys())
    WriteString(kOptionsSection, text.Key, std::string("v-") + text.Key);
  WriteString(kOptionsSection, "Date1", "Year");
  WriteString(kOptionsSection, "Date2", "none");
  WriteString(kOptionsSection, "Date3", "Day");
  WriteString(kOptionsSection, "DateDivider1", "none");
  WriteString(kOptionsSection, "DateDivider2", "_");
  WriteString(kOptionsSection, "Extensions", "  ZIP\nIso ");
  WriteString(kOptionsSection, kPartialDownloadsDirectoryKey, DefaultPartialDownloadsDirectory());
  WriteString(kOptionsSection, "HTTPProxyPort", "3128");
  WriteString(kOptionsSection, "FTPProxyPort", "21");
  WriteInteger(kOptionsSection, "TimeOutTime", 30500);
  WriteInteger(kOptionsSection, "RetryTimes", 7);
  WriteInteger(kOptionsSection, "ColorTheme", 2);
  WriteInteger(kOptionsSection, "Custom_Color_Done", 0x123456);
  WriteInteger(kOptionsSection, "ScheduledEndTime", 47);
  WriteString(kOptionsSection, "ModemConnectionEntry", "work");

  TConfigurationValues values = LoadConfiguration({"home", "work"});
  for (const TConfigurationFlagKey& flag : ConfigurationFlagKeys()) EXPECT_EQ(values.Flags[flag.Key], !flag.Default()) << flag.Key;
  EXPECT_EQ(values.Texts["AntivirusExecutableParameters"], "v-AntivirusExecutableParameters");
  EXPECT_EQ(values.Texts["Date1"], "Year");
  EXPECT_EQ(values.Texts["Date2"], "");
  EXPECT_EQ(values.Texts["DateDivider1"], "");
  EXPECT_EQ(values.Texts["DateDivider2"], "_");
  EXPECT_EQ(values.Texts["TimeOutTime"], "30");
  EXPECT_EQ(values.Texts["RetryTimes"], "7");
  EXPECT_EQ(values.Texts["SplitParts"], "4");
  EXPECT_EQ(values.Colors[3], 0x123456u);
  EXPECT_EQ(values.ScheduledEndTime, 47);
  EXPECT_EQ(values.DialUpEntry, 1);

  for (auto& [key, value] : values.Flags) WriteBool(kOptionsSection, key, !value);
  values.Texts["TimeOutTime"] = "45";
  values.Texts["DateDivider2"] = "";
  values.Flags["LaunchOnStartup"] = true;
  ASSERT_EQ(Save(values), TConfigurationResult::Saved);
  for (const TConfigurationFlagKey& flag : ConfigurationFlagKeys())
    EXPECT_EQ(ReadBool(kOptionsSection, flag.Key, flag.Default()), flag.Key == std::string("LaunchOnStartup") ? true : !flag.Default()) << flag.Key;
  EXPECT_EQ(ReadString(kOptionsSection, "HTTPProxyUser", ""), "v-HTTPProxyUser");
  EXPECT_EQ(ReadString(kOptionsSection, "Date2", ""), "none");
  EXPECT_EQ(ReadString(kOptionsSection, "DateDivider1", ""), "none");
  EXPECT_EQ(ReadString(kOptionsSection, "DateDivider2", ""), "none");
  EXPECT_EQ(ReadString(kOptionsSection, "Extensions", ""), "zip iso");
  EXPECT_EQ(ReadInteger(kOptionsSection, "TimeOutTime", 0), 45000);
  EXPECT_EQ(ReadInteger(kOptionsSection, "Custom_Color_Done", 0), 0x123456);
  EXPECT_EQ(ReadString(kOptionsSection, "ModemConnectionEntry", ""), "work");
  EXPECT_DOUBLE_EQ(ReadDateTime(kOptionsSection, "EndTime", 0), 47.0 / 48);
  EXPECT_TRUE(questions_.empty());

  // Launch on start-up is the desktop's autostart entry.
  const std::string entry = temp_.File("xdg/autostart/brindle.desktop");
  EXPECT_NE(test::ReadWholeFile(entry).find("Exec=\"/opt/my apps/brindle\"\n"), std::string::npos);
  values.Flags["LaunchOnStartup"] = false;
  ASSERT_EQ(Save(values), TConfigurationResult::Saved);
  EXPECT_FALSE(test::FileExists(entry));
}

TEST_F(ConfigurationITest, NumbersOutOfRangeAreRefusedAndUnreadableOnesStopWhereTheyStand) {
  TConfigurationValues values = LoadConfiguration({});
  values.Flags["GridLines"] = true;
  struct Case {
    const char* Key;
    const char* Text;
    const char* Message;
    const char* SwitchedOn = "";
  };
  for (const Case& c : {Case{"SplitParts", "33", "Number of parts to split each file into must be a number from 1 to 32."},
                        Case{"TimeOutTime", "0", "Timeout must be a number at least 1."},
                        Case{"HTTPProxyPort", "70000", "HTTP proxy port must be a number from 1 to 65535.", "UseHTTPProxy"},
                        Case{"FTPProxyPort", "ftp", "FTP proxy port must be a number from 1 to 65535.", "UseFTPProxy"}}) {
    TConfigurationValues refused = values;
    refused.Texts[c.Key] = c.Text;
    if (*c.SwitchedOn) refused.Flags[c.SwitchedOn] = true;
    messages_.clear();
    EXPECT_EQ(Save(refused), TConfigurationResult::Refused) << c.Key;
    EXPECT_EQ(messages_, (std::vector<std::string>{"[" + std::string(c.Key) + "]", c.Message}));
    EXPECT_FALSE(ReadBool(kOptionsSection, "GridLines", false));
  }
  // A pasted text in "Retry delay": what comes before it is written.
  values.Texts["MaxSimultaneousDownloads"] = "7";
  values.Texts["RetryDelay"] = "12a";
  values.Texts["RetryTimes"] = "2";
  messages_.clear();
  EXPECT_EQ(Save(values), TConfigurationResult::Stopped);
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(ReadBool(kOptionsSection, "GridLines", false));
  EXPECT_EQ(ReadInteger(kOptionsSection, "MaxSimultaneousDownloads", 0), 7);
  EXPECT_EQ(ReadInteger(kOptionsSection, "RetryDelay", -1), -1);
  EXPECT_EQ(ReadInteger(kOptionsSection, "RetryTimes", -1), -1);
  // A switched-off proxy's port is not judged.
  TConfigurationValues unused = LoadConfiguration({});
  unused.Texts["HTTPProxyPort"] = "99999";
  unused.Flags["UseHTTPProxy"] = false;
  EXPECT_EQ(Save(unused), TConfigurationResult::Saved);
}

TEST_F(ConfigurationITest, ThePartialDownloadsMoveWithTheirRecordsOrNotAtAll) {
  const std::string content(200000, 'p');
  http_.AddFile("/big.iso", content);
  http_.StallFilesAt(1000);
  WriteInteger(kOptionsSection, "SplitParts", 1);
  TLocalDownloadinfo* record = Add("/big.iso", "big.iso");
  ASSERT_TRUE(Run([&] { return record->Status() == TDownloadState::Downloading; }));
  const std::string oldDirectory = DefaultPartialDownloadsDirectory();
  const std::string newDirectory = temp_.File("elsewhere/partial");
  test::WriteWholeFile(oldDirectory + "/notes.txt", "mine");
  test::WriteWholeFile(oldDirectory + "/stray.5", "no record");

  // Yes while a download runs: refused, the edit set back, nothing written.
  TConfigurationValues values = LoadConfiguration({});
  values.Texts[kPartialDownloadsDirectoryKey] = newDirectory;
  values.Flags["GridLines"] = true;
  EXPECT_EQ(Save(values), TConfigurationResult::Stopped);
  EXPECT_EQ(questions_.size(), 1u);
  EXPECT_EQ(messages_, std::vector<std::string>{"You have downloads in progress. Pause them first!"});
  EXPECT_EQ(values.Texts[kPartialDownloadsDirectoryKey], oldDirectory);
  EXPECT_FALSE(ReadBool(kOptionsSection, "GridLines", false));
  EXPECT_FALSE(std::filesystem::exists(newDirectory));

  system_->PauseDownload(record);
  ASSERT_TRUE(Run([&] { return system_->ActiveList().empty(); }));
  const std::vector<std::string> before = test::ListFiles(oldDirectory);
  const std::string base = record->TempFileName.substr(oldDirectory.size() + 1);
  ASSERT_EQ(before, (std::vector<std::string>{base + ".0", base + ".dat", "notes.txt", "stray.5"}));

  // A move that fails half-way leaves everything where it was.
  values.Texts[kPartialDownloadsDirectoryKey] = newDirectory;
  messages_.clear();
  int moves = 0;
  EXPECT_EQ(Save(values, [&](const std::string& from, const std::string& to) {
              if (++moves == 2) {
                errno = EXDEV;
                return false;
              }
              return TPartialDownloadsMove::RenameOrCopy(from, to);
            }),
            TConfigurationResult::Stopped);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].rfind("Couldn't move the partial downloads: ", 0), 0u);
  EXPECT_EQ(test::ListFiles(oldDirectory), before);
  EXPECT_TRUE(test::ListFiles(newDirectory).empty());
  EXPECT_EQ(ReadString(kOptionsSection, kPartialDownloadsDirectoryKey, ""), "");
  EXPECT_EQ(record->TempFileName, oldDirectory + "/" + base);

  // Yes with nothing running: the record and its part go, other files stay,
  // and the download goes on from its new place.
  messages_.clear();
  EXPECT_EQ(Save(values), TConfigurationResult::Saved);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(test::ListFiles(oldDirectory), (std::vector<std::string>{"notes.txt", "stray.5"}));
  EXPECT_EQ(test::ListFiles(newDirectory), (std::vector<std::string>{base + ".0", base + ".dat"}));
  EXPECT_EQ(ReadString(kOptionsSection, kPartialDownloadsDirectoryKey, ""), newDirectory);
  EXPECT_EQ(record->TempFileName, newDirectory + "/" + base);
  http_.SetHandler(nullptr);
  system_->AddDownload(record);
  ASSERT_TRUE(Run([&] { return record->Status() == TDownloadState::Done; }));
  EXPECT_TRUE(test::ReadWholeFile(temp_.File("big.iso")) == content);
  EXPECT_NE(http_.Requests().back().Header("Range"), std::nullopt);

  // No: the setting changes and nothing moves.
  yes_ = false;
  values.Texts[kPartialDownloadsDirectoryKey] = oldDirectory;
  EXPECT_EQ(Save(values), TConfigurationResult::Saved);
  EXPECT_EQ(test::ListFiles(oldDirectory), (std::vector<std::string>{"notes.txt", "stray.5"}));
  EXPECT_EQ(ReadString(kOptionsSection, kPartialDownloadsDirectoryKey, ""), oldDirectory);
}

// "Find" fills the HTTP fields from the environment's proxy and never the
// FTP ones: ftp_proxy names an HTTP proxy.
TEST(ConfigurationTest, FindProxyAndThemeReset) {
  struct Case {
    const char* Name;
    const char* Value;
    const char* Scheme;
    const char* Address;
    const char* Port;
  };
  for (const Case& c : {Case{"http_proxy", "http://Proxy:8080/", "http", "Proxy", "8080"},
                        Case{"HTTPS_PROXY", "proxy", "http", "proxy", "80"}, Case{"http_proxy", "", "http", "", ""},
                        Case{"http_proxy", "socks5://proxy:1080", "http", "", ""},
                        Case{"ftp_proxy", "http://proxy:3128", "ftp", "", ""},
                        Case{"http_proxy", "proxy:3128", "ftp", "", ""}}) {
    const TFoundProxy found = FindProxy(c.Scheme, [&c](const std::string& name) {
      return name == c.Name ? std::optional<std::string>(c.Value) : std::nullopt;
    });
    EXPECT_EQ(found.Address, c.Address) << c.Name << "=" << c.Value << " " << c.Scheme;
    EXPECT_EQ(found.Port, c.Port) << c.Name << "=" << c.Value << " " << c.Scheme;
  }
  auto brindle = ThemeDefaultColors(1);
  EXPECT_FALSE(ThemeCanReset(1, brindle));
  brindle[2] = 0x00FF00;
  EXPECT_TRUE(ThemeCanReset(1, brindle));
  EXPECT_FALSE(ThemeCanReset(2, brindle));
  EXPECT_FALSE(ThemeCanReset(0, ThemeDefaultColors(0)));
}

}  // namespace
}  // namespace brindle
