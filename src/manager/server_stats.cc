#include "manager/server_stats.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>

#include "core/atomic_file.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/url.h"
#include "core/ascii_case.h"
#include "manager/field_escape.h"
#include "engine/file_mirror.h"
#include "engine/mirror_list.h"
#include "core/text_file.h"
#include "platform/shell.h"

namespace brindle {
namespace {

constexpr int kNoPing = 9999;

std::string TopDomain(const std::string& host) {
  const size_t dot = host.rfind('.');
  return dot == std::string::npos ? "" : host.substr(dot + 1);
}

const TServer* Find(const std::vector<TServer>& list, const std::string& name) {
  const auto found = std::find_if(list.begin(), list.end(), [&name](const TServer& s) { return s.Name == name; });
  return found == list.end() ? nullptr : &*found;
}

// (average x count + value) / (count + 1), rounded to the nearest integer
// with halves to even, in 64 bits so that no product overflows.
int RoundedAverage(int average, int count, int64_t value) {
  const int64_t total = static_cast<int64_t>(average) * count + value;
  const int64_t divisor = static_cast<int64_t>(count) + 1;
  int64_t quotient = total / divisor;
  const int64_t twiceRemainder = 2 * (total % divisor);
  if (twiceRemainder > divisor || (twiceRemainder == divisor && quotient % 2 != 0)) ++quotient;
  return static_cast<int>(quotient);
}

int Incremented(int count) { return count < INT_MAX ? count + 1 : count; }

void AddPingTo(std::vector<TServer>& list, const std::string& name, int ping) {
  const auto found = std::find_if(list.begin(), list.end(), [&name](const TServer& s) { return s.Name == name; });
  if (found != list.end()) {
    TServer entry = *found;
    entry.AvgPing = RoundedAverage(entry.AvgPing, entry.PingCount, ping);
    entry.PingCount = Incremented(entry.PingCount);
    list.erase(found);
    const auto position =
        std::find_if(list.begin(), list.end(), [&entry](const TServer& s) { return s.AvgPing > entry.AvgPing; });
    list.insert(position, std::move(entry));
    return;
  }
  const auto position = std::find_if(list.begin(), list.end(), [ping](const TServer& s) { return s.AvgPing > ping; });
  if (static_cast<size_t>(position - list.begin()) >= TServerStats::kMaxEntries) return;
  list.insert(position, TServer{name, ping, 1, 0, 0});
  while (list.size() > TServerStats::kMaxEntries) list.pop_back();
}

bool AddSpeedTo(std::vector<TServer>& list, const std::string& name, int64_t speed) {
  const auto found = std::find_if(list.begin(), list.end(), [&name](const TServer& s) { return s.Name == name; });
  if (found == list.end()) return false;
  found->AvgSpeed = RoundedAverage(found->AvgSpeed, found->SpeedCount, speed);
  found->SpeedCount = Incremented(found->SpeedCount);
  return true;
}

// Plain decimal digits that fit an int.
std::optional<int> ParseCount(std::string_view text) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Name, AvgPing, PingCount, AvgSpeed and SpeedCount, TAB-separated; the last
// field ends at a further TAB if there is one.
std::optional<TServer> ParseEntry(std::string_view line) {
  std::string_view fields[5];
  for (int i = 0; i < 5; ++i) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos && i < 4) return std::nullopt;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
  }
  int numbers[4];
  for (int i = 0; i < 4; ++i) {
    const std::optional<int> number = ParseCount(fields[i + 1]);
    if (!number) return std::nullopt;
    numbers[i] = *number;
  }
  return TServer{UnescapeField(fields[0]), numbers[0], numbers[1], numbers[2], numbers[3]};
}

void SortByPing(std::vector<TServer>& list) {
  std::stable_sort(list.begin(), list.end(), [](const TServer& a, const TServer& b) { return a.AvgPing < b.AvgPing; });
}

void SortBySpeedDescending(std::vector<TServer>& list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const TServer& a, const TServer& b) { return a.AvgSpeed > b.AvgSpeed; });
}

// Host names come from addresses anyone can write; they must not turn into markup.
std::string HtmlText(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': result += "&amp;"; break;
      case '<': result += "&lt;"; break;
      case '>': result += "&gt;"; break;
      case '"': result += "&quot;"; break;
      default: result += c;
    }
  }
  return result;
}

std::string PingText(int ping) { return ping == 0 ? "N/A" : std::to_string(ping); }

// Kilobytes per second with one decimal, the decimal dropped when it is 0.
std::string SpeedText(int speed) {
  if (speed == 0) return "N/A";
  const int tenths = speed / 100;
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text;
}

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kTitle = "<HTML><HEAD><TITLE>Server Statistics</TITLE></HEAD><BODY>";
constexpr const char* kTable = R"(<table width="95%" border="0" cellspacing="0" cellpadding="0">)";
constexpr const char* kTableEnd = "</table><br><br>";
constexpr const char* kPageEnd = "</table></body></html>";
constexpr const char* kFontRowStart = R"(<tr><td><font size="2" color="#000000" face="verdana,arial">)";
constexpr const char* kShadedFontRowStart =
    R"(<tr bgcolor="#eeeeee"><td><font size="2" color="#000000" face="verdana,arial">)";
constexpr const char* kFontCell = R"(</font></td><td><font size="2" color="#000000" face="verdana,arial">)";
constexpr const char* kFontRowEnd = "</font></td></tr>";

std::string FontRows(const std::vector<TServer>& list, const char* namePrefix) {
  std::string rows;
  for (size_t i = 0; i < list.size(); ++i) {
    const TServer& entry = list[i];
    rows += i % 2 == 0 ? kFontRowStart : kShadedFontRowStart;
    rows += namePrefix + HtmlText(entry.Name) + kFontCell + PingText(entry.AvgPing) + kFontCell +
            SpeedText(entry.AvgSpeed) + kFontRowEnd + kLineEnd;
  }
  return rows;
}

std::string PlainDomainRows(const std::vector<TServer>& list) {
  std::string rows;
  for (size_t i = 0; i < list.size(); ++i) {
    const TServer& entry = list[i];
    rows += i % 2 == 0 ? "<tr><td>" : R"(<tr bgcolor="#eeeeee"><td>)";
    rows += "." + HtmlText(entry.Name) + "</td><td>" + PingText(entry.AvgPing) + "</td><td>" +
            SpeedText(entry.AvgSpeed) + "</td></tr>" + kLineEnd;
  }
  return rows;
}

}  // namespace

TServerStats::TServerStats() : TServerStats(ApplicationDirectory()) {}

TServerStats::TServerStats(const std::string& directory) {
  std::string base = directory;
  if (base.empty() || base.back() != '/') base += '/';
  statisticsFile_ = base + "serverstats.txt";
  pingPageFile_ = base + "StatisticsPing.html";
  speedPageFile_ = base + "StatisticsSpeed.html";
  Load();
}

void TServerStats::AddPing(const std::string& host, int ping) {
  try {
    if (ping < 0 || ping >= kNoPing) return;
    const std::string name = LowerCaseAscii(host);
    AddPingTo(servers_, name, ping);
    AddPingTo(topDomains_, TopDomain(name), ping);
    Save();
  } catch (...) {
    LogError("TServerStats.AddPing");
  }
}

void TServerStats::AddSpeed(const std::string& host, int64_t speed) {
  try {
    if (speed < 0) return;
    const int64_t clamped = std::min<int64_t>(speed, INT_MAX);
    const std::string name = LowerCaseAscii(host);
    const bool hostChanged = AddSpeedTo(servers_, name, clamped);
    const bool domainChanged = AddSpeedTo(topDomains_, TopDomain(name), clamped);
    if (hostChanged || domainChanged) Save();
  } catch (...) {
    LogError("TServerStats.AddSpeed");
  }
}

void TServerStats::SortMirrors(TMirrorList& mirrors) const {
  try {
    for (int i = 0; i < mirrors.Count(); ++i) {
      TFileMirror& mirror = *mirrors.Get(i);
      const std::string host = LowerCaseAscii(mirror.Url->Host);
      const TServer* hostEntry = Find(servers_, host);
      const TServer* domainEntry = Find(topDomains_, TopDomain(host));
      mirror.HostPing = hostEntry ? hostEntry->AvgPing : kNoPing;
      mirror.HostSpeed = hostEntry ? hostEntry->AvgSpeed : 0;
      mirror.DomainPing = domainEntry ? domainEntry->AvgPing : kNoPing;
      mirror.DomainSpeed = domainEntry ? domainEntry->AvgSpeed : 0;
    }
    const auto key = [](const TFileMirror& m) { return m.HostPing != kNoPing ? m.HostPing : m.DomainPing; };
    mirrors.Sort([&key](const TFileMirror& a, const TFileMirror& b) { return key(a) < key(b); });
  } catch (...) {
    LogError("TServerStats.SortMirrors");
  }
}

std::string TServerStats::PingPage() const {
  std::string page = std::string(kTitle) + kLineEnd + kTable + kLineEnd;
  page += R"(<tr bgcolor="#cccccc"><td><b>Server</b></td><td><b>Average Ping [ms]</b></td><td><b><a href=")" +
          HtmlText(speedPageFile_) + R"(">Average Download Speed per Connection [kb/s]</a></b></td></tr>)" +
          kLineEnd;
  page += FontRows(servers_, "");
  page += std::string(kTableEnd) + kLineEnd;
  page += std::string(R"(<A name="section2">)") + kTable + kLineEnd;
  page += R"(<tr bgcolor="#cccccc"><td><b>Top Domain</b></td><td><b>Average Ping [ms]</b></td><td><b><a href=")" +
          HtmlText(speedPageFile_) + R"(#section2">Average Download Speed per Connection[kb/s]</a></b></td></tr>)" +
          kLineEnd;
  page += FontRows(topDomains_, ".");
  page += std::string(kPageEnd) + kLineEnd;
  return page;
}

std::string TServerStats::SpeedPage() const {
  std::string page = std::string(kTitle) + kLineEnd + kTable + kLineEnd;
  page += R"(<tr bgcolor="#cccccc"><td><b>Server</b></td><td><b><a href=")" + HtmlText(pingPageFile_) +
          R"(">Average Ping [ms]</a></b></td><td><b>Average Download Speed [kb/s]</b></td></tr>)" + kLineEnd;
  page += FontRows(servers_, "");
  page += std::string(kTableEnd) + kLineEnd;
  page += std::string(R"(<A name="section2"></A>)") + kTable + kLineEnd;
  page += R"(<tr bgcolor="#cccccc"><td><b>Top Domain</b></td><td><b><a href=")" + HtmlText(pingPageFile_) +
          R"(#section2">Average Ping [ms]</a></b></td><td><b>Average Download Speed [kb/s]</b></td></tr>)" +
          kLineEnd;
  page += PlainDomainRows(topDomains_);
  page += std::string(kPageEnd) + kLineEnd;
  return page;
}

void TServerStats::ShowStatistics() {
  try {
    EnsureDirectory(DirectoryOf(pingPageFile_));
    SortByPing(servers_);
    SortByPing(topDomains_);
    WriteFileAtomically(pingPageFile_, PingPage(), 0600);
    SortBySpeedDescending(servers_);
    SortBySpeedDescending(topDomains_);
    WriteFileAtomically(speedPageFile_, SpeedPage(), 0600);
    Callbrowser(pingPageFile_);
    SortByPing(servers_);
    SortByPing(topDomains_);
    Save();
  } catch (...) {
    LogError("TServerStats.ShowStatistics");
  }
}

void TServerStats::Clear() {
  for (const std::string* path : {&statisticsFile_, &pingPageFile_, &speedPageFile_}) ::unlink(path->c_str());
  servers_.clear();
  topDomains_.clear();
}

void TServerStats::Load() {
  try {
    std::string text;
    if (ReadFileText(statisticsFile_, text) != TReadResult::Ok) text.clear();
    LoadText(text);
  } catch (...) {
    LogError("TServerStats.Load");
  }
}

void TServerStats::LoadText(std::string_view text) {
  servers_.clear();
  topDomains_.clear();
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.empty()) return;
  // Without the count nothing tells host lines from domain lines.
  const std::optional<int> hostCount = ParseCount(lines[0]);
  if (!hostCount) return;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<TServer>& list = i <= static_cast<size_t>(*hostCount) ? servers_ : topDomains_;
    std::optional<TServer> entry = ParseEntry(lines[i]);
    if (!entry || list.size() >= kMaxEntries || Find(list, entry->Name)) continue;
    list.push_back(std::move(*entry));
  }
  // A file edited by hand may be out of order; the insertion rules need order.
  SortByPing(servers_);
  SortByPing(topDomains_);
}

std::string TServerStats::Text() const {
  std::string text = std::to_string(servers_.size()) + kLineEnd;
  for (const std::vector<TServer>* list : {&servers_, &topDomains_}) {
    for (const TServer& entry : *list) {
      text += EscapeField(entry.Name) + '\t' + std::to_string(entry.AvgPing) + '\t' +
              std::to_string(entry.PingCount) + '\t' + std::to_string(entry.AvgSpeed) + '\t' +
              std::to_string(entry.SpeedCount) + kLineEnd;
    }
  }
  return text;
}

bool TServerStats::Save() const {
  try {
    EnsureDirectory(DirectoryOf(statisticsFile_));
    // Figures for the statistics pages, rewritten after every download: not
    // worth a sync each time.
    return WriteFileAtomically(statisticsFile_, Text(), 0600, TDurability::Unsynced);
  } catch (...) {
    LogError("TServerStats.Save");
    return false;
  }
}

}  // namespace brindle
