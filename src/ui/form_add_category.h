#pragma once

#include <QDialog>

#include "manager/category_editor.h"

class QCheckBox;
class QLineEdit;

namespace brindle {

// The editor of one category ("Add Category" or "Edit Category"). OK runs
// the editor's validation, which may keep the dialog open with its message
// in a field; it closes accepted only with valid fields.
class TForm_AddCategory final : public QDialog {
  Q_OBJECT

 public:
  TForm_AddCategory(const TCategoryEditor& editor, QWidget* parent = nullptr);

  // editing: the category edited, nullptr for a new one.
  void Prepare(const TCategoryFields& fields, const TCategory* editing);
  TCategoryFields Fields() const;
  void Ok();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Show(const TCategoryFields& fields);
  void ChooseDirectory();

  const TCategoryEditor& editor_;
  const TCategory* editing_ = nullptr;
  bool validating_ = false;
  QLineEdit* editName_ = nullptr;
  QLineEdit* editExtensions_ = nullptr;
  QLineEdit* editDirectory_ = nullptr;
  QCheckBox* checkAutoSave_ = nullptr;
  QCheckBox* checkCompleteDialog_ = nullptr;
};

}  // namespace brindle
