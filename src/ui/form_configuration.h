#pragma once

#include <QDialog>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "integration/configuration.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFormLayout;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTreeWidget;
class QVBoxLayout;

namespace brindle {

class TDownloadSystem;

// "Configuration": every setting of the program on ten pages. Showing loads
// the controls; OK runs the settings' OK sequence and closes only when it
// went through; any close writes the dialog's size.
class TForm_Configuration final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kSchedulerPage = 5;

  TForm_Configuration(TDownloadSystem& system, std::vector<std::string> dialUpEntries, QWidget* parent);

  // Loads the controls, sizes and centres the dialog and selects the page.
  void Prepare(int page);
  void SelectPage(int index);
  int CurrentPage() const;

  // The OK button: true when the settings were written and the dialog closed.
  bool Ok();

  // The program that the autostart entry starts.
  std::string ProgramPath;

 protected:
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* AddPage(const char* panelName, const char* text);
  // Each control is kept by the key of the setting it edits (nullptr: none).
  QCheckBox* AddCheck(QVBoxLayout* layout, const char* name, const char* caption, const TBoolSetting* setting);
  QLineEdit* AddEdit(QFormLayout* layout, const char* name, const char* caption, const std::string& key);
  QLineEdit* AddFolderEdit(QFormLayout* layout, const char* name, const char* caption, const TStringSetting& setting);
  QLineEdit* AddNumber(QFormLayout* layout, const char* name, const char* caption, const TIntegerSetting& setting);
  QComboBox* AddDateCombo(QFormLayout* layout, const char* name, const TStringSetting& setting, bool withEmpty,
                          bool divider);
  void BuildIntegration();
  void BuildFolders();
  void BuildDownloadList();
  void BuildConnection();
  void BuildDialogs();
  void BuildScheduler();
  void BuildAntiVirus();
  void BuildProxy();
  void BuildPerformance();
  void BuildGeneral();
  void LoadControls();
  TConfigurationValues ReadControls() const;
  void ApplyEnableRules();
  void ThemeChanged();
  void ShowColors();
  void ColorClicked(int index);
  void FindProxy(bool http);
  void ConnectionTypeChanged();
  void Center();

  TDownloadSystem& system_;
  std::vector<std::string> dialUpEntries_;
  TConfigurationValues values_;
  QTreeWidget* pages_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  std::map<std::string, QCheckBox*> checks_;
  std::map<std::string, QLineEdit*> edits_;
  std::map<std::string, QComboBox*> dateCombos_;
  QPlainTextEdit* extensions_ = nullptr;
  QComboBox* theme_ = nullptr;
  std::array<QPushButton*, 6> colorBoxes_{};
  std::array<uint32_t, 6> colors_{};
  QPushButton* reset_ = nullptr;
  QRadioButton* alwaysConnect_ = nullptr;
  QRadioButton* dialUp_ = nullptr;
  QListWidget* connections_ = nullptr;
  QComboBox* connectionType_ = nullptr;
  QLineEdit* bps_ = nullptr;
  QWidget* schedule_ = nullptr;
  QComboBox* startTime_ = nullptr;
  QComboBox* endTime_ = nullptr;
  QDateEdit* recurrenceStart_ = nullptr;
  QDateEdit* recurrenceEnd_ = nullptr;
  QRadioButton* noEnd_ = nullptr;
  QRadioButton* endBy_ = nullptr;
};

}  // namespace brindle
