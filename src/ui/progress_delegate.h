#pragma once

#include <QStyledItemDelegate>

namespace brindle {

class TDownloadTableModel;

// Paints a running download's Status cell as the two progress bars whose
// rectangles the list model computes; every other cell, and a Status cell
// the model leaves to its text, is painted as usual; the Description cell
// gets an ellipsis button.
class TProgressDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  TProgressDelegate(TDownloadTableModel& model, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // The Description cell's ellipsis button, at the cell's right edge; its
  // click opens the download's properties.
  static QRect EllipsisRect(const QRect& cell);

 private:
  TDownloadTableModel& model_;
};

}  // namespace brindle
