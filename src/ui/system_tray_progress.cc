#include "ui/system_tray_progress.h"

#include <algorithm>

#include "manager/download_system.h"
#include "ui/guarded.h"

namespace brindle {

TSystemTrayProgress::TSystemTrayProgress(TDownloadSystem& system, TPortFactory makePort)
    : system_(system), makePort_(std::move(makePort)) {
  updateTimer_.setInterval(kUpdateIntervalMs);
  QObject::connect(&updateTimer_, &QTimer::timeout,
                   [this] { Guarded("TSystemTrayProgress.OnUpdateTimer", [this] { OnUpdateTimer(); }); });
  updateTimer_.start();
}

TSystemTrayProgress::~TSystemTrayProgress() {
  updateTimer_.stop();
  items_.clear();
}

void TSystemTrayProgress::OnUpdateTimer() {
  for (TDownloader* downloader : system_.ActiveList()) {
    const bool known =
        std::any_of(items_.begin(), items_.end(), [&](const auto& item) { return item->Downloader() == downloader; });
    if (!known) items_.push_back(std::make_unique<TTrayIconListItem>(system_, *downloader, makePort_()));
  }
  // Every stopped download loses its icon in the same tick: its downloader
  // may be freed before the next one.
  std::erase_if(items_, [](const auto& item) { return item->Downloader() == nullptr; });
  for (const auto& item : items_) item->UpdateIcon();
}

}  // namespace brindle
