#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/date_time.h"

namespace brindle {

class EventLoop;
class TDownloadSystem;
class THttpCli;
class TReceiveStream;

// Asks the update server whether a newer Brindle exists. A newer one is
// offered with a Yes/No question through the prompt port; on Yes a program
// file (".exe") is downloaded by Brindle itself and anything else is opened
// in the browser. The latest version gives a status text; a failed request
// or an answer that is no version file shows nothing.
class TVersionChecker {
 public:
  // The version file, whose first line is "<version>#<address>#<note>#",
  // is named by the hidden setting::UpdateURL. There is no built-in update
  // server: without that setting nothing is checked.
  static constexpr int kDaysBetweenChecks = 7;
  static constexpr const char* kLatestVersionText = "You are using the latest version of Brindle";

  explicit TVersionChecker(TDownloadSystem& system, EventLoop* loop = nullptr);  // nullptr: EventLoop::Current()
  ~TVersionChecker();
  TVersionChecker(const TVersionChecker&) = delete;
  TVersionChecker& operator=(const TVersionChecker&) = delete;

  // Starts a check and returns at once; nothing while one is running or
  // when no version file is set.
  void Check();
  // The start-up check: with "CheckForUpdates", once a week counted by
  // "LastCheckedForUpdate" (a whole day number), which is set to today.
  // True when it was due.
  bool CheckIfDue(TDateTime now);
  bool Checking() const { return client_ != nullptr; }

  // What the newest version is compared with: the program's version.
  std::string CurrentVersion;
  // The main window's status text.
  std::function<void(const std::string&)> OnStatusText;

 private:
  void RequestDone();
  void Answered(bool yes, const std::string& address);

  TDownloadSystem& system_;
  EventLoop* loop_;
  std::unique_ptr<THttpCli> client_;
  std::unique_ptr<TReceiveStream> stream_;
};

// Versions are decimal numbers with "." as the separator: "1.3" is 1.30 and
// newer than "1.22". Negative, zero or positive as a is older than, the same
// as or newer than b; nullopt when either is not such a number.
std::optional<int> CompareVersions(std::string_view a, std::string_view b);

}  // namespace brindle
