#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindle {

class EventLoop;
class TDownloadSystem;
class TTimer;

// The system clipboard as the monitor sees it: its text, or none when it
// holds no text. The GUI reads the desktop's clipboard; tests a variable.
using TClipboardText = std::function<std::optional<std::string>()>;

// Watches the clipboard and adds a download, without asking, when the user
// copies the address of a file whose extension is monitored ("Extensions").
class TMonitorClipboard {
 public:
  static constexpr int64_t kCheckIntervalMs = 1000;

  // The text on the clipboard now counts as seen: an address that was there
  // before the program started is not taken. Disabled until Enable.
  TMonitorClipboard(TDownloadSystem& system, TClipboardText clipboard, EventLoop* loop = nullptr);
  ~TMonitorClipboard();
  TMonitorClipboard(const TMonitorClipboard&) = delete;
  TMonitorClipboard& operator=(const TMonitorClipboard&) = delete;

  // Neither forgets the last text seen.
  void Enable();
  void Disable();
  bool Enabled() const;

 private:
  void Check();

  TDownloadSystem& system_;
  TClipboardText clipboard_;
  std::unique_ptr<TTimer> timer_;
  std::string lastText_;
};

}  // namespace brindle
