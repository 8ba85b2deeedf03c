#include "ui/form_configuration.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

#include "core/log_error.h"
#include "core/paths.h"
#include "core/settings_schema.h"
#include "platform/program_layout.h"
#include "ui/center_window.h"
#include "ui/dialog_buttons.h"
#include "ui/download_table_model.h"
#include "ui/guarded.h"

namespace brindle {
namespace {

constexpr const char* kConnectionTypes[] = {"14.4k", "28.8k", "33.6k", "56.6k", "ISDN 64k", "ISDN 128k",
                                            "256k Cable/DSL", "300k Cable/DSL", "512k Cable/DSL", "T1", "Other"};
constexpr const char* kConnectionSpeeds[] = {"14400", "28800", "33600", "56600", "64000",
                                             "128000", "256000", "300000", "512000", "1500000"};
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kColorNames[] = {"ColorBox_Background", "ColorBox_Downloading", "ColorBox_Paused",
                                       "ColorBox_Done",       "ColorBox_Error",       "ColorBox_Other"};
constexpr const char* kColorCaptions[] = {"Background:", "Downloading:", "Paused/Scheduled:", "Done:", "Error:",
                                          "Other:"};

QString Q(const std::string& text) { return QString::fromStdString(text); }

QDate DateOf(TDateTime value) {
  const TDateParts parts = DecodeDateTime(value);
  return QDate(parts.Year, parts.Month, parts.Day);
}

TDateTime DateTimeOf(const QDate& date) {
  return EncodeDateTime({.Year = date.year(), .Month = date.month(), .Day = date.day()}).value_or(0);
}

QVBoxLayout* Column(QWidget* parent) {
  return new QVBoxLayout(parent);
}

QFormLayout* Form() {
  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  return form;
}

// A read-only field is drawn in the menu colour, an editable one in the
// window colour.
void SetEditable(QLineEdit* edit, bool editable) {
  edit->setReadOnly(!editable);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, edit->style()->standardPalette().color(editable ? QPalette::Base : QPalette::Window));
  edit->setPalette(palette);
}

}  // namespace

TForm_Configuration::TForm_Configuration(TDownloadSystem& system, std::vector<std::string> dialUpEntries,
                                         QWidget* parent)
    : QDialog(parent), system_(system), dialUpEntries_(std::move(dialUpEntries)) {
  setObjectName("Form_Configuration");
  setWindowTitle("Configuration");
  auto* outer = new QVBoxLayout(this);
  auto* body = new QHBoxLayout;
  outer->addLayout(body, 1);
  pages_ = new QTreeWidget(this);
  pages_->setObjectName("TreeView1");
  pages_->setHeaderHidden(true);
  pages_->setRootIsDecorated(false);
  pages_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  body->addWidget(pages_);
  stack_ = new QStackedWidget(this);
  body->addWidget(stack_, 1);
  BuildIntegration();
  BuildFolders();
  BuildDownloadList();
  BuildConnection();
  BuildDialogs();
  BuildScheduler();
  BuildAntiVirus();
  BuildProxy();
  BuildPerformance();
  BuildGeneral();
  // The pages' contents stay at the top when the dialog grows.
  for (int i = 0; i < stack_->count(); ++i) static_cast<QVBoxLayout*>(stack_->widget(i)->layout())->addStretch(1);
  pages_->setFixedWidth(pages_->fontMetrics().horizontalAdvance("Proxy/Firewall") + 32);
  connect(pages_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item) stack_->setCurrentIndex(pages_->indexOfTopLevelItem(item));
  });

  QPushButton* ok = AddDialogButtonRow(*this, *outer, "SpeedButton_OK", "SpeedButton_Cancel").Ok;
  // Enter anywhere is OK, not the button that has the focus.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(button == ok);
  connect(ok, &QPushButton::clicked, this, [this] { Guarded("TForm_Configuration.SpeedButton_OKClick", [this] { Ok(); }); });
}

QWidget* TForm_Configuration::AddPage(const char* panelName, const char* text) {
  auto* panel = new QWidget(stack_);
  panel->setObjectName(panelName);
  stack_->addWidget(panel);
  pages_->addTopLevelItem(new QTreeWidgetItem(QStringList{text}));
  return panel;
}

QCheckBox* TForm_Configuration::AddCheck(QVBoxLayout* layout, const char* name, const char* caption,
                                         const TBoolSetting* setting) {
  auto* box = new QCheckBox(caption);
  box->setObjectName(name);
  layout->addWidget(box);
  if (setting) checks_[setting->Key] = box;
  connect(box, &QCheckBox::toggled, this, [this] { ApplyEnableRules(); });
  return box;
}

QLineEdit* TForm_Configuration::AddEdit(QFormLayout* layout, const char* name, const char* caption,
                                        const std::string& key) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  layout->addRow(caption, edit);
  edits_[key] = edit;
  return edit;
}

QLineEdit* TForm_Configuration::AddFolderEdit(QFormLayout* layout, const char* name, const char* caption,
                                              const TStringSetting& setting) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  edits_[setting.Key] = edit;
  auto* browse = new QPushButton("...");
  browse->setObjectName(QString(name).replace("Edit_", "Button_"));
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance("...") + 20);
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(browse);
  layout->addRow(new QLabel(caption));
  layout->addRow(row);
  connect(browse, &QPushButton::clicked, this, [this, edit] {
    const QString chosen = QFileDialog::getExistingDirectory(this, "Select folder", edit->text());
    if (!chosen.isEmpty()) edit->setText(chosen);
  });
  return edit;
}

QLineEdit* TForm_Configuration::AddNumber(QFormLayout* layout, const char* name, const char* caption,
                                          const TIntegerSetting& setting) {
  QLineEdit* edit = AddEdit(layout, name, caption, setting.Key);
  edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance("0000000000") + 12);
  edit->installEventFilter(this);
  return edit;
}

QComboBox* TForm_Configuration::AddDateCombo(QFormLayout* layout, const char* name, const TStringSetting& setting,
                                             bool withEmpty, bool divider) {
  auto* combo = new QComboBox;
  combo->setObjectName(name);
  if (withEmpty) combo->addItem("");
  if (divider) {
    combo->addItems({"-", "_"});
  } else {
    combo->addItems({"Year", "Month", "Day"});
  }
  dateCombos_[setting.Key] = combo;
  if (layout) layout->addWidget(combo);
  return combo;
}

void TForm_Configuration::BuildIntegration() {
  QVBoxLayout* page = Column(AddPage("Panel_BrowserIntegration", "Integration"));
  auto* group = new QGroupBox("Browser/System Integration:");
  auto* column = new QVBoxLayout(group);
  page->addWidget(group);
  AddCheck(column, "CheckBox_LaunchOnStartup", "Launch Brindle on startup", &setting::LaunchOnStartup);
  AddCheck(column, "CheckBox_MonitorCliboard", "Monitor URLs in clipboard", &setting::MonitorClipboard);
  auto* label = new QLabel("Let Brindle handle the following extensions:");
  label->setObjectName("Label_HandleExtensions");
  column->addWidget(label);
  extensions_ = new QPlainTextEdit;
  extensions_->setObjectName("Memo_Extensions");
  extensions_->setFixedHeight(extensions_->fontMetrics().lineSpacing() * 4 + 12);
  column->addWidget(extensions_);
  auto* defaults = new QPushButton("Set To Default");
  defaults->setObjectName("Button_DefaultExtensions");
  column->addWidget(defaults, 0, Qt::AlignRight);
  connect(defaults, &QPushButton::clicked, this,
          [this] { extensions_->setPlainText(Q(setting::Extensions.Default())); });
  AddCheck(column, "CheckBox_EnableBrowserIntegration", "Enable Browser Integration",
           &setting::EnableBrowserIntegration);
  AddCheck(column, "CheckBox_IntegrateWithInternetExplorer", "Integrate with Chrome / Chromium",
           &setting::IntegrateWithInternetExplorer);
  AddCheck(column, "CheckBox_IntegrateWithNetscape", "Integrate with Firefox", &setting::IntegrateWithNetscape);
  AddCheck(column, "CheckBox_IntegrateWithOpera", "Integrate with Opera", &setting::IntegrateWithOpera);
  // An installed Brindle knows where its extension lies; the build tree
  // leaves it to the README.
  const std::string extension = TProgramLayout::ForThisProgram().ExtensionDirectory();
  const QString folder = extension.empty() ? QString("Brindle's extension folder")
                                           : QString("the folder %1").arg(QString::fromStdString(extension));
  const QString xpi = extension.empty()
                          ? QString("brindle-extension.xpi")
                          : QString::fromStdString(extension.substr(0, extension.rfind('/')) + "/brindle-extension.xpi");
  auto* help = new QLabel(
      QString("Each browser needs the Brindle extension once. Chrome, Chromium, Brave, Vivaldi, Edge and Opera: "
              "on the browser's extensions page turn on developer mode, choose \"Load unpacked\" and pick %1. "
              "Firefox: on about:debugging, \"This Firefox\", choose \"Load Temporary Add-on\" and pick %2 (or "
              "install it for good where unsigned add-ons are allowed).")
          .arg(folder, xpi));
  help->setObjectName("Label_ExtensionHelp");
  help->setWordWrap(true);
  column->addWidget(help);
}

void TForm_Configuration::BuildFolders() {
  QVBoxLayout* page = Column(AddPage("Panel_Folders", "Folders"));
  QFormLayout* form = Form();
  page->addLayout(form);
  AddFolderEdit(form, "Edit_DefaultDownloadDirectory", "Default download folder:", setting::DefaultDownloadDirectory);
  AddFolderEdit(form, "Edit_PartialDownloadsDirectory",
                "Partial downloads folder (used by program, invisible to user):", setting::PartialDownloadsDirectory);
  auto* group = new QGroupBox("Auto Creation of Date Folders:");
  auto* column = new QVBoxLayout(group);
  page->addWidget(group);
  AddCheck(column, "CheckBox_DateFolders", "Create date folders and automatically add downloads without save dialog",
           &setting::DateFolders);
  column->addWidget(new QLabel("Use this format for the naming of the folders:"));
  auto* row = new QHBoxLayout;
  column->addLayout(row);
  row->addWidget(AddDateCombo(nullptr, "ComboBox_Date1", setting::Date1, true, false));
  row->addWidget(AddDateCombo(nullptr, "ComboBox_DateDivider1", setting::DateDivider1, true, true));
  row->addWidget(AddDateCombo(nullptr, "ComboBox_Date2", setting::Date2, true, false));
  row->addWidget(AddDateCombo(nullptr, "ComboBox_DateDivider2", setting::DateDivider2, true, true));
  row->addWidget(AddDateCombo(nullptr, "ComboBox_Date3", setting::Date3, false, false));
  row->addStretch(1);
}

void TForm_Configuration::BuildDownloadList() {
  QVBoxLayout* page = Column(AddPage("Panel_DownloadList", "Download List"));
  auto* group = new QGroupBox("Colors:");
  auto* grid = new QGridLayout(group);
  page->addWidget(group);
  theme_ = new QComboBox;
  theme_->setObjectName("ComboBox_Theme");
  theme_->addItems({"Standard", "Brindle", "Custom"});
  grid->addWidget(new QLabel("Theme:"), 0, 0);
  grid->addWidget(theme_, 0, 1);
  connect(theme_, &QComboBox::activated, this, [this] { ThemeChanged(); });
  for (int i = 0; i < 6; ++i) {
    auto* box = new QPushButton;
    box->setObjectName(kColorNames[i]);
    box->setMinimumWidth(90);
    grid->addWidget(new QLabel(kColorCaptions[i]), 1 + i % 3, (i / 3) * 2);
    grid->addWidget(box, 1 + i % 3, (i / 3) * 2 + 1);
    colorBoxes_[i] = box;
    connect(box, &QPushButton::clicked, this, [this, i] { ColorClicked(i); });
  }
  reset_ = new QPushButton("Reset");
  reset_->setObjectName("Button_Reset");
  reset_->setEnabled(false);
  grid->addWidget(reset_, 0, 3);
  grid->setColumnStretch(4, 1);
  connect(reset_, &QPushButton::clicked, this, [this] {
    const int theme = theme_->currentIndex();
    if (theme == 2) return;
    colors_ = ThemeDefaultColors(theme);
    ShowColors();
    reset_->setEnabled(false);
  });
  AddCheck(page, "CheckBox_DrawProgressBars", "Show progress bars in status column", &setting::DrawProgressBars);
  AddCheck(page, "CheckBox_GridLines", "Show grid lines", &setting::GridLines);
  AddCheck(page, "CheckBox_RemoveSuccessfulDownloadFromList", "Remove successful downloads from list",
           &setting::RemoveSuccessfulDownloadFromList);
  AddCheck(page, "CheckBox_RemoveUnexistingFilesFromList",
           "Remove files, at startup, from list that are no longer stored on your computer",
           &setting::RemoveUnexistingFilesFromList);
}

void TForm_Configuration::BuildConnection() {
  QVBoxLayout* page = Column(AddPage("Panel_Connection", "Connection"));
  auto* group = new QGroupBox("Connection:");
  auto* column = new QVBoxLayout(group);
  page->addWidget(group);
  alwaysConnect_ = new QRadioButton("Always connected to the Internet");
  alwaysConnect_->setObjectName("RadioButton_AlwaysConnect");
  dialUp_ = new QRadioButton("Connect using dial-up networking");
  dialUp_->setObjectName("RadioButton_ConnectUsingDialUp");
  column->addWidget(alwaysConnect_);
  column->addWidget(dialUp_);
  connect(dialUp_, &QRadioButton::toggled, this, [this] { ApplyEnableRules(); });
  connections_ = new QListWidget;
  connections_->setObjectName("ListBox_Connections");
  connections_->setMaximumHeight(connections_->fontMetrics().lineSpacing() * 5 + 8);
  column->addWidget(connections_);
  AddCheck(column, "CheckBox_AlwaysDownloadWhenConnected", "Always start automatic downloading when connected",
           &setting::AlwaysDownloadWhenConnected);
  AddCheck(column, "CheckBox_DisconnectAfterDownload", "Disconnect after download is completed",
           &setting::DiconnectAfterDownload);
  // Kept for its keys; the desktop has no use for a modem speed.
  auto* speed = new QGroupBox("Connection Type/Speed:");
  speed->setObjectName("GroupBox_ConnectionType");
  auto* row = new QHBoxLayout(speed);
  connectionType_ = new QComboBox;
  connectionType_->setObjectName("ComboBox_ConnectionType");
  for (const char* type : kConnectionTypes) connectionType_->addItem(type);
  bps_ = new QLineEdit;
  bps_->setObjectName("Edit_bps");
  edits_[setting::ConnectionSpeed.Key] = bps_;
  row->addWidget(connectionType_);
  row->addWidget(bps_);
  row->addWidget(new QLabel("bps"));
  page->addWidget(speed);
  speed->hide();
  connect(connectionType_, &QComboBox::activated, this, [this] { ConnectionTypeChanged(); });
}

void TForm_Configuration::BuildDialogs() {
  QVBoxLayout* page = Column(AddPage("Panel_Dialogs", "Dialogs"));
  auto* group = new QGroupBox("Show:");
  auto* column = new QVBoxLayout(group);
  page->addWidget(group);
  AddCheck(column, "CheckBox_ShowSaveDialog", "Save As dialog", &setting::ShowSaveDialog);
  AddCheck(column, "CheckBox_ShowDownloadWindow", "Download window", &setting::ShowDownloadWindow);
  AddCheck(column, "CheckBox_ShowCompletedDialog", "Download Complete dialog", &setting::ShowCompletedDialog);
  AddCheck(column, "CheckBox_ShowSystemTrayIcons", "Show System Tray icons for downloads",
           &setting::ShowSystemTrayIcons);
  AddCheck(column, "CheckBox_ShowNotifications", "Desktop notification when a download ends while the window is hidden",
           &setting::ShowNotifications);
}

void TForm_Configuration::BuildScheduler() {
  QVBoxLayout* page = Column(AddPage("Panel_Scheduler", "Scheduler"));
  AddCheck(page, "CheckBox_EnableScheduleStart", "Enable scheduled downloads", &setting::UseSchedule);
  schedule_ = new QWidget;
  schedule_->setObjectName("Panel_Schedule");
  auto* column = new QVBoxLayout(schedule_);
  column->setContentsMargins(0, 0, 0, 0);
  page->addWidget(schedule_);

  auto* time = new QGroupBox("Time:");
  auto* timeRow = new QHBoxLayout(time);
  startTime_ = new QComboBox;
  startTime_->setObjectName("ComboBox_StartTime");
  endTime_ = new QComboBox;
  endTime_->setObjectName("ComboBox_EndTime");
  for (int i = 0; i < 48; ++i) {
    const QString text = QString("%1:%2").arg(i / 2, 2, 10, QChar('0')).arg(i % 2 ? 30 : 0, 2, 10, QChar('0'));
    startTime_->addItem(text);
    endTime_->addItem(text);
  }
  timeRow->addWidget(new QLabel("Start:"));
  timeRow->addWidget(startTime_);
  timeRow->addSpacing(12);
  timeRow->addWidget(new QLabel("End:"));
  timeRow->addWidget(endTime_);
  timeRow->addStretch(1);
  column->addWidget(time);

  auto* recurrence = new QGroupBox("Recurrence Pattern:");
  auto* days = new QGridLayout(recurrence);
  for (int i = 0; i < 7; ++i) {
    const std::string name = std::string("CheckBox_Weekly_") + kWeekdays[i];
    auto* box = new QCheckBox(kWeekdays[i]);
    box->setObjectName(Q(name));
    checks_[setting::ScheduledWeekly(i).Key] = box;
    days->addWidget(box, i / 4, i % 4);
  }
  column->addWidget(recurrence);

  auto* range = new QGroupBox("Range of recurrence:");
  auto* grid = new QGridLayout(range);
  recurrenceStart_ = new QDateEdit;
  recurrenceStart_->setObjectName("DateTimePicker_Recurrence_StartDate");
  recurrenceEnd_ = new QDateEdit;
  recurrenceEnd_->setObjectName("DateTimePicker_Recurrence_EndDate");
  for (QDateEdit* picker : {recurrenceStart_, recurrenceEnd_}) {
    picker->setCalendarPopup(true);
    picker->setDisplayFormat("yyyy-MM-dd");
  }
  noEnd_ = new QRadioButton("No end date");
  noEnd_->setObjectName("RadioButton_Recurrence_NoEnd");
  endBy_ = new QRadioButton("End by:");
  endBy_->setObjectName("RadioButton_Recurrence_EndBy");
  grid->addWidget(new QLabel("Start:"), 0, 0);
  grid->addWidget(recurrenceStart_, 0, 1);
  grid->addWidget(noEnd_, 0, 2);
  grid->addWidget(endBy_, 1, 2);
  grid->addWidget(recurrenceEnd_, 1, 3);
  grid->setColumnStretch(4, 1);
  column->addWidget(range);
  connect(endBy_, &QRadioButton::toggled, this, [this] { ApplyEnableRules(); });
}

void TForm_Configuration::BuildAntiVirus() {
  QVBoxLayout* page = Column(AddPage("Panel_AntiVirus", "Anti Virus"));
  auto* group = new QGroupBox("Virus Checking:");
  auto* column = new QVBoxLayout(group);
  page->addWidget(group);
  AddCheck(column, "CheckBox_VirusChecking", "Virus check after download using:", &setting::VirusChecking);
  QFormLayout* form = Form();
  column->addLayout(form);
  auto* path = new QLineEdit;
  path->setObjectName("Edit_AntivirusExecutablePath");
  edits_[setting::AntivirusExecutablePath.Key] = path;
  auto* browse = new QPushButton("...");
  browse->setObjectName("Button_AntivirusExecutablePath");
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance("...") + 20);
  auto* row = new QHBoxLayout;
  row->addWidget(path, 1);
  row->addWidget(browse);
  form->addRow("Antivirus executable:", row);
  AddEdit(form, "Edit_AntivirusExecutableParameters", "Parameters to executable:",
          setting::AntivirusExecutableParameters.Key);
  connect(browse, &QPushButton::clicked, this, [this, path] {
    QFileDialog dialog(this, "Select program", "/usr/bin");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(QDir::AllEntries | QDir::System | QDir::Hidden);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    path->setText(dialog.selectedFiles().first());
    checks_[setting::VirusChecking.Key]->setChecked(true);
    ApplyEnableRules();
  });
}

void TForm_Configuration::BuildProxy() {
  QVBoxLayout* page = Column(AddPage("Panel_ProxyFirewall", "Proxy/Firewall"));
  for (const bool http : {true, false}) {
    auto* group = new QGroupBox(http ? "HTTP Proxy:" : "FTP Proxy:");
    auto* column = new QVBoxLayout(group);
    page->addWidget(group);
    auto* top = new QHBoxLayout;
    column->addLayout(top);
    auto* use = new QCheckBox(http ? "Use HTTP Proxy" : "Use FTP Proxy");
    use->setObjectName(http ? "CheckBox_UseHTTPProxy" : "CheckBox_UseFTPProxy");
    checks_[(http ? setting::UseHTTPProxy : setting::UseFTPProxy).Key] = use;
    connect(use, &QCheckBox::toggled, this, [this] { ApplyEnableRules(); });
    auto* find = new QPushButton("Find");
    find->setObjectName(http ? "Button_FindHTTPProxy" : "Button_FindFTPProxy");
    connect(find, &QPushButton::clicked, this, [this, http] { FindProxy(http); });
    top->addWidget(use);
    top->addStretch(1);
    top->addWidget(find);
    QFormLayout* form = Form();
    column->addLayout(form);
    if (http) {
      AddEdit(form, "Edit_HTTPProxyAddress", "Address:", setting::HTTPProxyAddress.Key);
      AddEdit(form, "Edit_HTTPProxyPort", "Port:", setting::HTTPProxyPort.Key);
      AddEdit(form, "Edit_HTTPProxyUser", "User:", setting::HTTPProxyUser.Key);
      AddEdit(form, "Edit_HTTPProxyPass", "Pass:", setting::HTTPProxyPass.Key)->setEchoMode(QLineEdit::Password);
    } else {
      AddEdit(form, "Edit_FTPProxyAddress", "Address:", setting::FTPProxyAddress.Key);
      AddEdit(form, "Edit_FTPProxyPort", "Port:", setting::FTPProxyPort.Key);
    }
  }
  AddCheck(page, "CheckBox_PassiveMode", "Passive mode (sometimes required behind firewalls)", &setting::PassiveMode);
}

void TForm_Configuration::BuildPerformance() {
  QVBoxLayout* page = Column(AddPage("Panel_Performance", "Performance"));
  auto* group = new QGroupBox("Mirror Search:");
  auto* column = new QVBoxLayout(group);
  page->addWidget(group);
  AddCheck(column, "CheckBox_TryLocalMirrorlist", "Search for mirrors in local mirror list (recommended)",
           &setting::TryLocalMirrorlist);
  AddCheck(column, "CheckBox_SearchEngines", "Automatically search for files in mirror search engines", nullptr)->hide();
  AddCheck(column, "CheckBox_SelectBestSites", "Automatically try to select the best download sites", nullptr)->hide();
  QFormLayout* form = Form();
  page->addLayout(form);
  AddNumber(form, "labelededitMaxDownloads", "Maximum number of simultaneous downloads:",
            setting::MaxSimultaneousDownloads);
  AddNumber(form, "labelededitSplitParts", "Number of parts to split each file into:", setting::SplitParts);
  AddNumber(form, "labelededitSmallestSplitSize", "Do not split files smaller than this size (kilobyte):",
            setting::SmallestSplitSize);
  AddNumber(form, "LabeledEdit_TimeOut", "Timeout (seconds):", setting::TimeOutTime);
  AddNumber(form, "LabeledEdit_RetryDelay", "Retry delay (seconds):", setting::RetryDelay);
  AddNumber(form, "LabeledEdit_RetryTimes", "Retry times:", setting::RetryTimes);
}

void TForm_Configuration::BuildGeneral() {
  QVBoxLayout* page = Column(AddPage("Panel_General", "General"));
  AddCheck(page, "CheckBox_ShutDownComputerAfterDownloading", "Shut down computer when downloads finish",
           &setting::ShutDownComputerAfterDownloading);
  AddCheck(page, "CheckBox_AutoCloseAfterDownloads", "Auto close program when downloads finish",
           &setting::AutoCloseAfterDownloads);
  AddCheck(page, "CheckBox_MinimizeOrClose", "Minimize main window to tray when closing", &setting::MinimizeToTray);
  AddCheck(page, "CheckBox_ShowDisabledIcon", "Show disabled icon in tray when not using browser integration",
           &setting::ShowDisabledIcon);
  AddCheck(page, "CheckBox_StartMinimized", "Start program minimized", &setting::StartMinized);
  AddCheck(page, "CheckBox_CheckForUpdates", "Check for program updates on startup", &setting::CheckForUpdates);
}

void TForm_Configuration::Prepare(int page) {
  LoadControls();
  resize(Read(setting::ConfigurationFormWidth), Read(setting::ConfigurationFormHeight));
  // Wrapped texts (the Integration page's help) are read whole: the dialog
  // is never shorter than its pages need at its width.
  if (const int needed = heightForWidth(width()); needed > height()) resize(width(), needed);
  Center();
  SelectPage(page);
}

void TForm_Configuration::Center() {
  QRect bounds;
  if (parentWidget() && parentWidget()->isVisible()) {
    bounds = parentWidget()->frameGeometry();
  } else {
    const setting::TWindowPosition main = setting::MainWindowPositionAtConfiguration();
    bounds = QRect(Read(main.Left), Read(main.Top), Read(main.Width), Read(main.Height));
  }
  CenterWindow(*this, bounds);
}

void TForm_Configuration::SelectPage(int index) {
  if (index < 0 || index >= pages_->topLevelItemCount()) index = 0;
  pages_->setCurrentItem(pages_->topLevelItem(index));
  stack_->setCurrentIndex(index);
}

int TForm_Configuration::CurrentPage() const { return stack_->currentIndex(); }

void TForm_Configuration::LoadControls() {
  values_ = LoadConfiguration(dialUpEntries_);
  for (auto& [key, box] : checks_) box->setChecked(values_.Flags[key]);
  for (auto& [key, edit] : edits_) edit->setText(Q(values_.Texts[key]));
  for (auto& [key, combo] : dateCombos_) combo->setCurrentIndex(std::max(0, combo->findText(Q(values_.Texts[key]))));
  extensions_->setPlainText(Q(values_.Texts[setting::Extensions.Key]));
  theme_->setCurrentIndex(std::clamp(values_.ColorTheme, 0, 2));
  ThemeChanged();
  const int type = connectionType_->findText(Q(values_.Texts[setting::ConnectionType.Key]));
  connectionType_->setCurrentIndex(type >= 0 ? type : connectionType_->count() - 1);
  ConnectionTypeChanged();
  alwaysConnect_->setChecked(values_.Flags[setting::AlwaysConnect.Key]);
  dialUp_->setChecked(values_.Flags[setting::ConnectUsingDialUp.Key]);
  connections_->clear();
  for (const std::string& entry : values_.DialUpEntries) connections_->addItem(Q(entry));
  if (values_.DialUpEntry >= 0) connections_->setCurrentRow(values_.DialUpEntry);
  startTime_->setCurrentIndex(values_.ScheduledStartTime);
  endTime_->setCurrentIndex(values_.ScheduledEndTime);
  recurrenceStart_->setDate(DateOf(values_.RecurrenceStart));
  recurrenceEnd_->setDate(DateOf(values_.RecurrenceEnd));
  noEnd_->setChecked(values_.Flags[setting::ScheduledRecurrenceNoEnd.Key]);
  endBy_->setChecked(!values_.Flags[setting::ScheduledRecurrenceNoEnd.Key]);
  ApplyEnableRules();
}

TConfigurationValues TForm_Configuration::ReadControls() const {
  TConfigurationValues values = values_;
  for (const auto& [key, box] : checks_) values.Flags[key] = box->isChecked();
  for (const auto& [key, edit] : edits_) values.Texts[key] = edit->text().toStdString();
  for (const auto& [key, combo] : dateCombos_) values.Texts[key] = combo->currentText().toStdString();
  values.Texts[setting::Extensions.Key] = extensions_->toPlainText().toStdString();
  values.Texts[setting::ConnectionType.Key] = connectionType_->currentText().toStdString();
  values.Flags[setting::AlwaysConnect.Key] = alwaysConnect_->isChecked();
  values.Flags[setting::ConnectUsingDialUp.Key] = dialUp_->isChecked();
  values.DialUpEntry = connections_->currentRow();
  values.ColorTheme = theme_->currentIndex();
  values.Colors = colors_;
  values.ScheduledStartTime = startTime_->currentIndex();
  values.ScheduledEndTime = endTime_->currentIndex();
  values.RecurrenceStart = DateTimeOf(recurrenceStart_->date());
  values.RecurrenceEnd = DateTimeOf(recurrenceEnd_->date());
  values.Flags[setting::ScheduledRecurrenceNoEnd.Key] = noEnd_->isChecked();
  values.Flags[setting::ScheduledRecurrenceEndBy.Key] = endBy_->isChecked();
  return values;
}

void TForm_Configuration::ApplyEnableRules() {
  const bool http = checks_[setting::UseHTTPProxy.Key]->isChecked();
  for (const TStringSetting* field :
       {&setting::HTTPProxyAddress, &setting::HTTPProxyPort, &setting::HTTPProxyUser, &setting::HTTPProxyPass})
    SetEditable(edits_[field->Key], http);
  const bool ftp = checks_[setting::UseFTPProxy.Key]->isChecked();
  for (const TStringSetting* field : {&setting::FTPProxyAddress, &setting::FTPProxyPort})
    SetEditable(edits_[field->Key], ftp);
  SetEditable(edits_[setting::AntivirusExecutableParameters.Key], checks_[setting::VirusChecking.Key]->isChecked());
  const bool browsers = checks_[setting::EnableBrowserIntegration.Key]->isChecked();
  for (const TBoolSetting* browser :
       {&setting::IntegrateWithInternetExplorer, &setting::IntegrateWithNetscape, &setting::IntegrateWithOpera})
    checks_[browser->Key]->setEnabled(browsers);
  const bool dialUp = dialUp_->isChecked();
  connections_->setEnabled(dialUp);
  checks_[setting::AlwaysDownloadWhenConnected.Key]->setEnabled(dialUp);
  checks_[setting::DiconnectAfterDownload.Key]->setEnabled(dialUp);
  recurrenceEnd_->setEnabled(endBy_->isChecked());
  schedule_->setVisible(checks_[setting::UseSchedule.Key]->isChecked());
}

void TForm_Configuration::ThemeChanged() {
  const int theme = theme_->currentIndex();
  colors_ = LoadThemeColors(theme);
  ShowColors();
  reset_->setEnabled(ThemeCanReset(theme, colors_));
}

void TForm_Configuration::ShowColors() {
  for (size_t i = 0; i < colors_.size(); ++i) {
    const QColor color = ColorFromSetting(colors_[i], palette());
    colorBoxes_[i]->setIcon([&] {
      QPixmap swatch(28, 14);
      swatch.fill(color);
      return QIcon(swatch);
    }());
    colorBoxes_[i]->setText(color.name());
    colorBoxes_[i]->setProperty("colorValue", static_cast<uint>(colors_[i]));
  }
}

void TForm_Configuration::ColorClicked(int index) {
  const QColor chosen = QColorDialog::getColor(ColorFromSetting(colors_[index], palette()), this);
  if (!chosen.isValid()) return;
  colors_[index] = static_cast<uint32_t>(chosen.red() | chosen.green() << 8 | chosen.blue() << 16);
  ShowColors();
  reset_->setEnabled(theme_->currentIndex() != 2);
}

void TForm_Configuration::FindProxy(bool http) {
  const TFoundProxy found = brindle::FindProxy(http ? "http" : "ftp");
  QLineEdit* address = edits_[(http ? setting::HTTPProxyAddress : setting::FTPProxyAddress).Key];
  QLineEdit* port = edits_[(http ? setting::HTTPProxyPort : setting::FTPProxyPort).Key];
  address->setText(Q(found.Address));
  port->setText(Q(found.Port));
  if (found.Address.empty() && found.Port.empty()) {
    address->setText("Could not detect proxy settings, please enter manually");
    return;
  }
  checks_[(http ? setting::UseHTTPProxy : setting::UseFTPProxy).Key]->setChecked(true);
  ApplyEnableRules();
}

void TForm_Configuration::ConnectionTypeChanged() {
  const int index = connectionType_->currentIndex();
  const bool other = index < 0 || index >= 10;
  SetEditable(bps_, other);
  bps_->setText(other ? Q(values_.Texts[setting::ConnectionSpeed.Key]) : kConnectionSpeeds[index]);
}

bool TForm_Configuration::Ok() {
  TConfigurationValues values = ReadControls();
  TConfigurationHost host;
  host.Ask = [this](const std::string& question) {
    return QMessageBox::question(this, "Confirm", Q(question), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  host.Message = [this](const std::string& text) { QMessageBox::information(this, "Brindle", Q(text)); };
  host.ShowField = [this](const std::string& key) {
    QLineEdit* edit = edits_.contains(key) ? edits_.at(key) : nullptr;
    if (!edit) return;
    for (int page = 0; page < stack_->count(); ++page)
      if (stack_->widget(page)->isAncestorOf(edit)) SelectPage(page);
    edit->setFocus();
    edit->selectAll();
  };
  host.ProgramPath = ProgramPath;
  const TConfigurationResult result = SaveConfiguration(values, system_, host);
  // A refused move sets the folder back.
  edits_[setting::PartialDownloadsDirectory.Key]->setText(Q(values.Texts[setting::PartialDownloadsDirectory.Key]));
  if (result != TConfigurationResult::Saved) return false;
  accept();
  return true;
}

void TForm_Configuration::done(int result) {
  Write(setting::ConfigurationFormWidth, width());
  Write(setting::ConfigurationFormHeight, height());
  QDialog::done(result);
}

bool TForm_Configuration::eventFilter(QObject* watched, QEvent* event) {
  // The number fields take digits and Backspace; other characters are dropped.
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (!text.isEmpty() && text[0].isPrint() && !text[0].isDigit()) return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace brindle
