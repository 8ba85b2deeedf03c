#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ui/notification_port.h"

namespace brindle {

class TDownloadRecord;
class TTrayPort;

// Tells the desktop that a download finished or failed while the main
// window is hidden or minimised ("ShowNotifications"): through the
// notification service, else as a balloon of the tray icon. The windows
// that follow a download are shown as ever; this adds to them.
class TDownloadNotifier {
 public:
  static constexpr const char* kCompleteSummary = "Download Complete";
  static constexpr const char* kFailedSummary = "Download Failed";
  static constexpr const char* kOpenAction = "open";
  static constexpr const char* kOpenFolderAction = "open-folder";
  // The most notifications whose actions are remembered; a desktop that
  // never says they closed does not make the list grow without end.
  static constexpr size_t kRemembered = 64;

  // port: the notification service (nullptr: none); tray: the tray icon
  // for the balloon (nullptr: none), kept by the caller; windowAway: whether
  // the main window is hidden or minimised now.
  TDownloadNotifier(std::unique_ptr<TNotificationPort> port, TTrayPort* tray, std::function<bool()> windowAway);
  ~TDownloadNotifier();
  TDownloadNotifier(const TDownloadNotifier&) = delete;
  TDownloadNotifier& operator=(const TDownloadNotifier&) = delete;

  void DownloadDone(const TDownloadRecord& record);
  void DownloadFailed(const TDownloadRecord& record);
  // A click on a notification or the balloon: the user wants the window.
  std::function<void()> OnShowWindow;

 private:
  bool Wanted() const;
  // path: the finished file the actions open, "" for none.
  void Tell(TNotification notification, const std::string& path);
  void Balloon(const TNotification& notification);
  void Act(uint32_t id, const std::string& key);

  std::unique_ptr<TNotificationPort> port_;
  TTrayPort* tray_;
  std::function<bool()> windowAway_;
  // The file each notification on the desktop opens, copied: the record
  // may be gone before the user chooses.
  std::map<uint32_t, std::string> paths_;
};

}  // namespace brindle
