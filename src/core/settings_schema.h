#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/paths.h"
#include "core/settings.h"
#include "core/settings_reader.h"
#include "core/system_proxy.h"

namespace brindle {

// Colour values are 0x00BBGGRR; one with the high bit set names a system colour.
inline constexpr uint32_t kSystemColorFlag = 0x80000000;
inline constexpr uint32_t kSystemWindowColor = 0x80000005;
inline constexpr uint32_t kSystemWindowTextColor = 0x80000008;
inline constexpr uint32_t kSystemGrayTextColor = 0x80000011;

// Every setting of the program, in section "Options" unless it says
// otherwise: its key, type and default. Read and written with Read(entry)
// and Write(entry, value) (settings_reader.h). Where readers of one key
// have always used different defaults, the key has one entry per default,
// each saying who reads it.
namespace setting {

// Downloads and the queue.
inline const TIntegerSetting MaxSimultaneousDownloads{"MaxSimultaneousDownloads", 3};
inline const TIntegerSetting SplitParts{"SplitParts", 4};
inline const TIntegerSetting SmallestSplitSize{"SmallestSplitSize", 100};  // KiB
inline const TIntegerSetting TimeOutTime{"TimeOutTime", 30000};            // ms
// Seconds without a byte before a connection counts as lost; not in the dialog.
inline const TIntegerSetting StallTimeOut{"StallTimeOut", 60};
inline const TIntegerSetting RetryTimes{"RetryTimes", 10};
inline const TIntegerSetting RetryDelay{"RetryDelay", 30};  // seconds
inline const TBoolSetting TryLocalMirrorlist{"TryLocalMirrorlist", true};
inline const TStringSetting PartialDownloadsDirectory{.Key = kPartialDownloadsDirectoryKey,
                                                      .AtRead = DefaultPartialDownloadsDirectory};
inline const TStringSetting DefaultDownloadDirectory{.Key = "DefaultDownloadDirectory",
                                                     .AtRead = brindle::DefaultDownloadDirectory};
inline const TBoolSetting DateFolders{"DateFolders", false};
// The date folder's parts ("Year", "Month", "Day"; "none" for no part) and
// dividers ("none" for no divider: an empty text reads as the default).
inline const TStringSetting Date1{"Date1", "Month"};
inline const TStringSetting Date2{"Date2", "Day"};
inline const TStringSetting Date3{"Date3", "Year"};
inline const TStringSetting DateDivider1{"DateDivider1", "-"};
inline const TStringSetting DateDivider2{"DateDivider2", "-"};
inline const TBoolSetting ShowSaveDialog{"ShowSaveDialog", true};
inline const TBoolSetting ShowCompletedDialog{"ShowCompletedDialog", true};
inline const TBoolSetting ShowDownloadWindow{"ShowDownloadWindow", true};
inline const TBoolSetting RemoveSuccessfulDownloadFromList{"RemoveSuccessfulDownloadFromList", false};
inline const TBoolSetting RemoveUnexistingFilesFromList{"RemoveUnexistingFilesFromList", true};
// The extensions Brindle takes from the browsers and the clipboard. The
// configuration dialog and the category editor read a missing list as the
// default list...
inline const TStringSetting Extensions{"Extensions", kDefaultExtensionList};
// ...while the filter reads it as empty; the programs store the default list
// at start whenever this reads empty (StoreDefaultExtensionsIfEmpty).
inline const TStringSetting ExtensionsAsStored{"Extensions", ""};
// The program-wide limit in KiB/s, applied while SpeedLimitEnabled.
inline const TIntegerSetting SpeedLimit{"SpeedLimit", 0};
inline const TBoolSetting SpeedLimitEnabled{"SpeedLimitEnabled", false};

// Connection and proxies.
inline const TBoolSetting UseHTTPProxy{.Key = "UseHTTPProxy", .AtRead = UseProxySettings};
inline const TStringSetting HTTPProxyAddress{"HTTPProxyAddress", ""};
inline const TStringSetting HTTPProxyPort{"HTTPProxyPort", ""};
inline const TStringSetting HTTPProxyUser{"HTTPProxyUser", ""};
inline const TStringSetting HTTPProxyPass{"HTTPProxyPass", ""};
// The system names no FTP proxy of this "USER user@host" kind (ftp_proxy
// names an HTTP one), so it is off until the user ticks it.
inline const TBoolSetting UseFTPProxy{"UseFTPProxy", false};
inline const TStringSetting FTPProxyAddress{"FTPProxyAddress", ""};
inline const TStringSetting FTPProxyPort{"FTPProxyPort", ""};
inline const TBoolSetting PassiveMode{"PassiveMode", false};
inline const TBoolSetting ConnectUsingDialUp{"ConnectUsingDialUp", false};
inline const TBoolSetting DiconnectAfterDownload{"DiconnectAfterDownload", false};
inline const TStringSetting ModemConnectionEntry{"ModemConnectionEntry", ""};
inline const TBoolSetting AlwaysConnect{"AlwaysConnect", true};
inline const TBoolSetting AlwaysDownloadWhenConnected{"AlwaysDownloadWhenConnected", true};
inline const TStringSetting ConnectionType{"ConnectionType", "56.6k"};
inline const TIntegerSetting ConnectionSpeed{"ConnectionSpeed", 0};
inline const TStringSetting UpdateURL{"UpdateURL", ""};  // where the version check asks; none: no check

// After the downloads. The main window writes AfterDownloadsCompleted false
// at every start; the after-downloads actions read it as false when missing...
inline const TBoolSetting AfterDownloadsCompleted{"AfterDownloadsCompleted", false};
// ...while the hang-up dialog, whose first choice it is, reads it as true.
inline const TBoolSetting AfterDownloadsCompletedAtHangUp{"AfterDownloadsCompleted", true};
inline const TBoolSetting HangUpOn{"HangUpOn", false};  // written at every start; nothing acts on it
inline const TBoolSetting AtSpecificTime{"AtSpecificTime", false};
inline const TBoolSetting AfterNumberOfMinutes{"AfterNumberOfMinutes", false};
inline const TDateTimeSetting HangUpTime1{.Key = "HangUpTime1", .AtRead = Now};
inline const TDateTimeSetting HangUpTime2{.Key = "HangUpTime2", .AtRead = Now};
inline const TBoolSetting ShutDownComputerAfterDownloading{"ShutDownComputerAfterDownloading", false};
inline const TBoolSetting AutoCloseAfterDownloads{"AutoCloseAfterDownloads", false};
inline const TBoolSetting VirusChecking{"VirusChecking", false};
inline const TStringSetting AntivirusExecutablePath{"AntivirusExecutablePath", ""};
inline const TStringSetting AntivirusExecutableParameters{"AntivirusExecutableParameters", ""};

// The schedule.
inline const TBoolSetting UseSchedule{"UseSchedule", false};
// "ScheduledWeekly_Sun" (day 0) .. "ScheduledWeekly_Sat" (day 6).
TBoolSetting ScheduledWeekly(int day);
inline const TDateTimeSetting ScheduledRecurrenceStartTime{.Key = "ScheduledRecurrence_StartTime", .AtRead = Now};
inline const TDateTimeSetting ScheduledRecurrenceEndTime{.Key = "ScheduledRecurrence_EndTime", .AtRead = Now};
inline const TBoolSetting ScheduledRecurrenceNoEnd{"ScheduledRecurrence_NoEnd", true};
inline const TBoolSetting ScheduledRecurrenceEndBy{"ScheduledRecurrence_EndBy", false};
inline const TDateTimeSetting StartTime{.Key = "StartTime", .AtRead = Now};
inline const TDateTimeSetting EndTime{.Key = "EndTime", .AtRead = Now};
// The dialog's half-hour items, 0 ("00:00") to 47 ("23:30").
inline const TIntegerSetting ScheduledStartTime{"ScheduledStartTime", 0};
inline const TIntegerSetting ScheduledEndTime{"ScheduledEndTime", 0};

// Integration and start-up.
inline const TBoolSetting EnableBrowserIntegration{"EnableBrowserIntegration", true};
// Chromium-family browsers, Firefox and Opera, under the names of their forerunners.
inline const TBoolSetting IntegrateWithInternetExplorer{"IntegrateWithInternetExplorer", true};
inline const TBoolSetting IntegrateWithNetscape{"IntegrateWithNetscape", false};
inline const TBoolSetting IntegrateWithOpera{"IntegrateWithOpera", false};
inline const TBoolSetting ShowDisabledIcon{"ShowDisabledIcon", true};
// The main window at its start and the configuration dialog read a missing
// key as on...
inline const TBoolSetting MonitorClipboard{"MonitorClipboard", true};
// ...while the main window, applying the dialog's settings, reads it as off.
inline const TBoolSetting MonitorClipboardAfterConfiguration{"MonitorClipboard", false};
inline const TBoolSetting LaunchOnStartup{"LaunchOnStartup", false};
inline const TBoolSetting StartMinized{"StartMinized", false};
inline const TBoolSetting MinimizeToTray{"MinimizeToTray", false};
inline const TBoolSetting ShowSystemTrayIcons{"ShowSystemTrayIcons", false};
// A desktop notification when a download ends while the main window is away.
inline const TBoolSetting ShowNotifications{"ShowNotifications", true};
inline const TBoolSetting CheckForUpdates{"CheckForUpdates", true};
inline const TIntegerSetting LastCheckedForUpdate{"LastCheckedForUpdate", 0};  // a whole day number

// Appearance.
inline const TBoolSetting DrawProgressBars{"DrawProgressBars", true};
inline const TBoolSetting GridLines{"GridLines", false};
inline const TIntegerSetting ColorTheme{"ColorTheme", 0};  // 0 standard, 1 Brindle, else custom
// The colours of the list by role, in this order.
inline constexpr std::array<const char*, 6> kColorRoles = {"Background", "Downloading", "Paused",
                                                           "Done",       "Error",       "Other"};
// "Standard_Color_", "Brindle_Color_" or "Custom_Color_" followed by the
// role, with the theme's default colour (the custom theme's are the standard's).
TIntegerSetting ThemeColor(int theme, size_t role);
inline const TBoolSetting LargeButtons{"LargeButtons", true};
inline const TBoolSetting ShowCategories{"ShowCategories", true};
inline const TIntegerSetting CategoriesPanelWidth{"CategoriesPanelWidth", 150};
inline const TIntegerSetting ChoosenCategory{"ChoosenCategory", 0};
inline const TBoolSetting DownloadBasket{"DownloadBasket", false};  // written only
inline const TIntegerSetting ConfigurationFormWidth{"ConfigurationFormWidth", 450};
inline const TIntegerSetting ConfigurationFormHeight{"ConfigurationFormHeight", 450};
inline const TIntegerSetting PropertiesFormWidth{"PropertiesFormWidth", 400};
inline const TIntegerSetting PropertiesFormHeight{"PropertiesFormHeight", 200};
// "StringGrid_Downloads_ColWidth_0" .. "_6", "StringGrid_Categories_ColWidth_0"
// .. "_3", "StringGrid_Mirrors_ColWidth_0" and "_1", each with its width.
TIntegerSetting DownloadsColumnWidth(int column);
TIntegerSetting CategoriesColumnWidth(int column);
TIntegerSetting MirrorsColumnWidth(int column);
inline const TIntegerSetting DownloadsSortByColumn{"StringGrid_Downloads_SortByColumn", 0};
inline const TBoolSetting DownloadsSortAscending{"StringGrid_Downloads_SortDirectionAscending", true};

// A window's placement, in its section ("Form_Main Position" and the like).
struct TWindowPosition {
  TIntegerSetting Top, Left, Height, Width;
  TBoolSetting Maximized, Minimized;
};
TWindowPosition WindowPosition(const std::string& section);
// The main window's placement as the configuration dialog reads it to
// centre itself when the main window is hidden, with defaults of its own.
TWindowPosition MainWindowPositionAtConfiguration();

// Links the user chose to ignore: "count" in section "IgnoreLinks", and
// each link under its number.
inline const TIntegerSetting IgnoreLinksCount{.Key = "count", .Fixed = 0, .Section = "IgnoreLinks"};
TStringSetting IgnoredLink(int number);

}  // namespace setting

// What the desktop program and the browser host do at start.
void StoreDefaultExtensionsIfEmpty();

}  // namespace brindle
