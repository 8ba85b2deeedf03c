#include "ui/form_drag_and_drop_box.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>

#include "manager/window_position.h"
#include "ui/dropped_links.h"
#include "ui/glyphs.h"
#include "ui/guarded.h"

namespace brindle {
namespace {

// The basket: the program's arrow dropping into a woven basket.
void DrawBasket(QPainter& painter, const QRect& area) {
  painter.setRenderHint(QPainter::Antialiasing);
  const int badge = std::min(area.width() - 16, 36);
  painter.drawPixmap(area.left() + (area.width() - badge) / 2, area.top() + 2,
                     ProgramIcon().pixmap(badge, badge));
  const qreal left = area.left() + 4;
  const qreal right = area.right() - 4;
  const qreal top = area.top() + badge + 10;
  const qreal bottom = area.bottom() - 4;
  QPainterPath basket;
  basket.moveTo(left, top);
  basket.lineTo(right, top);
  basket.lineTo(right - 6, bottom);
  basket.lineTo(left + 6, bottom);
  basket.closeSubpath();
  const QColor wicker(0xb0, 0x7a, 0x3c);
  painter.setPen(QPen(wicker.darker(150), 1.5));
  painter.setBrush(wicker);
  painter.drawPath(basket);
  painter.setPen(QPen(wicker.lighter(140), 1));
  for (qreal y = top + 6; y < bottom - 2; y += 6) {
    const qreal inset = 6 * (y - top) / (bottom - top);
    painter.drawLine(QPointF(left + inset + 1, y), QPointF(right - inset - 1, y));
  }
  painter.setPen(QPen(wicker.darker(150), 3));
  painter.drawLine(QPointF(left - 1, top), QPointF(right + 1, top));
}

}  // namespace

TForm_DragAndDropBox::TForm_DragAndDropBox(std::function<bool(const std::string&)> addUrl, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      addUrl_(std::move(addUrl)) {
  setObjectName("Form_DragAndDropBox");
  setWindowTitle("Download Basket");
  setToolTip("Drop links here to download them");
  setAcceptDrops(true);
  const TWindowPlacement placement = LoadPosition(kPositionSection);
  move(placement.Left, placement.Top);
  setFixedSize(kWidth, kHeight);
}

QPoint TForm_DragAndDropBox::Snapped(const QRect& frame, const QRect& screen) {
  int x = frame.left();
  int y = frame.top();
  const int maxX = screen.right() + 1 - frame.width();
  const int maxY = screen.bottom() + 1 - frame.height();
  if (std::abs(x - screen.left()) <= kSnapDistance) x = screen.left();
  if (std::abs(x - maxX) <= kSnapDistance) x = maxX;
  if (std::abs(y - screen.top()) <= kSnapDistance) y = screen.top();
  if (std::abs(y - maxY) <= kSnapDistance) y = maxY;
  x = std::max(screen.left(), std::min(x, maxX));
  y = std::max(screen.top(), std::min(y, maxY));
  return {x, y};
}

void TForm_DragAndDropBox::KeepOnScreen() {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen || adjusting_) return;
  const QRect frame = frameGeometry();
  const QPoint target = Snapped(frame, screen->availableGeometry());
  if (target == frame.topLeft()) return;
  adjusting_ = true;
  move(target);
  adjusting_ = false;
}

void TForm_DragAndDropBox::SavePlacement() {
  TWindowPlacement placement;
  placement.Left = x();
  placement.Top = y();
  placement.Width = width();
  placement.Height = height();
  SavePosition(kPositionSection, placement);
}

void TForm_DragAndDropBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  DrawBasket(painter, rect().adjusted(1, 1, 0, 0));
}

void TForm_DragAndDropBox::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Guarded("TForm_DragAndDropBox.FormShow", [this] {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    TWindowPlacement placement{x(), y(), width(), height(), false, false};
    const QRect area = screen->virtualGeometry();
    MakeSureFormIsOnScreen(placement, area.right() + 1, area.bottom() + 1);
    if (x() < area.left() || y() < area.top()) placement.Left = placement.Top = 1;
    move(placement.Left, placement.Top);
    KeepOnScreen();
  });
}

void TForm_DragAndDropBox::closeEvent(QCloseEvent* event) {
  Guarded("TForm_DragAndDropBox.FormClose", [this] {
    SavePlacement();
    if (OnClosed) OnClosed();
  });
  event->accept();
}

void TForm_DragAndDropBox::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (isVisible()) Guarded("TForm_DragAndDropBox.Snap", [this] { KeepOnScreen(); });
}

void TForm_DragAndDropBox::dragEnterEvent(QDragEnterEvent* event) {
  // What would be refused is refused at once: the pointer says so.
  if (!DroppedAddresses(*event->mimeData()).empty()) event->acceptProposedAction();
}

void TForm_DragAndDropBox::dropEvent(QDropEvent* event) {
  Guarded("TForm_DragAndDropBox.DropURLTarget1Drop", [this, event] {
    bool added = false;
    for (const std::string& address : DroppedAddresses(*event->mimeData())) added |= addUrl_ && addUrl_(address);
    if (added) event->acceptProposedAction();
  });
}

}  // namespace brindle
