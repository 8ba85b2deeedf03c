#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QPalette>
#include <cstdint>

#include "manager/status_colors.h"

namespace brindle {

class TDownloadListModel;

// A stored colour (0x00BBGGRR) as Qt's; a system colour (high bit set) is
// the palette colour of the role it names.
QColor ColorFromSetting(uint32_t value, const QPalette& palette);

// The download list as Qt sees it: the rows and texts of the toolkit-free
// model, the right alignment of the size, time and rate columns, and the
// row's status colour. Sorting is the list model's, so the order the
// download system keeps and the one on screen are the same.
class TDownloadTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  TDownloadTableModel(TDownloadListModel& list, QObject* parent = nullptr);
  ~TDownloadTableModel() override;

  void SetColors(const TStatusColors& colors, const QPalette& palette);
  QColor BackgroundColor() const { return background_; }
  QColor TextColor(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

  TDownloadListModel& List() const { return list_; }

  // The rows are about to be read again (before the view's selection is
  // restored from the list model).
  std::function<void()> OnReset;

 private:
  TDownloadListModel& list_;
  TStatusColors colors_;
  QPalette palette_;
  QColor background_;
};

}  // namespace brindle
