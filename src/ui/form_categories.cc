#include "ui/form_categories.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "core/log_error.h"
#include "core/settings_schema.h"
#include "manager/category.h"
#include "manager/category_editor.h"
#include "manager/category_list.h"
#include "ui/dialog_buttons.h"
#include "ui/form_add_category.h"
#include "ui/glyphs.h"
#include "ui/guarded.h"
#include "ui/window_bounds.h"

namespace brindle {
namespace {

constexpr int kEllipsisWidth = 20;

// The folder's text stops where the cell's "..." button starts, and loses
// its middle rather than its end, which names the folder.
class FolderDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem narrowed(option);
    narrowed.rect.adjust(0, 0, -kEllipsisWidth, 0);
    narrowed.textElideMode = Qt::ElideMiddle;
    // The strip under the button keeps the row's selection colour.
    QStyleOptionViewItem strip(option);
    strip.rect.setLeft(narrowed.rect.right() + 1);
    strip.text.clear();
    QStyledItemDelegate::paint(painter, strip, QModelIndex());
    QStyledItemDelegate::paint(painter, narrowed, index);
  }
};

}  // namespace

TForm_Categories::TForm_Categories(TCategoryEditor& editor, const TCategoryList& categories, QWidget* parent)
    : QDialog(parent), editor_(editor), categories_(categories) {
  setObjectName("Form_Categories");
  setWindowTitle("Configure Categories");
  auto* layout = new QVBoxLayout(this);
  auto* toolbar = new QHBoxLayout;
  const auto button = [this, toolbar](const char* name, const char* text, const char* theme,
                                      QStyle::StandardPixmap fallback) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(text);
    b->setIcon(ThemeGlyph(theme, fallback));
    b->setIconSize(QSize(24, 24));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setFixedSize(50, 60);
    toolbar->addWidget(b);
    return b;
  };
  connect(button("SpeedButton_Add", "Add", "list-add", QStyle::SP_FileDialogNewFolder), &QToolButton::clicked, this,
          [this] { Add(); });
  connect(button("SpeedButton_Delete", "Delete", "edit-delete", QStyle::SP_TrashIcon), &QToolButton::clicked, this,
          [this] { Delete(); });
  toolbar->addStretch(1);
  layout->addLayout(toolbar);

  grid_ = new QTableWidget(0, 5, this);
  grid_->setObjectName("StringGrid_Categories");
  grid_->setHorizontalHeaderLabels({"Category", "Extensions", "Auto-save", "Complete Dialog", "Default Folder"});
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(17);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setWordWrap(false);
  grid_->setTextElideMode(Qt::ElideRight);
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->horizontalHeader()->setHighlightSections(false);
  grid_->setItemDelegateForColumn(kFolderColumn, new FolderDelegate(grid_));
  // The default widths were made for a small 8-point font: until the user
  // sets them they grow with the desktop's font to show their headers.
  const QFontMetrics metrics(grid_->horizontalHeader()->font());
  for (int column = 0; column < 4; ++column) {
    int width = TCategoryEditor::ColumnWidth(column);
    if (width < 0 || !Stored(setting::CategoriesColumnWidth(column)))
      width = std::max(width, metrics.horizontalAdvance(grid_->horizontalHeaderItem(column)->text()) + 24);
    grid_->setColumnWidth(column, width);
  }
  grid_->setSortingEnabled(true);
  grid_->installEventFilter(this);
  layout->addWidget(grid_, 1);
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this] { Edit(); });

  menu_ = new QMenu(this);
  menu_->setObjectName("PopupMenu_StringGrid_Categories");
  const auto item = [this](const char* name, const char* text, const QKeySequence& shortcut, void (TForm_Categories::*f)()) {
    QAction* action = menu_->addAction(text);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
      action->setShortcut(shortcut);
      addAction(action);
    }
    connect(action, &QAction::triggered, this, [this, f] { (this->*f)(); });
  };
  item("Add1", "&Add", QKeySequence("Ctrl+A"), &TForm_Categories::Add);
  item("Delete1", "&Delete", {}, &TForm_Categories::Delete);
  item("Edit1", "&Edit", {}, &TForm_Categories::Edit);
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { menu_->popup(grid_->viewport()->mapToGlobal(pos)); });

  connect(AddDialogButtonRow(*this, *layout, "SpeedButton1", nullptr).Ok, &QPushButton::clicked, this,
          &QDialog::accept);

  addCategory_ = new TForm_AddCategory(editor_, this);
  SetWindowBounds(*this, LoadPosition(kPositionSection));
}

void TForm_Categories::UpdateStringGridCategories() {
  const bool sorting = grid_->isSortingEnabled();
  grid_->setSortingEnabled(false);
  grid_->setRowCount(categories_.Count());
  for (int row = 0; row < categories_.Count(); ++row) {
    const std::vector<std::string> cells = TCategoryEditor::GridRow(*categories_.Get(row));
    for (int column = 0; column < 5 && column < static_cast<int>(cells.size()); ++column)
      grid_->setItem(row, column, new QTableWidgetItem(QString::fromStdString(cells[column])));
    grid_->setCellWidget(row, kFolderColumn, FolderEllipsis());
  }
  grid_->setSortingEnabled(sorting);
}

QWidget* TForm_Categories::FolderEllipsis() {
  // Transparent over the cell, so the folder's text shows beside the button.
  auto* cell = new QWidget;
  auto* layout = new QHBoxLayout(cell);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addStretch(1);
  auto* button = new QToolButton(cell);
  button->setObjectName("Button_DefaultFolder");
  button->setText("...");
  button->setFixedSize(kEllipsisWidth, grid_->verticalHeader()->defaultSectionSize());
  button->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(button);
  connect(button, &QToolButton::clicked, this, [this, cell] {
    // The row is found when clicked: sorting moves the widget with its row.
    const int row = grid_->indexAt(cell->geometry().center()).row();
    if (row < 0) return;
    grid_->setCurrentCell(row, kFolderColumn);
    grid_->selectRow(row);
    Edit();
  });
  return cell;
}

void TForm_Categories::Changed(const std::string& selectName) {
  UpdateStringGridCategories();
  for (int row = 0; row < grid_->rowCount(); ++row)
    if (grid_->item(row, 0)->text().toStdString() == selectName) grid_->selectRow(row);
  grid_->setFocus();
  if (OnChanged) OnChanged();
}

void TForm_Categories::Add() {
  if (addCategory_->isVisible()) return;
  addCategory_->Prepare(TCategoryEditor::NewFields(), nullptr);
  addCategory_->disconnect(this);
  connect(addCategory_, &QDialog::accepted, this, [this] {
    Guarded("TForm_Categories.Add", [this] {
      TCategory* added = editor_.AddCategory(addCategory_->Fields());
      Changed(added ? added->Name() : "");
    });
  });
  addCategory_->open();
}

void TForm_Categories::Edit() {
  if (addCategory_->isVisible()) return;
  const int row = grid_->currentRow();
  if (row < 0 || !grid_->item(row, 0)) return;
  TCategory* category = categories_.GetByName(grid_->item(row, 0)->text().toStdString());
  if (!category) return;
  addCategory_->Prepare(TCategoryEditor::FieldsOf(*category), category);
  addCategory_->disconnect(this);
  const std::string name = category->Name();
  connect(addCategory_, &QDialog::accepted, this, [this, name] {
    Guarded("TForm_Categories.Edit", [this, name] {
      // The category may have gone while the editor was open.
      TCategory* edited = categories_.GetByName(name);
      if (!edited) return;
      editor_.EditCategory(*edited, addCategory_->Fields());
      Changed(edited->Name());
    });
  });
  addCategory_->open();
}

void TForm_Categories::Delete() {
  Guarded("TForm_Categories.Delete", [this] {
    std::set<std::string> names;
    for (const QModelIndex& index : grid_->selectionModel()->selectedRows())
      names.insert(grid_->item(index.row(), 0)->text().toStdString());
    if (names.empty()) return;
    for (const std::string& name : names) editor_.DeleteCategory(name);
    Changed("");
  });
}

void TForm_Categories::done(int result) {
  SavePosition(kPositionSection, WindowBounds(*this));
  for (int column = 0; column < 4; ++column) TCategoryEditor::StoreColumnWidth(column, grid_->columnWidth(column));
  QDialog::done(result);
}

void TForm_Categories::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  grid_->setFocus();
}

bool TForm_Categories::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grid_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Delete) {
      Delete();
      return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      Edit();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace brindle
