#include "ui/download_table_model.h"

#include "core/download_status.h"
#include "manager/download_list_model.h"
#include "manager/local_download_info.h"

namespace brindle {

QColor ColorFromSetting(uint32_t value, const QPalette& palette) {
  if (value & kSystemColorFlag) {
    switch (value & 0xFF) {
      case 0x05:  // window
        return palette.color(QPalette::Base);
      case 0x08:  // window text
        return palette.color(QPalette::Text);
      case 0x0D:  // highlight
        return palette.color(QPalette::Highlight);
      case 0x0E:  // highlighted text
        return palette.color(QPalette::HighlightedText);
      case 0x0F:  // button face
        return palette.color(QPalette::Button);
      case 0x11:  // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
      case 0x12:  // button text
        return palette.color(QPalette::ButtonText);
      default:
        return palette.color(QPalette::Text);
    }
  }
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

TDownloadTableModel::TDownloadTableModel(TDownloadListModel& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {
  list_.OnRowsChanged = [this] {
    beginResetModel();
    endResetModel();
    if (OnReset) OnReset();
  };
  list_.OnRowChanged = [this](int row) {
    emit dataChanged(index(row, 0), index(row, kDownloadColumnCount - 1));
  };
  SetColors(TStatusColors{}, QPalette());
}

TDownloadTableModel::~TDownloadTableModel() {
  list_.OnRowsChanged = nullptr;
  list_.OnRowChanged = nullptr;
}

void TDownloadTableModel::SetColors(const TStatusColors& colors, const QPalette& palette) {
  colors_ = colors;
  palette_ = palette;
  background_ = colors.Background ? ColorFromSetting(*colors.Background, palette) : palette.color(QPalette::Base);
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, kDownloadColumnCount - 1));
}

QColor TDownloadTableModel::TextColor(int row) const {
  const TLocalDownloadinfo* record = list_.Record(row);
  const TStatusColor group = record ? record->Status().Color() : TStatusColor::Other;
  const std::optional<uint32_t>& color = colors_.For(group);
  return color ? ColorFromSetting(*color, palette_) : palette_.color(QPalette::Text);
}

int TDownloadTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : list_.RowCount();
}

int TDownloadTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kDownloadColumnCount;
}

QVariant TDownloadTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return QString::fromStdString(list_.Cell(index.row(), index.column()));
    case Qt::TextAlignmentRole:
      if (index.column() >= kColumnSize && index.column() <= kColumnRate)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::ForegroundRole:
      return TextColor(index.row());
    case Qt::BackgroundRole:
      return background_;
    default:
      return {};
  }
}

QVariant TDownloadTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) return QString::fromStdString(TDownloadListModel::ColumnHeader(section));
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

void TDownloadTableModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kDownloadColumnCount) return;
  list_.SetSort(column, order == Qt::AscendingOrder);
}

}  // namespace brindle
