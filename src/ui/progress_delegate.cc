#include "ui/progress_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionButton>
#include <algorithm>

#include "manager/download_list_model.h"
#include "ui/download_table_model.h"

namespace brindle {
namespace {

QRect ToQRect(const TCellRect& rect) { return QRect(rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top); }

// A frame covering exactly the rectangle's pixels with a one-pixel pen.
void DrawFrame(QPainter& painter, const TCellRect& rect) {
  if (rect.Right - rect.Left < 1 || rect.Bottom - rect.Top < 1) return;
  painter.drawRect(QRect(rect.Left, rect.Top, rect.Right - rect.Left - 1, rect.Bottom - rect.Top - 1));
}

}  // namespace

QRect TProgressDelegate::EllipsisRect(const QRect& cell) {
  const int width = std::min(cell.height() + 2, cell.width());
  return QRect(cell.right() - width + 1, cell.top(), width, cell.height());
}

TProgressDelegate::TProgressDelegate(TDownloadTableModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void TProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  const QRect cell = option.rect;
  const TCellRect rect{cell.left(), cell.top(), cell.left() + cell.width(), cell.top() + cell.height()};
  const TProgressBars bars = model_.List().DrawProgress(index.column(), index.row(), rect, cell.height());
  if (!bars.Drawn) {
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() == kColumnDescription) {
      QStyleOptionButton button;
      button.rect = EllipsisRect(cell);
      button.text = "...";
      button.state = QStyle::State_Enabled | QStyle::State_Raised;
      const QWidget* widget = option.widget;
      QStyle* style = widget ? widget->style() : QApplication::style();
      style->drawControl(QStyle::CE_PushButton, &button, painter, widget);
    }
    return;
  }
  painter->save();
  const bool selected = option.state & QStyle::State_Selected;
  const QColor background = selected ? option.palette.color(QPalette::Highlight) : model_.BackgroundColor();
  painter->fillRect(cell, background);
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setPen(QPen(model_.TextColor(index.row()), 0));
  painter->setBrush(model_.BackgroundColor());
  DrawFrame(*painter, bars.UpperFrame);
  DrawFrame(*painter, bars.LowerFrame);
  const QColor upper = ColorFromSetting(kUpperBarColor, option.palette);
  for (const TBarSegment& segment : bars.UpperSegments) {
    if (segment.FillWidth <= 0) continue;
    painter->fillRect(QRect(segment.Left, bars.UpperInner.Top, segment.FillWidth,
                            bars.UpperInner.Bottom - bars.UpperInner.Top),
                      upper);
  }
  if (bars.LowerFillWidth > 0) {
    TCellRect fill = bars.LowerInner;
    fill.Right = fill.Left + bars.LowerFillWidth;
    painter->fillRect(ToQRect(fill), ColorFromSetting(kLowerBarColor, option.palette));
  }
  painter->restore();
}

}  // namespace brindle
