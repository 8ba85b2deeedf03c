#include "ui/form_add_category.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/log_error.h"
#include "ui/dialog_buttons.h"

namespace brindle {

TForm_AddCategory::TForm_AddCategory(const TCategoryEditor& editor, QWidget* parent)
    : QDialog(parent), editor_(editor) {
  setObjectName("Form_AddCategory");
  auto* layout = new QVBoxLayout(this);
  const auto field = [this, layout](const char* name, const QString& label) {
    layout->addWidget(new QLabel(label, this));
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    return edit;
  };
  editName_ = field("Edit_CategoryName", "Category Name:");
  layout->addWidget(editName_);
  editExtensions_ = field("Edit_CategoryExtensions", "Extensions: (Separate with space. Ex: \"mp3 wav raw\")");
  layout->addWidget(editExtensions_);
  editDirectory_ = field("Edit_DefaultDirectory", "Default Folder:");
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(editDirectory_, 1);
  auto* browse = new QPushButton("...", this);
  browse->setObjectName("Button_DefaultDirectory");
  browse->setAutoDefault(false);
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance("...") + 24);
  folderRow->addWidget(browse);
  layout->addLayout(folderRow);
  checkAutoSave_ = new QCheckBox("Auto-save these extensions without Save As dialog", this);
  checkAutoSave_->setObjectName("CheckBox_AutoSave");
  layout->addWidget(checkAutoSave_);
  checkCompleteDialog_ = new QCheckBox("Show Download Complete dialog", this);
  checkCompleteDialog_->setObjectName("CheckBox_ShowCompleteDialog");
  layout->addWidget(checkCompleteDialog_);
  const TDialogButtons buttons = AddDialogButtonRow(*this, *layout, "SpeedButton_OK", "SpeedButton_Cancel");
  buttons.Cancel->setAutoDefault(false);
  connect(buttons.Ok, &QPushButton::clicked, this, [this] { Ok(); });
  connect(browse, &QPushButton::clicked, this, [this] { ChooseDirectory(); });
  editName_->installEventFilter(this);
  editExtensions_->installEventFilter(this);
  setMinimumWidth(420);
}

void TForm_AddCategory::Prepare(const TCategoryFields& fields, const TCategory* editing) {
  editing_ = editing;
  setWindowTitle(editing ? "Edit Category" : "Add Category");
  Show(fields);
  editName_->setFocus();
}

void TForm_AddCategory::Show(const TCategoryFields& fields) {
  editName_->setText(QString::fromStdString(fields.Name));
  editExtensions_->setText(QString::fromStdString(fields.Extensions));
  editDirectory_->setText(QString::fromStdString(fields.Directory));
  checkAutoSave_->setChecked(fields.AutoSave);
  checkCompleteDialog_->setChecked(fields.ShowCompleteDialog);
}

TCategoryFields TForm_AddCategory::Fields() const {
  TCategoryFields fields;
  fields.Name = editName_->text().toStdString();
  fields.Extensions = editExtensions_->text().toStdString();
  fields.Directory = editDirectory_->text().toStdString();
  fields.AutoSave = checkAutoSave_->isChecked();
  fields.ShowCompleteDialog = checkCompleteDialog_->isChecked();
  return fields;
}

void TForm_AddCategory::Ok() {
  // A question of the validation may still be open.
  if (validating_) return;
  validating_ = true;
  try {
    QPointer<TForm_AddCategory> self(this);
    editor_.Validate(Fields(), editing_, [self](bool ok, const TCategoryFields& fields) {
      if (!self) return;
      self->validating_ = false;
      self->Show(fields);
      if (ok) self->accept();
    });
  } catch (...) {
    validating_ = false;
    LogError("TForm_AddCategory.SpeedButton_OKClick");
  }
}

bool TForm_AddCategory::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == editName_ || watched == editExtensions_) && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // Enter is OK; a refused OK leaves the user on the next field down.
      QPointer<TForm_AddCategory> self(this);
      Ok();
      if (self && isVisible())
        (watched == editName_ ? editExtensions_ : editDirectory_)->setFocus();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TForm_AddCategory::ChooseDirectory() {
  const QString chosen = QFileDialog::getExistingDirectory(this, "Default Folder:", editDirectory_->text());
  if (!chosen.isEmpty()) editDirectory_->setText(chosen);
}

}  // namespace brindle
