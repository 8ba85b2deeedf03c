#include "ui/form_configuration.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

#include "core/event_loop.h"
#include "integration/monitor_clipboard.h"
#include "ui/form_hang_up_on.h"
#include "manager/download_list_model.h"
#include "ui/download_table_model.h"
#include "ui/form_main.h"
#include "ui/glyphs.h"
#include "integration/hang_up_timer.h"
#include "support/main_window_test.h"
#include "support/scoped_environment.h"

namespace brindle {
namespace {

// Keeps the icon it was given last.
class RecordingTray final : public TTrayPort {
 public:
  bool Available() const override { return true; }
  void SetIcon(const QIcon& icon) override { Icon = icon; }
  void SetToolTip(const QString&) override {}
  void SetMenu(QMenu*) override {}
  void Show() override {}
  void Hide() override {}
  void ShowMessage(const QString&, const QString&) override {}
  QIcon Icon;
};

// Clicks button and gives the text of the message box it raised, accepted.
QString Told(QAbstractButton* button) {
  QString told;
  QTimer::singleShot(0, [&told] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      told = box->text();
      box->accept();
    }
  });
  button->click();
  return told;
}

struct TCheckControl {
  const char* Name;
  const char* Key;
  bool Default;
};
const TCheckControl kChecks[] = {
    {"CheckBox_LaunchOnStartup", "LaunchOnStartup", false},
    {"CheckBox_MonitorCliboard", "MonitorClipboard", true},
    {"CheckBox_EnableBrowserIntegration", "EnableBrowserIntegration", true},
    {"CheckBox_IntegrateWithInternetExplorer", "IntegrateWithInternetExplorer", true},
    {"CheckBox_IntegrateWithNetscape", "IntegrateWithNetscape", false},
    {"CheckBox_IntegrateWithOpera", "IntegrateWithOpera", false},
    {"CheckBox_DateFolders", "DateFolders", false},
    {"CheckBox_DrawProgressBars", "DrawProgressBars", true},
    {"CheckBox_GridLines", "GridLines", false},
    {"CheckBox_RemoveSuccessfulDownloadFromList", "RemoveSuccessfulDownloadFromList", false},
    {"CheckBox_RemoveUnexistingFilesFromList", "RemoveUnexistingFilesFromList", true},
    {"CheckBox_AlwaysDownloadWhenConnected", "AlwaysDownloadWhenConnected", true},
    {"CheckBox_DisconnectAfterDownload", "DiconnectAfterDownload", false},
    {"CheckBox_ShowSaveDialog", "ShowSaveDialog", true},
    {"CheckBox_ShowDownloadWindow", "ShowDownloadWindow", true},
    {"CheckBox_ShowCompletedDialog", "ShowCompletedDialog", true},
    {"CheckBox_ShowSystemTrayIcons", "ShowSystemTrayIcons", false},
    {"CheckBox_ShowNotifications", "ShowNotifications", true},
    {"CheckBox_EnableScheduleStart", "UseSchedule", false},
    {"CheckBox_Weekly_Sun", "ScheduledWeekly_Sun", false},
    {"CheckBox_Weekly_Sat", "ScheduledWeekly_Sat", false},
    {"CheckBox_VirusChecking", "VirusChecking", false},
    {"CheckBox_UseHTTPProxy", "UseHTTPProxy", false},
    {"CheckBox_UseFTPProxy", "UseFTPProxy", false},
    {"CheckBox_PassiveMode", "PassiveMode", false},
    {"CheckBox_TryLocalMirrorlist", "TryLocalMirrorlist", true},
    {"CheckBox_ShutDownComputerAfterDownloading", "ShutDownComputerAfterDownloading", false},
    {"CheckBox_AutoCloseAfterDownloads", "AutoCloseAfterDownloads", false},
    {"CheckBox_MinimizeOrClose", "MinimizeToTray", false},
    {"CheckBox_ShowDisabledIcon", "ShowDisabledIcon", true},
    {"CheckBox_StartMinimized", "StartMinized", false},
    {"CheckBox_CheckForUpdates", "CheckForUpdates", true},
};

class FormConfigurationTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteBool(kOptionsSection, "CheckForUpdates", false);
    WriteBool(kOptionsSection, "UseHTTPProxy", false);
    WriteBool(kOptionsSection, "UseFTPProxy", false);
    form_ = NewForm();
  }
  void TearDown() override {
    form_.reset();
    MainWindowTest::TearDown();
  }
  TForm_Configuration& Open(int page = 0) {
    form_->OpenConfiguration(page);
    EXPECT_NE(form_->Configuration(), nullptr);
    EXPECT_TRUE(form_->Configuration()->isVisible());
    return *form_->Configuration();
  }
  template <class T>
  T* Find(const char* name) {
    T* child = form_->Configuration()->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  void Click(const char* button) { Find<QPushButton>(button)->click(); }
  TForm_Configuration& Form() { return *form_->Configuration(); }

  std::unique_ptr<TForm_Main> form_;
};

TEST_F(FormConfigurationTest, TheButtonsAndTheStatusBarOpenTheirPages) {
  form_->findChild<QToolButton*>("SpeedButton_Config")->click();
  TForm_Configuration& dialog = *form_->Configuration();
  EXPECT_EQ(dialog.CurrentPage(), 0);
  EXPECT_TRUE(Find<QWidget>("Panel_BrowserIntegration")->isVisible());
  auto* pages = Find<QTreeWidget>("TreeView1");
  pages->setCurrentItem(pages->topLevelItem(7));
  EXPECT_TRUE(Find<QWidget>("Panel_ProxyFirewall")->isVisible());
  EXPECT_FALSE(Find<QWidget>("Panel_BrowserIntegration")->isVisible());
  // "Find" reads the environment: its HTTP proxy, never an FTP one.
  const test::ScopedEnvironment environment({{"http_proxy", "http://cache.lan:3128/"}, {"ftp_proxy", "http://f:21"}});
  Click("Button_FindHTTPProxy");
  EXPECT_EQ(Find<QLineEdit>("Edit_HTTPProxyAddress")->text(), "cache.lan");
  EXPECT_EQ(Find<QLineEdit>("Edit_HTTPProxyPort")->text(), "3128");
  EXPECT_TRUE(Find<QCheckBox>("CheckBox_UseHTTPProxy")->isChecked());
  Click("Button_FindFTPProxy");
  EXPECT_EQ(Find<QLineEdit>("Edit_FTPProxyAddress")->text(), "Could not detect proxy settings, please enter manually");
  EXPECT_FALSE(Find<QCheckBox>("CheckBox_UseFTPProxy")->isChecked());
  Click("SpeedButton_Cancel");

  form_->findChild<QToolButton*>("SpeedButton_Scheduler")->click();
  EXPECT_EQ(dialog.CurrentPage(), TForm_Configuration::kSchedulerPage);
  EXPECT_FALSE(Find<QWidget>("Panel_Schedule")->isVisible());  // "UseSchedule" is off
  Find<QCheckBox>("CheckBox_EnableScheduleStart")->setChecked(true);
  EXPECT_TRUE(Find<QWidget>("Panel_Schedule")->isVisible());
  Click("SpeedButton_Cancel");
  EXPECT_FALSE(ReadBool(kOptionsSection, "UseSchedule", false));

  // A double click on the scheduler panel opens the page; its two clicks leave the switch as it was.
  auto* panel = form_->findChild<QLabel*>("StatusBar_Panel1");
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonDblClick}) {
    QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel, &event);
  }
  EXPECT_FALSE(ReadBool(kOptionsSection, "UseSchedule", false));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.CurrentPage(), TForm_Configuration::kSchedulerPage);
}

// How each value is converted is the integration test's; here which control shows which key.
TEST_F(FormConfigurationTest, EveryCheckBoxLoadsItsKeyAndOkWritesItBack) {
  for (const TCheckControl& c : kChecks) WriteBool(kOptionsSection, c.Key, !c.Default);
  WriteInteger(kOptionsSection, "TimeOutTime", 30500);
  WriteString(kOptionsSection, "HTTPProxyUser", "anna");
  Open();
  for (const TCheckControl& c : kChecks) {
    QCheckBox* box = Find<QCheckBox>(c.Name);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->isChecked(), !c.Default) << c.Name;
    box->setChecked(c.Default);
  }
  EXPECT_EQ(Find<QLineEdit>("LabeledEdit_TimeOut")->text(), "30");
  EXPECT_EQ(Find<QLineEdit>("Edit_HTTPProxyUser")->text(), "anna");
  EXPECT_TRUE(Find<QLineEdit>("Edit_HTTPProxyUser")->isReadOnly());  // the proxy is off now
  Find<QLineEdit>("LabeledEdit_TimeOut")->setText("45");
  Find<QComboBox>("ComboBox_StartTime")->setCurrentIndex(44);
  Find<QLineEdit>("Edit_HTTPProxyUser")->setText("ben");

  // Enter in any field is OK.
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(Find<QLineEdit>("Edit_HTTPProxyUser"), &enter);
  EXPECT_FALSE(form_->Configuration()->isVisible());
  for (const TCheckControl& c : kChecks) EXPECT_EQ(ReadBool(kOptionsSection, c.Key, !c.Default), c.Default) << c.Key;
  EXPECT_EQ(ReadInteger(kOptionsSection, "TimeOutTime", 0), 45000);
  EXPECT_EQ(ReadString(kOptionsSection, "HTTPProxyUser", ""), "ben");
  EXPECT_EQ(ReadInteger(kOptionsSection, "ScheduledStartTime", 0), 44);
  EXPECT_DOUBLE_EQ(ReadDateTime(kOptionsSection, "StartTime", 0), 22.0 / 24);

  // The main window applies what changed.
  EXPECT_FALSE(form_->findChild<QTableView*>("StringGrid_Downloads")->showGrid());
  EXPECT_TRUE(form_->ClipboardMonitor().Enabled());
  Open();
  Find<QCheckBox>("CheckBox_GridLines")->setChecked(true);
  Find<QCheckBox>("CheckBox_MonitorCliboard")->setChecked(false);
  Click("SpeedButton_OK");
  EXPECT_TRUE(form_->findChild<QTableView*>("StringGrid_Downloads")->showGrid());
  EXPECT_FALSE(form_->ClipboardMonitor().Enabled());
}

TEST_F(FormConfigurationTest, CancelWritesOnlyTheSize) {
  std::vector<bool> before;
  for (const TCheckControl& c : kChecks) before.push_back(ReadBool(kOptionsSection, c.Key, c.Default));
  Open(8);
  form_->Configuration()->resize(700, 520);
  for (const TCheckControl& c : kChecks) Find<QCheckBox>(c.Name)->toggle();
  Find<QLineEdit>("LabeledEdit_RetryTimes")->setText("3");
  Click("SpeedButton_Cancel");
  for (size_t i = 0; i < std::size(kChecks); ++i)
    EXPECT_EQ(ReadBool(kOptionsSection, kChecks[i].Key, kChecks[i].Default), before[i]) << kChecks[i].Key;
  EXPECT_EQ(ReadInteger(kOptionsSection, "RetryTimes", -1), -1);
  EXPECT_EQ(ReadInteger(kOptionsSection, "ConfigurationFormWidth", 0), 700);
  EXPECT_EQ(ReadInteger(kOptionsSection, "ConfigurationFormHeight", 0), 520);
  Open();
  EXPECT_EQ(form_->Configuration()->size(), QSize(700, 520));
}

TEST_F(FormConfigurationTest, NumberFieldsTakeDigitsOnlyAndAPastedTextStopsOk) {
  Open(8);
  QLineEdit* retries = Find<QLineEdit>("LabeledEdit_RetryTimes");
  retries->setFocus();
  retries->selectAll();
  for (const char* key : {"a", "5", "-", "2"}) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(key));
    QApplication::sendEvent(retries, &press);
  }
  EXPECT_EQ(retries->text(), "52");

  Find<QLineEdit>("LabeledEdit_RetryDelay")->setText("ten");  // pasted
  Click("SpeedButton_OK");
  EXPECT_TRUE(form_->Configuration()->isVisible());

  // A value out of range is shown on its page, once its section is on.
  Find<QLineEdit>("LabeledEdit_RetryDelay")->setText("10");
  Find<QLineEdit>("Edit_HTTPProxyPort")->setText("99999");
  Find<QCheckBox>("CheckBox_UseHTTPProxy")->setChecked(true);
  Form().SelectPage(0);
  EXPECT_EQ(Told(Find<QPushButton>("SpeedButton_OK")), "HTTP proxy port must be a number from 1 to 65535.");
  EXPECT_TRUE(Find<QWidget>("Panel_ProxyFirewall")->isVisible());
  EXPECT_EQ(Form().focusWidget(), Find<QLineEdit>("Edit_HTTPProxyPort"));
  Find<QCheckBox>("CheckBox_UseHTTPProxy")->setChecked(false);
  Click("SpeedButton_OK");
  EXPECT_FALSE(form_->Configuration()->isVisible());
}

TEST_F(FormConfigurationTest, ResetFollowsTheThemesColours) {
  WriteInteger(kOptionsSection, "ColorTheme", 1);
  Open(2);
  QPushButton* reset = Find<QPushButton>("Button_Reset");
  EXPECT_FALSE(reset->isEnabled());
  auto* theme = Find<QComboBox>("ComboBox_Theme");
  EXPECT_EQ(theme->currentText(), "Brindle");
  Click("SpeedButton_Cancel");
  WriteInteger(kOptionsSection, "Brindle_Color_Done", 0x00FF00);
  Open(2);
  EXPECT_TRUE(reset->isEnabled());
  reset->click();
  EXPECT_FALSE(reset->isEnabled());
  Click("SpeedButton_OK");
  EXPECT_EQ(ReadInteger(kOptionsSection, "Brindle_Color_Done", 0), 0x800000);
}

TEST_F(FormConfigurationTest, TheHangUpWindowArmsItsTimer) {
  WriteBool(kOptionsSection, "AfterDownloadsCompleted", false);
  form_->findChild<QToolButton*>("SpeedButton_HangUp")->click();
  TForm_HangUpOn* window = form_->HangUpWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->findChild<QRadioButton*>("RadioButton3")->isChecked());
  EXPECT_TRUE(window->findChild<QWidget*>("Panel_MinutesFromNow")->isVisible());
  EXPECT_FALSE(window->findChild<QWidget*>("Panel_SpecificTime")->isVisible());
  auto* minutes = window->findChild<QLineEdit*>("Edit_MinutesFromNow");
  // An empty box is no number: OK says so and the window stays.
  minutes->setText("");
  EXPECT_EQ(Told(window->findChild<QPushButton*>("SpeedButton_OK")).toStdString(), THangUpTimer::InvalidMinutes(""));
  EXPECT_TRUE(window->isVisible());
  minutes->setText("0");
  window->findChild<QPushButton*>("SpeedButton_OK")->click();
  EXPECT_EQ(minutes->text(), "1");
  EXPECT_FALSE(window->isVisible());
  auto* box = form_->findChild<QMessageBox*>("MessageDialog");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "60000");
  box->button(QMessageBox::Ok)->click();

  // Cancel changes nothing.
  form_->OpenHangUp();
  window->findChild<QRadioButton*>("RadioButton1")->setChecked(true);
  EXPECT_FALSE(window->findChild<QWidget*>("Panel_MinutesFromNow")->isVisible());
  window->findChild<QPushButton*>("SpeedButton_Abort")->click();
  EXPECT_FALSE(ReadBool(kOptionsSection, "AfterDownloadsCompleted", true));
}

TEST_F(FormConfigurationTest, OkAppliesTheSettingsToTheMainWindowAndItsTrayIcon) {
  auto tray = std::make_unique<RecordingTray>();
  RecordingTray* icon = tray.get();
  form_ = std::make_unique<TForm_Main>(loop_, std::move(tray), std::vector<std::string>{});
  const auto shows = [icon](bool enabledPicture) {
    return icon->Icon.pixmap(16, 16).toImage() == TrayIcon(enabledPicture).pixmap(16, 16).toImage();
  };
  ASSERT_TRUE(shows(true));
  ASSERT_FALSE(shows(false));
  const QColor background = form_->findChild<QTableView*>("StringGrid_Downloads")->palette().color(QPalette::Base);

  Open();
  Find<QCheckBox>("CheckBox_EnableBrowserIntegration")->setChecked(false);
  Find<QCheckBox>("CheckBox_DrawProgressBars")->setChecked(false);
  Find<QCheckBox>("CheckBox_EnableScheduleStart")->setChecked(true);
  auto* theme = Find<QComboBox>("ComboBox_Theme");
  theme->setCurrentText("Brindle");
  emit theme->activated(theme->currentIndex());  // as a choice of the user's
  Click("SpeedButton_OK");
  ASSERT_FALSE(form_->Configuration()->isVisible());
  EXPECT_TRUE(shows(false));
  EXPECT_FALSE(form_->TableModel().List().DrawProgressBars());
  EXPECT_EQ(form_->findChild<QLabel*>("StatusBar_Panel1")->text(), "Scheduler Enabled");
  const QColor themed = form_->findChild<QTableView*>("StringGrid_Downloads")->palette().color(QPalette::Base);
  EXPECT_NE(themed, background);
  EXPECT_EQ(form_->findChild<QTreeWidget*>("TreeView_Categories")->palette().color(QPalette::Base), themed);

  // Without the disabled picture the icon stays the enabled one.
  Open(9);
  Find<QCheckBox>("CheckBox_ShowDisabledIcon")->setChecked(false);
  Click("SpeedButton_OK");
  EXPECT_TRUE(shows(true));
}

}  // namespace
}  // namespace brindle
