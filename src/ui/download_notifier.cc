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

std::string Folder(const TDownloadRecord& record) {
  return record.LocalFileName.empty() ? "" : DirectoryOf(record.LocalFileName);
}

}  // namespace

TDownloadNotifier::TDownloadNotifier(std::unique_ptr<TNotificationPort> port, TTrayPort* tray,
                                     std::function<bool()> windowAway)
    : port_(std::move(port)), tray_(tray), windowAway_(std::move(windowAway)) {
  if (port_) {
    port_->OnAction = [this](uint32_t id, const std::string& key) { Act(id, key); };
    port_->OnClosed = [this](uint32_t id) {
      paths_.erase(id);
      if (id != groupId_) return;
      // A replacement on its way shows the whole group again, under the id
      // its answer brings.
      if (sending_)
        groupId_ = 0;
      else
        NewGroup();
    };
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
  Tell({.Name = ShownName(record), .Folder = Folder(record), .File = record.LocalFileName, .Failure = ""});
}

void TDownloadNotifier::DownloadFailed(const TDownloadRecord& record) {
  if (!Wanted()) return;
  std::string failure = record.Status().Text();
  if (!record.ErrorDetail.empty()) failure += ": " + record.ErrorDetail;
  Tell({.Name = ShownName(record), .Folder = Folder(record), .File = "", .Failure = failure});
}

void TDownloadNotifier::WindowSeen() { NewGroup(); }

void TDownloadNotifier::NewGroup() {
  group_.clear();
  groupId_ = 0;
  changed_ = false;
  ++generation_;
}

void TDownloadNotifier::Tell(TEnd end) {
  if (!port_) return Balloon(Compose({end}).Notification);
  group_.push_back(std::move(end));
  if (sending_) {
    changed_ = true;
    return;
  }
  Send();
}

void TDownloadNotifier::Send() {
  TTold told = Compose(group_);
  told.Notification.Replaces = groupId_;
  sending_ = true;
  changed_ = false;
  // The answer comes from the port, which this object owns: it never
  // arrives after this object is gone.
  port_->Show(told.Notification, [this, file = told.File, generation = generation_](uint32_t id) {
    const bool current = generation == generation_;
    sending_ = false;
    if (id != 0 && file.empty()) paths_.erase(id);
    if (id != 0 && !file.empty()) {
      paths_[id] = file;
      if (paths_.size() > kRemembered) paths_.erase(paths_.begin());
    }
    if (current && id == 0) {
      Balloon(Compose(group_).Notification);
      return NewGroup();
    }
    if (current) groupId_ = id;
    if (changed_) Send();
  });
}

TDownloadNotifier::TTold TDownloadNotifier::Compose(const std::vector<TEnd>& ends) const {
  TTold told;
  TNotification& n = told.Notification;
  size_t failed = 0;
  std::string folder;  // the one folder of every end that has one, else ""
  bool oneFolder = true;
  const TEnd* newestDone = nullptr;
  for (const TEnd& end : ends) {
    if (end.File.empty())
      ++failed;
    else
      newestDone = &end;
    if (end.Folder.empty() || !oneFolder) continue;
    if (folder.empty()) folder = end.Folder;
    oneFolder = end.Folder == folder;
  }
  if (!oneFolder) folder.clear();
  const size_t done = ends.size() - failed;

  // Newest first: where the desktop cuts the body, the newest stay.
  size_t named = 0;
  for (auto end = ends.rbegin(); end != ends.rend() && named < kNamed; ++end, ++named) {
    if (named > 0) n.Body += "\n";
    n.Body += end->File.empty() ? end->Name + ": " + end->Failure : end->Name;
  }
  if (ends.size() > named) n.Body += "\nand " + std::to_string(ends.size() - named) + " more";
  if (!folder.empty()) n.Body += "\n" + folder;
  if (ends.size() == 1)
    n.Summary = done ? kCompleteSummary : kFailedSummary;
  else if (failed == 0)
    n.Summary = std::to_string(done) + " Downloads Complete";
  else if (done == 0)
    n.Summary = std::to_string(failed) + " Downloads Failed";
  else
    n.Summary = std::to_string(done) + " Downloads Complete, " + std::to_string(failed) + " Failed";

  if (!port_ || !port_->OffersActions()) return told;
  n.Actions.emplace_back(TNotificationPort::kDefaultAction, "Show Brindle");
  if (ends.size() == 1 && done) {
    n.Actions.emplace_back(kOpenAction, "Open");
    n.Actions.emplace_back(kOpenFolderAction, "Open Folder");
    told.File = newestDone->File;
  } else if (newestDone && !folder.empty()) {
    n.Actions.emplace_back(kOpenFolderAction, "Open Folder");
    told.File = newestDone->File;
  }
  return told;
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
