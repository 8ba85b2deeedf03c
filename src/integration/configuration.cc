#include "integration/configuration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/ascii_case.h"
#include "core/atomic_file.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/system_proxy.h"
#include "manager/download_system.h"
#include "manager/status_colors.h"

namespace brindle {
namespace {

bool True() { return true; }
bool False() { return false; }
bool SystemProxy() { return UseProxySettings(); }
std::string Empty() { return ""; }
std::string Month() { return "Month"; }
std::string Day() { return "Day"; }
std::string Year() { return "Year"; }
std::string Dash() { return "-"; }
std::string DefaultConnectionType() { return "56.6k"; }
std::string Extensions() { return kDefaultExtensionList; }

constexpr const char* kDateKeys[] = {"Date1", "Date2", "Date3"};
constexpr const char* kDividerKeys[] = {"DateDivider1", "DateDivider2"};
constexpr const char* kNone = "none";
constexpr TDateTime kHalfHour = 1.0 / 48;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

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

std::optional<std::string> RangeProblem(const TConfigurationValues& values) {
  const auto text = [&](const char* key) {
    const auto it = values.Texts.find(key);
    return it == values.Texts.end() ? std::string() : it->second;
  };
  for (const auto& [key, caption] : {std::pair{"HTTPProxyPort", "HTTP proxy port"},
                                     std::pair{"FTPProxyPort", "FTP proxy port"}})
    if (!ValidPort(text(key))) return std::string(caption) + " must be a number from 1 to 65535.";
  for (const TConfigurationNumberKey& number : ConfigurationNumberKeys()) {
    // What cannot be read at all stops the sequence in its place instead.
    const std::optional<long long> value = ParseNumber(text(number.Key));
    if (!value || (*value >= number.Min && *value <= number.Max)) continue;
    std::string range = "from " + std::to_string(number.Min) + " to " + std::to_string(number.Max);
    if (number.Max == INT_MAX / number.Scale) range = "at least " + std::to_string(number.Min);
    return std::string(number.Caption) + " must be a number " + range + ".";
  }
  return std::nullopt;
}

}  // namespace

const std::vector<TConfigurationFlagKey>& ConfigurationFlagKeys() {
  static const std::vector<TConfigurationFlagKey> keys = {
      {"DateFolders", False, 1},
      {"LaunchOnStartup", False, 3},
      {"MonitorClipboard", True, 4},
      {"EnableBrowserIntegration", True, 4},
      {"IntegrateWithInternetExplorer", True, 4},
      {"IntegrateWithNetscape", False, 4},
      {"IntegrateWithOpera", False, 4},
      {"StartMinized", False, 5},
      {"MinimizeToTray", False, 5},
      {"DrawProgressBars", True, 5},
      {"CheckForUpdates", True, 5},
      {"GridLines", False, 5},
      {"ShowDisabledIcon", True, 5},
      {"AlwaysConnect", True, 6},
      {"ConnectUsingDialUp", False, 6},
      {"AlwaysDownloadWhenConnected", True, 6},
      {"DiconnectAfterDownload", False, 6},
      {"TryLocalMirrorlist", True, 6},
      {"UseHTTPProxy", SystemProxy, 8},
      // The system names no FTP proxy of the "USER user@host" kind.
      {"UseFTPProxy", False, 8},
      {"PassiveMode", False, 8},
      {"ShowCompletedDialog", True, 9},
      {"ShowSaveDialog", True, 9},
      {"ShowDownloadWindow", True, 9},
      {"ShowSystemTrayIcons", False, 9},
      {"AutoCloseAfterDownloads", False, 9},
      {"RemoveSuccessfulDownloadFromList", False, 9},
      {"ShutDownComputerAfterDownloading", False, 9},
      {"RemoveUnexistingFilesFromList", True, 9},
      {"VirusChecking", False, 9},
      {"UseSchedule", False, 10},
      {"ScheduledWeekly_Sun", False, 10},
      {"ScheduledWeekly_Mon", False, 10},
      {"ScheduledWeekly_Tue", False, 10},
      {"ScheduledWeekly_Wed", False, 10},
      {"ScheduledWeekly_Thu", False, 10},
      {"ScheduledWeekly_Fri", False, 10},
      {"ScheduledWeekly_Sat", False, 10},
      {"ScheduledRecurrence_NoEnd", True, 10},
      {"ScheduledRecurrence_EndBy", False, 10},
  };
  return keys;
}

const std::vector<TConfigurationTextKey>& ConfigurationTextKeys() {
  static const std::vector<TConfigurationTextKey> keys = {
      {"Date1", Month, 1},
      {"Date2", Day, 1},
      {"Date3", Year, 1},
      {"DateDivider1", Dash, 1},
      {"DateDivider2", Dash, 1},
      {kPartialDownloadsDirectoryKey, DefaultPartialDownloadsDirectory, 2},
      {"DefaultDownloadDirectory", DefaultDownloadDirectory, 3},
      {"Extensions", Extensions, 4},
      {"ConnectionType", DefaultConnectionType, 6},
      {"HTTPProxyAddress", Empty, 8},
      {"HTTPProxyPort", Empty, 8},
      {"HTTPProxyUser", Empty, 8},
      {"HTTPProxyPass", Empty, 8},
      {"FTPProxyAddress", Empty, 8},
      {"FTPProxyPort", Empty, 8},
      {"AntivirusExecutablePath", Empty, 9},
      {"AntivirusExecutableParameters", Empty, 9},
  };
  return keys;
}

const std::vector<TConfigurationNumberKey>& ConfigurationNumberKeys() {
  static const std::vector<TConfigurationNumberKey> keys = {
      {"ConnectionSpeed", "Connection speed", 0, 0, INT_MAX, 1, 6},
      {"MaxSimultaneousDownloads", "Maximum number of simultaneous downloads", 3, 1, 50, 1, 11},
      {"SplitParts", "Number of parts to split each file into", 4, 1, 32, 1, 11},
      {"SmallestSplitSize", "Do not split files smaller than this size", 100, 0, INT_MAX, 1, 11},
      {"TimeOutTime", "Timeout", 30, 1, INT_MAX / 1000, 1000, 11},
      {"RetryDelay", "Retry delay", 30, 0, INT_MAX, 1, 11},
      {"RetryTimes", "Retry times", 10, 0, INT_MAX, 1, 11},
  };
  return keys;
}

std::string ThemeColorPrefix(int theme) {
  return theme == 0 ? "Standard_Color_" : theme == 1 ? "Brindle_Color_" : "Custom_Color_";
}

std::array<uint32_t, 6> ThemeDefaultColors(int theme) {
  if (theme == 1) return {0xF0FBFF, 0x008000, kSystemGrayTextColor, 0x800000, 0x000080, 0};
  return {kSystemWindowColor, 0x008000, 0x008080, 0xFF0000, 0x0000FF, 0};
}

std::array<uint32_t, 6> LoadThemeColors(int theme) {
  std::array<uint32_t, 6> colors = ThemeDefaultColors(theme);
  for (size_t i = 0; i < colors.size(); ++i)
    colors[i] = static_cast<uint32_t>(ReadInteger(kOptionsSection, ThemeColorPrefix(theme) + kColorKeySuffixes[i],
                                                  static_cast<int>(colors[i])));
  return colors;
}

bool ThemeCanReset(int theme, const std::array<uint32_t, 6>& colors) {
  return (theme == 0 || theme == 1) && colors != ThemeDefaultColors(theme);
}

TDateTime HalfHourTime(int index) { return index * kHalfHour; }

TConfigurationValues LoadConfiguration(const std::vector<std::string>& dialUpEntries) {
  TConfigurationValues values;
  for (const TConfigurationFlagKey& flag : ConfigurationFlagKeys())
    values.Flags[flag.Key] = ReadBool(kOptionsSection, flag.Key, flag.Default());
  for (const TConfigurationTextKey& text : ConfigurationTextKeys())
    values.Texts[text.Key] = ReadString(kOptionsSection, text.Key, text.Default());
  for (const char* key : kDateKeys) {
    std::string& name = values.Texts[key];
    if (name != "Year" && name != "Month" && name != "Day") name.clear();
  }
  for (const char* key : kDividerKeys) {
    std::string& divider = values.Texts[key];
    if (divider != "-" && divider != "_") divider.clear();
  }
  for (const TConfigurationNumberKey& number : ConfigurationNumberKeys())
    values.Texts[number.Key] =
        std::to_string(ReadInteger(kOptionsSection, number.Key, number.Default * number.Scale) / number.Scale);
  values.ColorTheme = ReadInteger(kOptionsSection, "ColorTheme", 0);
  values.Colors = LoadThemeColors(values.ColorTheme);
  values.ScheduledStartTime = std::clamp(ReadInteger(kOptionsSection, "ScheduledStartTime", 0), 0, 47);
  values.ScheduledEndTime = std::clamp(ReadInteger(kOptionsSection, "ScheduledEndTime", 0), 0, 47);
  const TDateTime now = Now();
  values.RecurrenceStart = ReadDateTime(kOptionsSection, "ScheduledRecurrence_StartTime", now);
  values.RecurrenceEnd = ReadDateTime(kOptionsSection, "ScheduledRecurrence_EndTime", now);
  values.DialUpEntries = dialUpEntries;
  const std::string entry = ReadString(kOptionsSection, "ModemConnectionEntry", "");
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
  if (const std::optional<std::string> problem = RangeProblem(values)) {
    if (host.Message) host.Message(*problem);
    return TConfigurationResult::Refused;
  }
  const auto writeStep = [&](int step) {
    for (const TConfigurationFlagKey& flag : ConfigurationFlagKeys())
      if (flag.Step == step) WriteBool(kOptionsSection, flag.Key, values.Flags[flag.Key]);
    for (const TConfigurationTextKey& text : ConfigurationTextKeys()) {
      if (text.Step != step || text.Key == std::string(kPartialDownloadsDirectoryKey)) continue;
      std::string value = values.Texts[text.Key];
      // An empty item is stored by name: an empty text would read as the default.
      if (step == 1 && value.empty()) value = kNone;
      if (text.Key == std::string("Extensions")) {
        // One list, however the memo broke its lines.
        std::replace_if(value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
        value = LowerCaseAscii(Trimmed(value));
      }
      WriteString(kOptionsSection, text.Key, value);
    }
    for (const TConfigurationNumberKey& number : ConfigurationNumberKeys()) {
      if (number.Step != step) continue;
      const std::optional<long long> value = ParseNumber(values.Texts[number.Key]);
      if (!value) return false;
      WriteInteger(kOptionsSection, number.Key, static_cast<int>(*value * number.Scale));
    }
    return true;
  };

  writeStep(1);
  const std::string stored = ReadString(kOptionsSection, kPartialDownloadsDirectoryKey, DefaultPartialDownloadsDirectory());
  std::string& partial = values.Texts[kPartialDownloadsDirectoryKey];
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
    WriteString(kOptionsSection, kPartialDownloadsDirectoryKey, partial);
  }
  writeStep(3);
  WriteAutostartEntry(values.Flags["LaunchOnStartup"], host.ProgramPath);
  writeStep(4);
  writeStep(5);
  WriteInteger(kOptionsSection, "ColorTheme", values.ColorTheme);
  for (size_t i = 0; i < values.Colors.size(); ++i)
    WriteInteger(kOptionsSection, ThemeColorPrefix(values.ColorTheme) + kColorKeySuffixes[i],
                 static_cast<int>(values.Colors[i]));
  if (!writeStep(6)) return TConfigurationResult::Stopped;
  const bool anyEntry = !values.DialUpEntries.empty();
  const int entry = values.DialUpEntry >= 0 && values.DialUpEntry < static_cast<int>(values.DialUpEntries.size())
                        ? values.DialUpEntry
                        : 0;
  WriteString(kOptionsSection, "ModemConnectionEntry", anyEntry ? values.DialUpEntries[entry] : "");
  writeStep(8);
  writeStep(9);
  writeStep(10);
  WriteInteger(kOptionsSection, "ScheduledStartTime", values.ScheduledStartTime);
  WriteInteger(kOptionsSection, "ScheduledEndTime", values.ScheduledEndTime);
  WriteDateTime(kOptionsSection, "ScheduledRecurrence_StartTime", values.RecurrenceStart);
  WriteDateTime(kOptionsSection, "ScheduledRecurrence_EndTime", values.RecurrenceEnd);
  WriteDateTime(kOptionsSection, "StartTime", HalfHourTime(values.ScheduledStartTime));
  WriteDateTime(kOptionsSection, "EndTime", HalfHourTime(values.ScheduledEndTime));
  if (!writeStep(11)) return TConfigurationResult::Stopped;
  return TConfigurationResult::Saved;
}

}  // namespace brindle
