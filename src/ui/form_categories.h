#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QMenu;
class QTableWidget;

namespace brindle {

class TCategoryEditor;
class TCategoryList;
class TForm_AddCategory;

// "Configure Categories": the category list with Add, Edit and Delete, each
// applied at once through the editor.
class TForm_Categories final : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kPositionSection = "Form_Categories Position";
  static constexpr int kFolderColumn = 4;

  TForm_Categories(TCategoryEditor& editor, const TCategoryList& categories, QWidget* parent = nullptr);

  // Runs after every change (the main window redraws its tree).
  std::function<void()> OnChanged;

  void UpdateStringGridCategories();
  void Add();
  void Edit();
  void Delete();
  TForm_AddCategory* Editor() const { return addCategory_; }

 protected:
  void done(int result) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Changed(const std::string& selectName);
  // The "Default Folder" cell's "..." button, which edits its row.
  QWidget* FolderEllipsis();

  TCategoryEditor& editor_;
  const TCategoryList& categories_;
  QTableWidget* grid_ = nullptr;
  QMenu* menu_ = nullptr;
  TForm_AddCategory* addCategory_ = nullptr;
};

}  // namespace brindle
