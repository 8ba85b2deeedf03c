#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/notification_port.h"

namespace brindle {

class TDownloadRecord;
class TTrayPort;

// Tells the desktop that a download finished or failed while the main
// window is hidden or minimised ("ShowNotifications"): through the
// notification service, else as a balloon of the tray icon. Downloads that
// end while the last notification is still on the desktop are told in that
// one, replaced, so a queue ending one by one is one notification, not one a
// file. The windows that follow a download are shown as ever; this adds to
// them.
class TDownloadNotifier {
 public:
  static constexpr const char* kCompleteSummary = "Download Complete";
  static constexpr const char* kFailedSummary = "Download Failed";
  static constexpr const char* kOpenAction = "open";
  static constexpr const char* kOpenFolderAction = "open-folder";
  // The most notifications whose actions are remembered; a desktop that
  // never says they closed does not make the list grow without end.
  static constexpr size_t kRemembered = 64;
  // The most downloads a gathered notification names; the rest are counted.
  static constexpr size_t kNamed = 5;

  // port: the notification service (nullptr: none); tray: the tray icon
  // for the balloon (nullptr: none), kept by the caller; windowAway: whether
  // the main window is hidden or minimised now.
  TDownloadNotifier(std::unique_ptr<TNotificationPort> port, TTrayPort* tray, std::function<bool()> windowAway);
  ~TDownloadNotifier();
  TDownloadNotifier(const TDownloadNotifier&) = delete;
  TDownloadNotifier& operator=(const TDownloadNotifier&) = delete;

  void DownloadDone(const TDownloadRecord& record);
  void DownloadFailed(const TDownloadRecord& record);
  // The user has the window in front of them: the downloads told so far are
  // seen, and the next end starts a notification of its own.
  void WindowSeen();
  // A click on a notification or the balloon: the user wants the window.
  std::function<void()> OnShowWindow;

 private:
  // One download's end, copied: the record may be gone before it is told.
  struct TEnd {
    std::string Name;
    std::string Folder;   // "" when no file was chosen yet
    std::string File;     // the finished file, "" for a failure
    std::string Failure;  // what went wrong, "" when done
  };
  // A notification and the file its actions open ("" for none).
  struct TTold {
    TNotification Notification;
    std::string File;
  };

  bool Wanted() const;
  void Tell(TEnd end);
  // Sends what group_ tells, in the place of groupId_'s notification.
  void Send();
  TTold Compose(const std::vector<TEnd>& ends) const;
  void Balloon(const TNotification& notification);
  void Act(uint32_t id, const std::string& key);
  void NewGroup();

  std::unique_ptr<TNotificationPort> port_;
  TTrayPort* tray_;
  std::function<bool()> windowAway_;
  // The ends the newest notification tells of, oldest first; its id (0
  // while none is on the desktop); whether a Show awaits its answer, and
  // whether ends came meanwhile (sent once it answers).
  // An answer to a Show sent before the group last began again (window
  // seen) no longer leads the group.
  std::vector<TEnd> group_;
  uint32_t groupId_ = 0;
  bool sending_ = false;
  bool changed_ = false;
  uint64_t generation_ = 0;
  // The file each notification on the desktop opens (its folder for Open
  // Folder), copied: the record may be gone before the user chooses.
  std::map<uint32_t, std::string> paths_;
};

}  // namespace brindle
