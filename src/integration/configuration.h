#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/date_time.h"
#include "core/settings_schema.h"
#include "core/system_proxy.h"
#include "integration/partial_downloads_move.h"
#include "manager/status_colors.h"

namespace brindle {

class TDownloadSystem;

// What the configuration dialog's controls hold, by the settings key each
// edits (section "Options"). Loaded with the dialog's defaults; written back
// by the OK sequence.
struct TConfigurationValues {
  // Check boxes and radio buttons.
  std::map<std::string, bool> Flags;
  // Edits, the extension memo, the date combos ("" for the empty item), the
  // connection type, and the number fields as typed (the time-out in seconds).
  std::map<std::string, std::string> Texts;
  int ColorTheme = 0;
  // Background, Downloading, Paused, Done, Error, Other of the chosen theme.
  std::array<uint32_t, 6> Colors{};
  // Half-hour item indexes, 0 ("00:00") to 47 ("23:30").
  int ScheduledStartTime = 0;
  int ScheduledEndTime = 0;
  TDateTime RecurrenceStart = 0;
  TDateTime RecurrenceEnd = 0;
  std::vector<std::string> DialUpEntries;
  int DialUpEntry = -1;  // the selected entry, -1: none
};

// The settings the dialog edits, in the order of their pages, each with
// the step of the OK sequence that writes it.
struct TConfigurationFlagKey : TBoolSetting {
  int Step;
};
struct TConfigurationTextKey : TStringSetting {
  int Step;
};
struct TConfigurationNumberKey : TIntegerSetting {
  const char* Caption;  // names the field in a refusal
  int Min, Max;         // as shown
  int Scale;            // stored = shown x Scale
  int Step;
};
const std::vector<TConfigurationFlagKey>& ConfigurationFlagKeys();
const std::vector<TConfigurationTextKey>& ConfigurationTextKeys();
const std::vector<TConfigurationNumberKey>& ConfigurationNumberKeys();

// The half-hour item's time of day.
TDateTime HalfHourTime(int index);

// Every control's value from the settings (the dialog's defaults where a
// key is missing); dialUpEntries: the modem connection's list.
TConfigurationValues LoadConfiguration(const std::vector<std::string>& dialUpEntries);

// The system's proxy for the "http" or "ftp" fields: address and port,
// both empty when none. The FTP fields are never filled: the system names
// no FTP proxy of that kind (ftp_proxy is an HTTP proxy's).
struct TFoundProxy {
  std::string Address, Port;
};
TFoundProxy FindProxy(const std::string& scheme, const TEnvironment& environment = ProcessEnvironment());

// The XDG autostart entry that starts Brindle with the desktop session:
// $XDG_CONFIG_HOME/autostart/brindle.desktop.
std::string AutostartFile();
bool WriteAutostartEntry(bool launch, const std::string& programPath);

// How the OK sequence asks and tells the user (answered at once: the
// dialog runs them as modal boxes from its own button handler).
struct TConfigurationHost {
  std::function<bool(const std::string& question)> Ask;
  std::function<void(const std::string& text)> Message;
  // Before a refusal's message: brings the refused field (by its key) into view.
  std::function<void(const std::string& key)> ShowField;
  // What the autostart entry starts.
  std::string ProgramPath;
};

enum class TConfigurationResult {
  Saved,    // every key written: the dialog closes with OK
  Refused,  // a message was shown, nothing written
  Stopped,  // stopped part-way: what was written stays written
};

// The OK sequence: a value out of its field's range (a proxy's port only
// while that proxy is switched on) is refused first; then
// the keys are written step by step, the partial-downloads directory moved
// on request (refused while downloads run: the edit is set back), a number
// that cannot be read stopping the sequence where it stands.
TConfigurationResult SaveConfiguration(TConfigurationValues& values, TDownloadSystem& system,
                                       const TConfigurationHost& host,
                                       TPartialDownloadsMove::TMoveFile moveFile = nullptr);

}  // namespace brindle
