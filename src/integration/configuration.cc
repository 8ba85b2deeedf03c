#include "integration/configuration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <tuple>

#include "core/ascii_case.h"
#include "core/atomic_file.h"
#include "core/text_file.h"
#include "core/paths.h"
#include "core/settings_schema.h"
#include "core/system_proxy.h"
#include "manager/download_system.h"
#include "manager/status_colors.h"

namespace brindle {
namespace {

constexpr const char* kNone = "none";
constexpr TDateTime kHalfHour = 1.0 / 48;

// The whole text as a decimal integer that fits, or nullopt.
std::optional<long long> ParseNumber(const std::string& text) {
  const std::string trimmed = Trimmed(text);
  long long value = 0;
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  if (begin != end && *begin == '+') ++begin;
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (begin == end || error != std::errc() || stop != end || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return value;
}

// A port: empty, or a number from 1 to 65535.
bool ValidPort(const std::string& text) {
  if (Trimmed(text).empty()) return true;
  const std::optional<long long> port = ParseNumber(text);
  return port && *port >= 1 && *port <= 65535;
}

// The first value out of its field's range: the field's key and what the
// user is told.
struct TRangeProblem {
  std::string Key;
  std::string Text;
};

std::optional<TRangeProblem> RangeProblem(const TConfigurationValues& values) {
  const auto text = [&](const std::string& key) {
    const auto it = values.Texts.find(key);
    return it == values.Texts.end() ? std::string() : it->second;
  };
  const auto on = [&](const TBoolSetting& flag) {
    const auto it = values.Flags.find(flag.Key);
    return it != values.Flags.end() && it->second;
  };
  // A proxy that is switched off is not used, so its port is not judged.
  for (const auto& [port, use, caption] :
       {std::tuple{&setting::HTTPProxyPort, &setting::UseHTTPProxy, "HTTP proxy port"},
        std::tuple{&setting::FTPProxyPort, &setting::UseFTPProxy, "FTP proxy port"}})
    if (on(*use) && !ValidPort(text(port->Key)))
      return TRangeProblem{port->Key, std::string(caption) + " must be a number from 1 to 65535."};
  for (const TConfigurationNumberKey& number : ConfigurationNumberKeys()) {
    // What cannot be read at all stops the sequence in its place instead.
    const std::optional<long long> value = ParseNumber(text(number.Key));
    if (!value || (*value >= number.Min && *value <= number.Max)) continue;
    std::string range = "from " + std::to_string(number.Min) + " to " + std::to_string(number.Max);
    if (number.Max == INT_MAX / number.Scale) range = "at least " + std::to_string(number.Min);
    return TRangeProblem{number.Key, std::string(number.Caption) + " must be a number " + range + "."};
  }
  return std::nullopt;
}

}  // namespace

const std::vector<TConfigurationFlagKey>& ConfigurationFlagKeys() {
  static const std::vector<TConfigurationFlagKey> keys = {
      {setting::DateFolders, 1},
      {setting::LaunchOnStartup, 3},
      {setting::MonitorClipboard, 4},
      {setting::EnableBrowserIntegration, 4},
      {setting::IntegrateWithInternetExplorer, 4},
      {setting::IntegrateWithNetscape, 4},
      {setting::IntegrateWithOpera, 4},
      {setting::StartMinized, 5},
      {setting::MinimizeToTray, 5},
      {setting::DrawProgressBars, 5},
      {setting::CheckForUpdates, 5},
      {setting::GridLines, 5},
      {setting::ShowDisabledIcon, 5},
      {setting::AlwaysConnect, 6},
      {setting::ConnectUsingDialUp, 6},
      {setting::AlwaysDownloadWhenConnected, 6},
      {setting::DiconnectAfterDownload, 6},
      {setting::TryLocalMirrorlist, 6},
      {setting::UseHTTPProxy, 8},
      {setting::UseFTPProxy, 8},
      {setting::PassiveMode, 8},
      {setting::ShowCompletedDialog, 9},
      {setting::ShowSaveDialog, 9},
      {setting::ShowDownloadWindow, 9},
      {setting::ShowSystemTrayIcons, 9},
      {setting::ShowNotifications, 9},
      {setting::AutoCloseAfterDownloads, 9},
      {setting::RemoveSuccessfulDownloadFromList, 9},
      {setting::ShutDownComputerAfterDownloading, 9},
      {setting::RemoveUnexistingFilesFromList, 9},
      {setting::VirusChecking, 9},
      {setting::UseSchedule, 10},
      {setting::ScheduledWeekly(0), 10},
      {setting::ScheduledWeekly(1), 10},
      {setting::ScheduledWeekly(2), 10},
      {setting::ScheduledWeekly(3), 10},
      {setting::ScheduledWeekly(4), 10},
      {setting::ScheduledWeekly(5), 10},
      {setting::ScheduledWeekly(6), 10},
      {setting::ScheduledRecurrenceNoEnd, 10},
      {setting::ScheduledRecurrenceEndBy, 10},
  };
  return keys;
}

const std::vector<TConfigurationTextKey>& ConfigurationTextKeys() {
  static const std::vector<TConfigurationTextKey> keys = {
      {setting::Date1, 1},
      {setting::Date2, 1},
      {setting::Date3, 1},
      {setting::DateDivider1, 1},
      {setting::DateDivider2, 1},
      {setting::PartialDownloadsDirectory, 2},
      {setting::DefaultDownloadDirectory, 3},
      {setting::Extensions, 4},
      {setting::ConnectionType, 6},
      {setting::HTTPProxyAddress, 8},
      {setting::HTTPProxyPort, 8},
      {setting::HTTPProxyUser, 8},
      {setting::HTTPProxyPass, 8},
      {setting::FTPProxyAddress, 8},
      {setting::FTPProxyPort, 8},
      {setting::AntivirusExecutablePath, 9},
      {setting::AntivirusExecutableParameters, 9},
  };
  return keys;
}

const std::vector<TConfigurationNumberKey>& ConfigurationNumberKeys() {
  static const std::vector<TConfigurationNumberKey> keys = {
      {setting::ConnectionSpeed, "Connection speed", 0, INT_MAX, 1, 6},
      {setting::MaxSimultaneousDownloads, "Maximum number of simultaneous downloads", 1, 50, 1, 11},
      {setting::SplitParts, "Number of parts to split each file into", 1, 32, 1, 11},
      {setting::SmallestSplitSize, "Do not split files smaller than this size", 0, INT_MAX, 1, 11},
      {setting::TimeOutTime, "Timeout", 1, INT_MAX / 1000, 1000, 11},
      {setting::RetryDelay, "Retry delay", 0, INT_MAX, 1, 11},
      {setting::RetryTimes, "Retry times", 0, INT_MAX, 1, 11},
  };
  return keys;
}

TDateTime HalfHourTime(int index) { return index * kHalfHour; }

TConfigurationValues LoadConfiguration(const std::vector<std::string>& dialUpEntries) {
  TConfigurationValues values;
  for (const TConfigurationFlagKey& flag : ConfigurationFlagKeys()) values.Flags[flag.Key] = Read(flag);
  for (const TConfigurationTextKey& text : ConfigurationTextKeys()) values.Texts[text.Key] = Read(text);
  for (const TStringSetting* date : {&setting::Date1, &setting::Date2, &setting::Date3}) {
    std::string& name = values.Texts[date->Key];
    if (name != "Year" && name != "Month" && name != "Day") name.clear();
  }
  for (const TStringSetting* divider : {&setting::DateDivider1, &setting::DateDivider2}) {
    std::string& text = values.Texts[divider->Key];
    if (text != "-" && text != "_") text.clear();
  }
  for (const TConfigurationNumberKey& number : ConfigurationNumberKeys())
    values.Texts[number.Key] = std::to_string(Read(number) / number.Scale);
  values.ColorTheme = Read(setting::ColorTheme);
  values.Colors = LoadThemeColors(values.ColorTheme);
  values.ScheduledStartTime = std::clamp(Read(setting::ScheduledStartTime), 0, 47);
  values.ScheduledEndTime = std::clamp(Read(setting::ScheduledEndTime), 0, 47);
  const TDateTime now = Now();
  values.RecurrenceStart = Read(setting::ScheduledRecurrenceStartTime, now);
  values.RecurrenceEnd = Read(setting::ScheduledRecurrenceEndTime, now);
  values.DialUpEntries = dialUpEntries;
  const std::string entry = Read(setting::ModemConnectionEntry);
  for (size_t i = 0; i < dialUpEntries.size(); ++i)
    if (!entry.empty() && dialUpEntries[i] == entry) values.DialUpEntry = static_cast<int>(i);
  return values;
}

TFoundProxy FindProxy(const std::string& scheme, const TEnvironment& environment) {
  if (scheme != "http") return {};
  const std::optional<TProxyServer> proxy = FindSystemProxy(environment);
  if (!proxy) return {};
  return {proxy->Host, proxy->Port};
}

std::string AutostartFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = config && *config ? config : std::string(home ? home : "") + "/.config";
  return base + "/autostart/brindle.desktop";
}

bool WriteAutostartEntry(bool launch, const std::string& programPath) {
  const std::string file = AutostartFile();
  if (!launch) return unlink(file.c_str()) == 0 || errno == ENOENT;
  const std::string directory = file.substr(0, file.rfind('/'));
  if (!EnsureDirectory(directory)) return false;
  // Exec quotes the path, so a folder with blanks still starts.
  std::string quoted;
  for (char c : programPath) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return WriteFileAtomically(file, "[Desktop Entry]\nType=Application\nName=Brindle\nComment=Download manager\n"
                                   "Exec=\"" + quoted + "\"\nIcon=brindle\nTerminal=false\n"
                                   "X-GNOME-Autostart-enabled=true\n");
}

TConfigurationResult SaveConfiguration(TConfigurationValues& values, TDownloadSystem& system,
                                       const TConfigurationHost& host, TPartialDownloadsMove::TMoveFile moveFile) {
  if (const std::optional<TRangeProblem> problem = RangeProblem(values)) {
    if (host.ShowField) host.ShowField(problem->Key);
    if (host.Message) host.Message(problem->Text);
    return TConfigurationResult::Refused;
  }
  const auto writeStep = [&](int step) {
    for (const TConfigurationFlagKey& flag : ConfigurationFlagKeys())
      if (flag.Step == step) Write(flag, values.Flags[flag.Key]);
    for (const TConfigurationTextKey& text : ConfigurationTextKeys()) {
      if (text.Step != step || text.Key == setting::PartialDownloadsDirectory.Key) continue;
      std::string value = values.Texts[text.Key];
      // An empty item is stored by name: an empty text would read as the default.
      if (step == 1 && value.empty()) value = kNone;
      if (text.Key == setting::Extensions.Key) {
        // One list, however the memo broke its lines.
        std::replace_if(value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
        value = LowerCaseAscii(Trimmed(value));
      }
      Write(text, value);
    }
    for (const TConfigurationNumberKey& number : ConfigurationNumberKeys()) {
      if (number.Step != step) continue;
      const std::optional<long long> value = ParseNumber(values.Texts[number.Key]);
      if (!value) return false;
      Write(number, static_cast<int>(*value * number.Scale));
    }
    return true;
  };

  writeStep(1);
  const std::string stored = Read(setting::PartialDownloadsDirectory);
  std::string& partial = values.Texts[setting::PartialDownloadsDirectory.Key];
  if (partial != stored) {
    const bool move = host.Ask && host.Ask("You have changed Partial Downloads Directory.\nDo you want to move "
                                                 "partially downloaded files to new directory (downloads will be "
                                                 "lost otherwise)?");
    if (move && !system.ActiveList().empty()) {
      if (host.Message) host.Message("You have downloads in progress. Pause them first!");
      partial = stored;
      return TConfigurationResult::Stopped;
    }
    if (move) {
      if (const auto failure = TPartialDownloadsMove(system, std::move(moveFile)).Move(stored, partial)) {
        if (host.Message) host.Message("Couldn't move the partial downloads: " + *failure);
        return TConfigurationResult::Stopped;
      }
    }
    Write(setting::PartialDownloadsDirectory, partial);
    system.ReadPartialDownloadsDirectory();
  }
  writeStep(3);
  WriteAutostartEntry(values.Flags[setting::LaunchOnStartup.Key], host.ProgramPath);
  writeStep(4);
  writeStep(5);
  Write(setting::ColorTheme, values.ColorTheme);
  for (size_t role = 0; role < values.Colors.size(); ++role)
    Write(setting::ThemeColor(values.ColorTheme, role), static_cast<int>(values.Colors[role]));
  if (!writeStep(6)) return TConfigurationResult::Stopped;
  const bool anyEntry = !values.DialUpEntries.empty();
  const int entry = values.DialUpEntry >= 0 && values.DialUpEntry < static_cast<int>(values.DialUpEntries.size())
                        ? values.DialUpEntry
                        : 0;
  Write(setting::ModemConnectionEntry, anyEntry ? values.DialUpEntries[entry] : "");
  writeStep(8);
  writeStep(9);
  writeStep(10);
  Write(setting::ScheduledStartTime, values.ScheduledStartTime);
  Write(setting::ScheduledEndTime, values.ScheduledEndTime);
  Write(setting::ScheduledRecurrenceStartTime, values.RecurrenceStart);
  Write(setting::ScheduledRecurrenceEndTime, values.RecurrenceEnd);
  Write(setting::StartTime, HalfHourTime(values.ScheduledStartTime));
  Write(setting::EndTime, HalfHourTime(values.ScheduledEndTime));
  if (!writeStep(11)) return TConfigurationResult::Stopped;
  return TConfigurationResult::Saved;
}

}  // namespace brindle
