#include "ui/window_bounds.h"

#include <QWidget>

namespace brindle {

TWindowPlacement WindowBounds(const QWidget& window) {
  const QRect bounds = window.geometry();
  TWindowPlacement placement;
  placement.Left = bounds.left();
  placement.Top = bounds.top();
  placement.Width = bounds.width();
  placement.Height = bounds.height();
  return placement;
}

void SetWindowBounds(QWidget& window, const TWindowPlacement& placement) {
  window.setGeometry(placement.Left, placement.Top, placement.Width, placement.Height);
}

}  // namespace brindle
