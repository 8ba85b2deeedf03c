#include "ui/qt_tray.h"

namespace brindle {

TQtTray::TQtTray() {
  QObject::connect(&icon_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick && OnDoubleClicked) {
      OnDoubleClicked();
    } else if ((reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) && OnActivated) {
      OnActivated();
    }
  });
}

}  // namespace brindle
