#pragma once

#include <QSystemTrayIcon>

#include "ui/tray_port.h"

namespace brindle {

// The desktop's tray through QSystemTrayIcon.
class TQtTray final : public TTrayPort {
 public:
  TQtTray();
  bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
  void SetIcon(const QIcon& icon) override { icon_.setIcon(icon); }
  void SetToolTip(const QString& text) override { icon_.setToolTip(text); }
  void SetMenu(QMenu* menu) override { icon_.setContextMenu(menu); }
  void Show() override { icon_.show(); }
  void Hide() override { icon_.hide(); }
  void ShowMessage(const QString& title, const QString& text) override { icon_.showMessage(title, text); }

 private:
  QSystemTrayIcon icon_;
};

}  // namespace brindle
