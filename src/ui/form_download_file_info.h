#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "manager/download_file_info.h"
#include "manager/download_windows.h"

class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace brindle {

class TCategoryEditor;
class TForm_AddCategory;
class TQtPrompt;

// What the desktop program hands to every file-info window.
struct TFileInfoWindowServices {
  // The category list and the download system's FileNameInUse.
  TDownloadFileInfoServices Info;
  // "New..." opens this editor as the category list's Add command does;
  // nullptr disables the button.
  TCategoryEditor* Editor = nullptr;
  // A category was added through "New...": the main window redraws its
  // tree and list.
  std::function<void(const std::string& name)> OnCategoryAdded;
  // The program's first command-line argument; ignoring exactly that
  // address ends the program through EndProgram.
  std::string CommandLineUrl;
  std::function<void()> EndProgram;
};

// "Save as...": one modeless, stay-on-top window per new download waiting
// for the user's decision on its path, category and description. Its own
// top-level window (own taskbar button); the download system owns it and
// frees it with the download's other windows.
class TForm_DownloadFileInfo final : public QDialog, public TNewDownloadDialog {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "Save as...";
  // Shown in an empty "Checksum" field (Save as and Properties).
  static constexpr const char* kChecksumPlaceholder = "optional: ALGO=HEX (md5, sha1, sha256, sha512)";

  // answer is called once, when the user decides.
  TForm_DownloadFileInfo(const TLocalDownloadinfo& record, std::function<void(const TNewDownloadAnswer&)> answer,
                         TFileInfoWindowServices services, QWidget* parent = nullptr);
  ~TForm_DownloadFileInfo() override;

  void Show() override;
  bool Visible() const override { return isVisible(); }
  void SetSizeText(const std::string& text, TStatusColor color) override;
  void SetStartEnabled(bool enabled) override;

  // The buttons.
  void Start();
  void Schedule();
  void Abort();
  void Ignore();
  void Change();
  void NewCategory();
  bool Handled() const { return handled_; }
  QFileDialog* SaveDialog() const { return saveDialog_; }

  void LoadStringGridsConfiguration();
  void SaveStringGridsConfiguration();

  // Esc and the title bar's close button: an undecided download is aborted.
  void reject() override;

 private:
  void Submit(TNewDownloadAnswer::TKind kind);
  void Decide(const TNewDownloadAnswer& answer);
  void CategoryChanged();
  void FillCategories(const std::string& select);

  TDownloadFileInfo info_;
  std::function<void(const TNewDownloadAnswer&)> answer_;
  TFileInfoWindowServices services_;
  std::unique_ptr<TQtPrompt> prompt_;
  bool handled_ = false;
  bool validating_ = false;
  bool filling_ = false;

  QLineEdit* editUrl_ = nullptr;
  QLineEdit* editSaveAs_ = nullptr;
  QComboBox* comboCategory_ = nullptr;
  QLineEdit* editDescription_ = nullptr;
  QLineEdit* editChecksum_ = nullptr;
  QLabel* labelSize_ = nullptr;
  QPushButton* buttonNewCategory_ = nullptr;
  QPushButton* buttonStart_ = nullptr;
  QPushButton* buttonSchedule_ = nullptr;
  QGroupBox* groupMirrors_ = nullptr;
  QTableWidget* gridMirrors_ = nullptr;
  QFileDialog* saveDialog_ = nullptr;
  QString lastDirectory_;
  QPointer<TForm_AddCategory> addCategory_;
};

}  // namespace brindle
