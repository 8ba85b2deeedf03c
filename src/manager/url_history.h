#pragma once

#include <string>
#include <vector>

namespace brindle {

// The addresses typed into the Add-URL dialog, kept in "LastURLs" in the
// data directory: one a line, oldest first, at most kMaxCount.
class TUrlHistory {
 public:
  static constexpr int kMaxCount = 9;

  // Reads the file (a missing file: no history).
  TUrlHistory();
  explicit TUrlHistory(std::string fileName);

  static std::string DefaultFileName();

  // Oldest first; empty lines are skipped and only the newest kMaxCount kept.
  const std::vector<std::string>& Items() const { return items_; }
  // A new address goes last, the oldest dropping out beyond kMaxCount; an
  // address already there keeps its place. Saved at once. Blank: nothing.
  void Add(const std::string& url);

 private:
  std::string fileName_;
  std::vector<std::string> items_;
};

}  // namespace brindle
