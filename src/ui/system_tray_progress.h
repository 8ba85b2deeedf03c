#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "ui/tray_icon_list_item.h"

namespace brindle {

class TDownloadSystem;

// One tray icon per running download, following the download system's
// active list every 500 ms.
class TSystemTrayProgress {
 public:
  static constexpr int kUpdateIntervalMs = 500;
  using TPortFactory = std::function<std::unique_ptr<TTrayPort>()>;

  TSystemTrayProgress(TDownloadSystem& system, TPortFactory makePort);
  // Removes every icon.
  ~TSystemTrayProgress();
  TSystemTrayProgress(const TSystemTrayProgress&) = delete;
  TSystemTrayProgress& operator=(const TSystemTrayProgress&) = delete;

  // New icons for downloads that started, none for those that stopped,
  // and every picture redrawn.
  void OnUpdateTimer();
  const std::vector<std::unique_ptr<TTrayIconListItem>>& Items() const { return items_; }

 private:
  TDownloadSystem& system_;
  TPortFactory makePort_;
  std::vector<std::unique_ptr<TTrayIconListItem>> items_;
  QTimer updateTimer_;
};

}  // namespace brindle
