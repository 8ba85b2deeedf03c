#include "manager/url_history.h"

#include <algorithm>

#include "core/atomic_file.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/text_file.h"

namespace brindle {
TUrlHistory::TUrlHistory() : TUrlHistory(DefaultFileName()) {}

TUrlHistory::TUrlHistory(std::string fileName) : fileName_(std::move(fileName)) {
  try {
    std::string text;
    if (ReadFileText(fileName_, text) != TReadResult::Ok) return;
    for (std::string_view line : SplitLines(text)) {
      const std::string url = Trimmed(std::string(line));
      if (!url.empty() && std::find(items_.begin(), items_.end(), url) == items_.end()) items_.push_back(url);
    }
    if (items_.size() > kMaxCount) items_.erase(items_.begin(), items_.end() - kMaxCount);
  } catch (...) {
    LogError("TForm_AddURL.LoadURLs");
  }
}

std::string TUrlHistory::DefaultFileName() { return ApplicationDirectory() + "LastURLs"; }

void TUrlHistory::Add(const std::string& url) {
  try {
    const std::string entry = Trimmed(url);
    // A line break would split the entry into two lines of the file.
    if (entry.empty() || entry.find_first_of("\r\n") != std::string::npos) return;
    if (std::find(items_.begin(), items_.end(), entry) != items_.end()) return;
    items_.push_back(entry);
    if (items_.size() > kMaxCount) items_.erase(items_.begin());
    std::string text;
    for (const std::string& item : items_) text += item + "\n";
    WriteFileAtomically(fileName_, text, 0600);
  } catch (...) {
    LogError("TForm_AddURL.SaveURLs");
  }
}

}  // namespace brindle
