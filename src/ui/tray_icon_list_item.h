#pragma once

#include <QElapsedTimer>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>

#include "ui/tray_port.h"

namespace brindle {

class TDownloader;
class TDownloadRecord;
class TDownloadSystem;
class TTrayInfoPanel;

// The tray icon of one running download, with its menu and its
// information panel. It touches its downloader only while the download
// system still lists it as active: a paused or finished downloader is
// freed soon after it leaves that list.
class TTrayIconListItem {
 public:
  static constexpr int kIconSize = 22;
  static constexpr int kInfoIntervalMs = 100;
  // A click shows the panel until the next click or for this long.
  static constexpr int kInfoShownMs = 5000;

  TTrayIconListItem(TDownloadSystem& system, TDownloader& downloader, std::unique_ptr<TTrayPort> port);
  ~TTrayIconListItem();
  TTrayIconListItem(const TTrayIconListItem&) = delete;
  TTrayIconListItem& operator=(const TTrayIconListItem&) = delete;

  // The downloader while it runs, else nullptr.
  TDownloader* Downloader() const;
  bool Holds(const TDownloader* downloader) const { return downloader == downloader_; }
  // Draws the picture anew and shows the icon.
  void UpdateIcon();

  void ShowInfoForm();
  void HideInfoForm();
  bool InfoFormShown() const { return panel_ != nullptr; }
  void ToggleDownloadWindow();
  QMenu& Menu() const { return *menu_; }

 private:
  void OnInfoFormTimer();
  void Pause();
  void Schedule();
  void Abort();

  TDownloadSystem& system_;
  TDownloader* downloader_;
  const TDownloadRecord* record_;
  std::unique_ptr<TTrayPort> port_;
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<TTrayInfoPanel> panel_;
  QTimer infoTimer_;
  QElapsedTimer infoShown_;
};

}  // namespace brindle
