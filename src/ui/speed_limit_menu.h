#pragma once

#include <QMenu>

namespace brindle {

class TDownloadSystem;

// "Speed limit" choices for everything Brindle downloads: "Unlimited", a few
// common limits and "Other...". A choice is stored ("SpeedLimitEnabled",
// "SpeedLimit") and applied at once to the running downloads; "Unlimited"
// keeps the last limit for the next time. The current choice is checked
// each time the menu opens.
class TSpeedLimitMenu final : public QMenu {
 public:
  TSpeedLimitMenu(TDownloadSystem& system, QWidget* parent);

  // The limits offered, kilobytes per second.
  static constexpr int kChoices[] = {50, 100, 250, 500, 1024, 2048, 5120};

  // The text for a limit: "Unlimited", "250 kb/s", "2 Mb/s", as the status bar writes rates.
  static QString LimitText(bool enabled, int kiloBytesPerSecond);

 private:
  void Refresh();
  void Choose(bool enabled, int kiloBytesPerSecond);
  void AskOther();

  TDownloadSystem& system_;
};

}  // namespace brindle
