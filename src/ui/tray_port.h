#pragma once

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>

namespace brindle {

// The notification-area icon. Behind this port so the window's behaviour
// with and without a tray is tested offscreen.
class TTrayPort {
 public:
  virtual ~TTrayPort() = default;
  virtual bool Available() const = 0;
  virtual void SetIcon(const QIcon& icon) = 0;
  virtual void SetToolTip(const QString& text) = 0;
  virtual void SetMenu(QMenu* menu) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // A click on the icon (not the menu).
  std::function<void()> OnActivated;
};

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

 private:
  QSystemTrayIcon icon_;
};

}  // namespace brindle
