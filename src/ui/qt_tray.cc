#include "ui/qt_tray.h"

namespace brindle {

TQtTray::TQtTray() {
  // A double click arrives as a click followed by a double click; an icon
  // that only handles clicks must not see the second one as another click,
  // or a double click would toggle twice and undo itself.
  QObject::connect(&icon_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
      if (OnDoubleClicked) OnDoubleClicked();
    } else if (reason == QSystemTrayIcon::Trigger && OnActivated) {
      OnActivated();
    }
  });
  QObject::connect(&icon_, &QSystemTrayIcon::messageClicked, [this] {
    if (OnMessageClicked) OnMessageClicked();
  });
}

}  // namespace brindle
