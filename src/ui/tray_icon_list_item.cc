#include "ui/tray_icon_list_item.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "core/download_status.h"
#include "core/timer.h"
#include "core/url.h"
#include "engine/download_record.h"
#include "engine/downloader.h"
#include "manager/download_forms.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"
#include "ui/glyphs.h"
#include "ui/guarded.h"
#include "ui/tray_progress_picture.h"

namespace brindle {

// The borderless panel a click on the icon shows at the screen's centre.
class TTrayInfoPanel final : public QWidget {
 public:
  static constexpr int kWidth = 400;
  static constexpr int kHeight = 150;

  TTrayInfoPanel() : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("Form_TrayInfo");
    setFixedSize(kWidth, kHeight);
    if (const QScreen* screen = QApplication::primaryScreen())
      move(screen->geometry().center() - QPoint(kWidth / 2, kHeight / 2));
  }
  void SetInfo(TTrayInfo info) {
    info_ = std::move(info);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    PaintTrayInfoPanel(painter, size(), info_);
  }

 private:
  TTrayInfo info_;
};

TTrayIconListItem::TTrayIconListItem(TDownloadSystem& system, TDownloader& downloader, std::unique_ptr<TTrayPort> port)
    : system_(system), downloader_(&downloader), record_(&downloader.LDI()), port_(std::move(port)) {
  menu_ = std::make_unique<QMenu>();
  menu_->setObjectName("PopupMenu_TrayProgress");
  QAction* toggle = menu_->addAction("Show/Hide Download Window");
  toggle->setObjectName("ShowHideDownloadWindow1");
  menu_->addSeparator();
  QAction* pause = menu_->addAction(ThemeGlyph("media-playback-pause", QStyle::SP_MediaPause), "Pause");
  pause->setObjectName("Pause1");
  QAction* schedule = menu_->addAction(ThemeGlyph("x-office-calendar", QStyle::SP_FileDialogDetailedView), "Schedule");
  schedule->setObjectName("Schedule1");
  QAction* abort = menu_->addAction(ThemeGlyph("process-stop", QStyle::SP_BrowserStop), "Abort");
  abort->setObjectName("Abort1");
  QObject::connect(toggle, &QAction::triggered,
                   [this] { Guarded("TTrayIconListItem.ShowHide", [this] { ToggleDownloadWindow(); }); });
  QObject::connect(pause, &QAction::triggered, [this] { Guarded("TTrayIconListItem.Pause", [this] { Pause(); }); });
  QObject::connect(schedule, &QAction::triggered,
                   [this] { Guarded("TTrayIconListItem.Schedule", [this] { Schedule(); }); });
  QObject::connect(abort, &QAction::triggered, [this] { Guarded("TTrayIconListItem.Abort", [this] { Abort(); }); });

  infoTimer_.setInterval(kInfoIntervalMs);
  QObject::connect(&infoTimer_, &QTimer::timeout,
                   [this] { Guarded("TTrayIconListItem.OnInfoFormTimer", [this] { OnInfoFormTimer(); }); });

  port_->SetToolTip(QString::fromStdString(record_->Url->FileName));
  port_->SetMenu(menu_.get());
  port_->OnActivated = [this] {
    Guarded("TTrayIconListItem.Click", [this] {
      if (InfoFormShown()) {
        HideInfoForm();
      } else {
        ShowInfoForm();
      }
    });
  };
  port_->OnDoubleClicked = [this] {
    Guarded("TTrayIconListItem.DoubleClick", [this] {
      HideInfoForm();
      ToggleDownloadWindow();
    });
  };
  UpdateIcon();
  port_->Show();
}

TTrayIconListItem::~TTrayIconListItem() {
  infoTimer_.stop();
  panel_.reset();
  port_->Hide();
  // The port first: it refers to the menu.
  port_.reset();
  menu_.reset();
}

TDownloader* TTrayIconListItem::Downloader() const {
  const std::vector<TDownloader*>& active = system_.ActiveList();
  if (std::find(active.begin(), active.end(), downloader_) == active.end()) return nullptr;
  // Another downloader made at the same address is another download.
  return &downloader_->LDI() == record_ ? downloader_ : nullptr;
}

void TTrayIconListItem::UpdateIcon() {
  TDownloader* d = Downloader();
  if (!d) return;
  const QColor buttonFace = QApplication::palette().color(QPalette::Button);
  const QImage picture = TrayProgressPicture(d->LDI().Status(), d->TransferCount(), d->LDI().FileSize,
                                             QSize(kIconSize, kIconSize), buttonFace);
  port_->SetIcon(QIcon(QPixmap::fromImage(picture)));
}

void TTrayIconListItem::ShowInfoForm() {
  if (!Downloader()) return;
  if (!panel_) panel_ = std::make_unique<TTrayInfoPanel>();
  infoShown_.start();
  OnInfoFormTimer();
  panel_->show();
  infoTimer_.start();
}

void TTrayIconListItem::HideInfoForm() {
  infoTimer_.stop();
  panel_.reset();
}

void TTrayIconListItem::OnInfoFormTimer() {
  TDownloader* d = Downloader();
  if (!panel_ || !d || infoShown_.elapsed() >= kInfoShownMs) {
    HideInfoForm();
    return;
  }
  const TDownloadForms* forms = system_.GetDownloadForms(d);
  if (!forms) return;
  const TRowProgress& progress = forms->Progress();
  TTrayInfo info;
  info.Title = d->LDI().Url->FileName;
  info.FileSize = d->LDI().FileSize;
  info.TransferCount = progress.TransferCount();
  info.Parts = progress.Parts();
  info.TransferRate = progress.TransferRate();
  info.TimeLeft = progress.TimeLeft();
  panel_->SetInfo(std::move(info));
}

void TTrayIconListItem::ToggleDownloadWindow() {
  TDownloader* d = Downloader();
  if (!d) return;
  const TDownloadForms* forms = system_.GetDownloadForms(d);
  if (forms && forms->DownloadWindow && forms->DownloadWindow->Visible()) {
    system_.HideDownloadForm(*d);
  } else {
    system_.ShowDownloadForm(*d);
  }
}

void TTrayIconListItem::Pause() {
  if (TDownloader* d = Downloader()) d->Pause();
}

void TTrayIconListItem::Schedule() {
  if (!Downloader()) return;
  // The record of the list, so the list shows the new status at once.
  const TLDIList& records = system_.DownloadList();
  for (int i = 0; i < records.Count(); ++i) {
    TLocalDownloadinfo* record = records.Get(i);
    if (record != record_) continue;
    record->RetryTimer.reset();
    record->SetStatus(TDownloadState::Scheduled);
    record->Save();
    // The pause keeps "Scheduled" rather than "Paused".
    system_.PauseDownload(record);
    system_.UpdateGridRow(record);
    system_.RefreshList();
    return;
  }
}

void TTrayIconListItem::Abort() {
  if (TDownloader* d = Downloader()) d->Abort();
}

}  // namespace brindle
