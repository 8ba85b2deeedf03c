#include "ui/download_notifier.h"

#include "core/log_error.h"
#include "core/paths.h"
#include "core/settings_schema.h"
#include "engine/download_record.h"
#include "manager/download_file_name.h"
#include "platform/shell.h"
#include "ui/tray_port.h"

namespace brindle {
namespace {

// The name the user knows the download by: the chosen file's, else the
// one it would get.
std::string ShownName(const TDownloadRecord& record) {
  if (!record.LocalFileName.empty()) return NameOf(record.LocalFileName);
  return record.ProposedFileName.empty() ? LocalNameFromUrl(*record.Url) : record.ProposedFileName;
}

}  // namespace

TDownloadNotifier::TDownloadNotifier(std::unique_ptr<TNotificationPort> port, TTrayPort* tray,
                                     std::function<bool()> windowAway)
    : port_(std::move(port)), tray_(tray), windowAway_(std::move(windowAway)) {
  if (port_) {
    port_->OnAction = [this](uint32_t id, const std::string& key) { Act(id, key); };
    port_->OnClosed = [this](uint32_t id) { paths_.erase(id); };
  }
  if (tray_) {
    tray_->OnMessageClicked = [this] {
      if (OnShowWindow) OnShowWindow();
    };
  }
}

TDownloadNotifier::~TDownloadNotifier() {
  if (tray_) tray_->OnMessageClicked = nullptr;
}

bool TDownloadNotifier::Wanted() const { return Read(setting::ShowNotifications) && windowAway_ && windowAway_(); }

void TDownloadNotifier::DownloadDone(const TDownloadRecord& record) {
  if (!Wanted()) return;
  const std::string& path = record.LocalFileName;
  Tell({.Summary = kCompleteSummary, .Body = ShownName(record) + "\n" + DirectoryOf(path), .Actions = {}}, path);
}

void TDownloadNotifier::DownloadFailed(const TDownloadRecord& record) {
  if (!Wanted()) return;
  std::string body = ShownName(record) + ": " + record.Status().Text();
  if (!record.ErrorDetail.empty()) body += ": " + record.ErrorDetail;
  if (!record.LocalFileName.empty()) body += "\n" + DirectoryOf(record.LocalFileName);
  Tell({.Summary = kFailedSummary, .Body = body, .Actions = {}}, "");
}

void TDownloadNotifier::Tell(TNotification notification, const std::string& path) {
  if (!port_) return Balloon(notification);
  if (port_->OffersActions()) {
    notification.Actions.emplace_back(TNotificationPort::kDefaultAction, "Show Brindle");
    if (!path.empty()) {
      notification.Actions.emplace_back(kOpenAction, "Open");
      notification.Actions.emplace_back(kOpenFolderAction, "Open Folder");
    }
  }
  // The answer comes from the port, which this object owns: it never
  // arrives after this object is gone.
  port_->Show(notification, [this, notification, path](uint32_t id) {
    if (id == 0) return Balloon(notification);
    if (path.empty()) return;
    paths_[id] = path;
    if (paths_.size() > kRemembered) paths_.erase(paths_.begin());
  });
}

void TDownloadNotifier::Balloon(const TNotification& notification) {
  if (tray_ && tray_->Available())
    tray_->ShowMessage(QString::fromStdString(notification.Summary), QString::fromStdString(notification.Body));
}

void TDownloadNotifier::Act(uint32_t id, const std::string& key) {
  try {
    if (key == TNotificationPort::kDefaultAction) {
      if (OnShowWindow) OnShowWindow();
      return;
    }
    const auto found = paths_.find(id);
    if (found == paths_.end()) return;
    if (key == kOpenAction) RunFile(found->second);
    if (key == kOpenFolderAction) RunFile(DirectoryOf(found->second));
  } catch (...) {
    LogError("TDownloadNotifier.Act");
  }
}

}  // namespace brindle
