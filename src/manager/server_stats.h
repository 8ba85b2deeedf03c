#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class TMirrorList;

// The statistics of one host name (lower case) or top-level domain
// (without its dot).
struct TServer {
  std::string Name;
  int AvgPing = 0;  // milliseconds; 0: none
  int PingCount = 0;
  int AvgSpeed = 0;  // bytes per second; 0: none
  int SpeedCount = 0;
};

// How fast servers answered pings and delivered parts, per host and per
// top-level domain, kept across runs in "serverstats.txt". Each list stays
// ascending by AvgPing and holds at most 100 entries of distinct names.
class TServerStats {
 public:
  static constexpr size_t kMaxEntries = 100;

  // Files in ApplicationDirectory(); loads the statistics file.
  TServerStats();
  // Files in directory; loads the statistics file.
  explicit TServerStats(const std::string& directory);

  // Records a ping (ignored unless 0 <= ping < 9999) for the host and its
  // top-level domain, then saves.
  void AddPing(const std::string& host, int ping);
  // Records a part's speed for the host and its top-level domain where they
  // have entries (only a server that answered a ping has one), then saves.
  // Negative speeds are ignored.
  void AddSpeed(const std::string& host, int64_t speed);
  // Stores each mirror's host and domain figures on it and sorts the list by
  // the host's average ping, or the domain's where the host has none.
  void SortMirrors(TMirrorList& mirrors) const;
  // Writes "StatisticsPing.html" and "StatisticsSpeed.html" and opens the
  // ping page in the browser.
  void ShowStatistics();
  // Deletes the three files and forgets everything.
  void Clear();

  // Replaces the lists with the statistics file's content (empty when it
  // is missing). Lines that do not parse are skipped.
  void Load();
  // False when the file could not be written.
  bool Save() const;

  // The statistics file's text, and reading one.
  std::string Text() const;
  void LoadText(std::string_view text);

  const std::vector<TServer>& Servers() const { return servers_; }
  const std::vector<TServer>& TopDomains() const { return topDomains_; }
  const std::string& StatisticsFile() const { return statisticsFile_; }
  const std::string& PingPageFile() const { return pingPageFile_; }
  const std::string& SpeedPageFile() const { return speedPageFile_; }

 private:
  std::string PingPage() const;
  std::string SpeedPage() const;

  std::vector<TServer> servers_;
  std::vector<TServer> topDomains_;
  std::string statisticsFile_;
  std::string pingPageFile_;
  std::string speedPageFile_;
};

}  // namespace brindle
