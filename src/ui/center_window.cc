#include "ui/center_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace brindle {

void CenterWindow(QWidget& window, const QRect& bounds) {
  const QSize size = window.size().expandedTo(window.minimumSizeHint());
  QPoint topLeft = bounds.center() - QPoint(size.width() / 2, size.height() / 2);
  const QScreen* screen = QGuiApplication::screenAt(bounds.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    // The frame the window manager adds is not known yet: the left and top
    // edges win when the window is larger than the screen.
    topLeft.setX(std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - size.width())));
    topLeft.setY(std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - size.height())));
  }
  window.move(topLeft);
}

}  // namespace brindle
