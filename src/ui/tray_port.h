#pragma once

#include <QIcon>
#include <QMenu>
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
  // A message beside the shown icon, where the desktop shows such messages.
  virtual void ShowMessage(const QString& title, const QString& text) = 0;
  // A click on the icon (not the menu).
  std::function<void()> OnActivated;
  // A double click, where the tray delivers one (StatusNotifier trays do
  // not). Its first click has already come as a click; unset, the double
  // click adds nothing to it.
  std::function<void()> OnDoubleClicked;
  // A click on a message shown by ShowMessage.
  std::function<void()> OnMessageClicked;
};

}  // namespace brindle
