#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace brindle {

// The progress output of brindle-cli. On a terminal the live lines (one per
// running download) are redrawn in place under the lines already printed;
// elsewhere only lasting lines are written. Lines carry names from outside,
// so their control characters are shown escaped, never sent as they are.
class TCliProgress {
 public:
  TCliProgress(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

  bool Terminal() const { return terminal_; }
  // A line that stays (a state change, an error).
  void PrintLine(const std::string& line);
  // Replaces the live lines (terminal only).
  void SetLiveLines(const std::vector<std::string>& lines);
  // Removes the live lines, before something else writes to the terminal.
  void Clear();

 private:
  void Erase();
  void Draw();

  std::FILE* out_;
  bool terminal_;
  std::vector<std::string> live_;
  size_t drawn_ = 0;
};

}  // namespace brindle
