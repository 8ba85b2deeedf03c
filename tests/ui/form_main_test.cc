#include "ui/form_main.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QUrl>
#include <cmath>
#include <map>
#include <memory>

#include <QClipboard>

#include "core/date_time.h"
#include "core/event_loop.h"
#include "core/trace.h"
#include "core/paths.h"
#include "core/download_status.h"
#include "engine/downloader.h"
#include "manager/download_forms.h"
#include "manager/download_list_model.h"
#include "engine/speed_limiter.h"
#include "manager/accepted_url.h"
#include "manager/download_system.h"
#include "manager/ignored_links.h"
#include "manager/local_download_info.h"
#include "platform/hand_over_request.h"
#include "platform/hand_over_server.h"
#include "platform/instance_lock.h"
#include "integration/monitor_clipboard.h"
#include "integration/scheduler.h"
#include "integration/version_checker.h"
#include "support/fault_http_server.h"
#include "support/manual_clock.h"
#include "ui/debug_form.h"
#include "ui/download_table_model.h"
#include "ui/event_loop_bridge.h"
#include "ui/form_configuration.h"
#include "ui/form_download.h"
#include "ui/system_tray_progress.h"
#include "support/fake_launcher.h"
#include "support/installed.h"
#include "support/fake_notifications.h"
#include "support/fake_tray.h"
#include "support/main_window_test.h"

extern char** environ;

namespace brindle {
namespace {

class FormMainTest : public test::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteBool(kOptionsSection, "ShowCompletedDialog", false);
  }
  std::unique_ptr<TForm_Main> NewForm(bool trayAvailable = false) {
    auto form = MainWindowTest::NewForm(trayAvailable);
    form->OnTerminate = [this] { ++terminated_; };
    return form;
  }
  static QString Panel(const TForm_Main& form, int index) {
    return form.findChild<QLabel*>(QString("StatusBar_Panel%1").arg(index))->text();
  }
  // A download that stays running: the server stops after a few bytes.
  void StartStalledDownload(TForm_Main& form, test::FaultHttpServer& server) {
    server.AddFile("/big.bin", std::string(400000, 'b'));
    server.StallFilesAt(1000);
    ASSERT_TRUE(form.AddDownloadFromUrl(server.Url("/big.bin"), true));
    ASSERT_TRUE(test::RunUntil(loop_, [&] {
      const TLDIList& list = form.DownloadSystem().DownloadList();
      return list.Count() > 0 && list.Get(list.Count() - 1)->Status() == TDownloadState::Downloading;
    }));
  }

  int terminated_ = 0;
};

// Two commands on one shortcut would leave the key doing neither; the items
// that would lead nowhere stay hidden.
TEST_F(FormMainTest, ShortcutsAreUniqueAndTheSpeedLimitMenusApplyAtOnce) {
  auto form = NewForm();
  std::map<QKeySequence, std::string> shortcuts;
  for (const QAction* action : form->findChildren<QAction*>()) {
    if (action->shortcut().isEmpty()) continue;
    EXPECT_TRUE(shortcuts.emplace(action->shortcut(), action->objectName().toStdString()).second)
        << action->objectName().toStdString() << " takes " << shortcuts.at(action->shortcut()) << "'s shortcut";
  }
  EXPECT_EQ(shortcuts.size(), 11u);  // none lost
  for (const char* name : {"FAQ1", "ViewLog1", "BugReports1", "TellaFriend1"})
    EXPECT_FALSE(Find<QAction>(*form, name)->isVisible()) << name;

  // The speed limit, from the tray's submenu or the speed panel's menu:
  // stored and applied at once; "Unlimited" keeps the last limit.
  auto* traySpeed = Find<QMenu>(*form, "PopupMenu_TraySpeedLimit");
  ASSERT_EQ(traySpeed->actions()[4]->text(), "250 kb/s");
  traySpeed->actions()[4]->trigger();
  EXPECT_TRUE(ReadBool(kOptionsSection, "SpeedLimitEnabled", false));
  EXPECT_EQ(ReadInteger(kOptionsSection, "SpeedLimit", 0), 250);
  EXPECT_EQ(form->DownloadSystem().SpeedLimiter().Rate(), 250 * 1024);
  auto* panelSpeed = Find<QMenu>(*form, "PopupMenu_SpeedLimit");
  emit panelSpeed->aboutToShow();
  EXPECT_TRUE(panelSpeed->actions()[4]->isChecked());
  panelSpeed->actions()[0]->trigger();  // Unlimited
  EXPECT_FALSE(ReadBool(kOptionsSection, "SpeedLimitEnabled", true));
  EXPECT_EQ(ReadInteger(kOptionsSection, "SpeedLimit", 0), 250);
  EXPECT_EQ(form->DownloadSystem().SpeedLimiter().Rate(), 0);

  // The layout buttons write their setting.
  Find<QToolButton>(*form, "SpeedButton_Up")->click();
  EXPECT_FALSE(ReadBool(kOptionsSection, "LargeButtons", true));
  EXPECT_TRUE(Find<QToolButton>(*form, "SpeedButton_SmallAdd")->isVisibleTo(form.get()));
  EXPECT_FALSE(Find<QToolButton>(*form, "SpeedButton_Add")->isVisibleTo(form.get()));
}

TEST_F(FormMainTest, StatisticsAreShownAndClearedAfterAskingAndHelpOpensTheManual) {
  test::Installed<test::FakeLauncher, SetLauncher> launcher;
  auto form = NewForm();
  const std::string pingPage = ApplicationDirectory() + "StatisticsPing.html";
  Find<QAction>(*form, "ViewServerStatistics1")->trigger();
  EXPECT_EQ(launcher.opened, std::vector<std::string>{pingPage});
  ASSERT_EQ(access(pingPage.c_str(), F_OK), 0);
  for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    Find<QAction>(*form, "ClearStatistics1")->trigger();
    EXPECT_TRUE(Answer(*form, answer).starts_with("Statistics is useful"));
    QApplication::processEvents();
    EXPECT_EQ(access(pingPage.c_str(), F_OK) == 0, answer == QMessageBox::No);
  }
  // The build writes the manual before the tests run.
  auto* help = Find<QAction>(*form, "Help2");
  ASSERT_TRUE(help->isVisible());
  help->trigger();
  EXPECT_TRUE(launcher.opened.back().ends_with("/README.html"));
}

TEST_F(FormMainTest, ListLayoutPositionAndCategorySurviveARestart) {
  {
    auto form = NewForm();
    // Never placed: every column fits beside the tree within a 1366x768 screen.
    const QSize fitting = form->FittingSize(QRect(0, 0, 1366, 740));
    EXPECT_LE(fitting.width(), 1350);
    form->resize(fitting);
    form->show();
    QApplication::processEvents();
    auto* grid = form->findChild<QTableView*>("StringGrid_Downloads");
    EXPECT_GE(grid->viewport()->width(), grid->horizontalHeader()->length());
    grid->horizontalHeader()->resizeSection(kColumnFileName, 222);
    grid->horizontalHeader()->resizeSection(kColumnSavePath, 333);
    grid->sortByColumn(kColumnSize, Qt::DescendingOrder);
    form->setGeometry(40, 50, 700, 480);
    form->Exit();  // nothing runs: no question
    EXPECT_EQ(terminated_, 1);
    EXPECT_EQ(form->findChild<QMessageBox*>("MessageDialog"), nullptr);
  }
  EXPECT_EQ(ReadInteger(kOptionsSection, "StringGrid_Downloads_ColWidth_0", 0), 222);
  EXPECT_EQ(ReadInteger(kOptionsSection, "StringGrid_Downloads_SortByColumn", 0), kColumnSize);
  EXPECT_FALSE(ReadBool(kOptionsSection, "StringGrid_Downloads_SortDirectionAscending", true));
  EXPECT_EQ(ReadInteger("Form_Main Position", "Left", 0), 40);
  EXPECT_EQ(ReadInteger("Form_Main Position", "Width", 0), 700);
  EXPECT_FALSE(ReadBool(kOptionsSection, "AfterDownloadsCompleted", true));

  auto again = NewForm();
  auto* grid = again->findChild<QTableView*>("StringGrid_Downloads");
  EXPECT_EQ(grid->horizontalHeader()->sectionSize(kColumnFileName), 222);
  EXPECT_EQ(grid->horizontalHeader()->sectionSize(kColumnSavePath), 333);
  EXPECT_EQ(grid->horizontalHeader()->sortIndicatorSection(), kColumnSize);
  EXPECT_EQ(grid->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(again->geometry(), QRect(40, 50, 700, 480));
}

TEST_F(FormMainTest, ExitAsksWhileDownloadsRunAndClosingHidesOnlyWithATray) {
  test::FaultHttpServer server(loop_);
  TLocalDownloadinfo later(std::make_unique<TUrl>(server.Url("/later.bin")), "", nullptr);
  later.LocalFileName = temp_.File("downloads/later.bin");
  later.SetStatus(TDownloadState::Scheduled);
  ASSERT_TRUE(later.Save());
  auto form = NewForm(/*trayAvailable=*/true);
  form->show();
  StartStalledDownload(*form, server);

  form->Exit();
  EXPECT_EQ(Answer(*form, QMessageBox::No), "Download(s) in progress. Exit anyway?");
  EXPECT_EQ(terminated_, 0);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->DownloadSystem().ActiveList().size(), 1u);

  // Closing without MinimizeToTray is Exit: its question, answered No, keeps the window.
  form->close();
  QApplication::processEvents();
  EXPECT_EQ(Answer(*form, QMessageBox::No), "Download(s) in progress. Exit anyway?");
  EXPECT_TRUE(form->isVisible());

  WriteBool(kOptionsSection, "MinimizeToTray", true);
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(terminated_, 0);
  EXPECT_EQ(form->DownloadSystem().ActiveList().size(), 1u);

  // A second start without an address brings the window back.
  EXPECT_EQ(form->CheckInstances(THandOverRequest::PlainText("")), 1);
  EXPECT_TRUE(form->isVisible());

  form->Exit();
  Answer(*form, QMessageBox::Yes);
  EXPECT_EQ(terminated_, 1);
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return form->DownloadSystem().ActiveList().empty(); }));
  // The running download pauses; the scheduler keeps the scheduled one.
  EXPECT_EQ(form->DownloadSystem().DownloadList().Get(1)->Status(), TDownloadState::Paused);
  EXPECT_EQ(TLocalDownloadinfo(nullptr, later.TempFileName, nullptr).Status(), TDownloadState::Scheduled);
}

TEST_F(FormMainTest, DownloadWindowAndTrayIconFollowARunningDownload) {
  WriteBool(kOptionsSection, "ShowDownloadWindow", true);
  WriteBool(kOptionsSection, "ShowSystemTrayIcons", true);
  test::FaultHttpServer server(loop_);
  auto form = NewForm();
  StartStalledDownload(*form, server);
  TDownloadSystem& system = form->DownloadSystem();
  TDownloader* downloader = system.ActiveList().at(0);
  auto* window = dynamic_cast<TForm_Download*>(system.GetDownloadForms(downloader)->DownloadWindow.get());
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());  // its rows and caption: FormMainDownloadTest

  TSystemTrayProgress* tray = form->TrayProgress();
  ASSERT_NE(tray, nullptr);
  tray->OnUpdateTimer();
  ASSERT_EQ(tray->Items().size(), 1u);
  const QList<QAction*> actions = tray->Items()[0]->Menu().actions();
  ASSERT_EQ(actions.size(), 5);
  EXPECT_EQ(actions[0]->text(), "Show/Hide Download Window");
  actions[0]->trigger();
  EXPECT_FALSE(window->isVisible());
  actions[0]->trigger();
  EXPECT_TRUE(window->isVisible());
  tray->Items()[0]->ShowInfoForm();
  EXPECT_TRUE(tray->Items()[0]->InfoFormShown());

  // "Schedule" stops the download; the icon goes at the next tick, after
  // the downloader itself was freed.
  EXPECT_EQ(actions[3]->text(), "Schedule");
  actions[3]->trigger();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return system.ActiveList().empty() && system.FormsCount() == 0; }));
  EXPECT_EQ(system.DownloadList().Get(0)->Status(), TDownloadState::Scheduled);
  tray->OnUpdateTimer();
  EXPECT_TRUE(tray->Items().empty());

  WriteBool(kOptionsSection, "ShowSystemTrayIcons", false);
  form->OpenConfiguration(0);
  form->Configuration()->accept();
  EXPECT_EQ(form->TrayProgress(), nullptr);
}

TEST_F(FormMainTest, WithoutATrayClosingMinimizesInsteadOfHiding) {
  WriteBool(kOptionsSection, "MinimizeToTray", true);
  auto form = NewForm(/*trayAvailable=*/false);
  form->show();
  form->close();
  QApplication::processEvents();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->windowState() & Qt::WindowMinimized);
  EXPECT_EQ(terminated_, 0);
}

TEST_F(FormMainTest, DropsAndHandOversAddOnlyDownloadAddresses) {
  test::FaultHttpServer server(loop_);
  server.AddFile("/a.bin", "hello");
  auto form = NewForm();
  const auto drop = [&](const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &event);
  };
  drop({QUrl("ftp://127.0.0.1/pub/")});
  IgnoreLink(server.Url("/ignored.bin"));
  drop({QUrl(QString::fromStdString(server.Url("/ignored.bin")))});
  EXPECT_EQ(form->CheckInstances(THandOverRequest::PlainText("mailto:someone@example.org")), 1);
  EXPECT_EQ(Answer(*form, QMessageBox::Ok), RefusedAddressText("mailto:someone@example.org"));
  drop({QUrl(QString::fromStdString(server.Url("/a.bin")))});
  ASSERT_TRUE(test::RunUntil(loop_, [&] {
    const TLDIList& list = form->DownloadSystem().DownloadList();
    return list.Count() >= 1 && list.Get(0)->Status() == TDownloadState::Done;
  }));
  EXPECT_EQ(form->DownloadSystem().DownloadList().Count(), 1);
  EXPECT_EQ(test::ReadWholeFile(temp_.File("downloads/a.bin")), "hello");
}

TEST_F(FormMainTest, ASecondProgramHandsItsAddressToTheRunningWindow) {
  test::FaultHttpServer server(loop_);
  server.AddFile("/handed.bin", "data");
  auto form = NewForm();
  TInstanceLock lock(ConfigDirectory());
  ASSERT_EQ(lock.Acquire(), TInstanceLock::TResult::Acquired);
  THandOverServer channel(&loop_);
  channel.OnHandOver = [&](const THandOverRequest& request) { return form->CheckInstances(request); };
  ASSERT_TRUE(channel.Listen(lock));

  const std::string program = std::string(BRINDLE_BINARY_DIR) + "/src/app/brindle";
  const std::string url = server.Url("/handed.bin");
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(url.c_str()), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0);
  int status = -1;
  const bool ended = test::RunUntil(loop_, [&] { return waitpid(child, &status, WNOHANG) == child; });
  if (!ended) kill(child, SIGKILL);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return form->DownloadSystem().DownloadList().Count() == 1; }));
  EXPECT_EQ(form->DownloadSystem().DownloadList().Get(0)->Url->Url, url);
}

// That a pause runs no action is the download system's test.
TEST_F(FormMainTest, TheLastCompletionWithSwitchOffShowsACancellableCountdown) {
  test::FaultHttpServer server(loop_);
  auto form = NewForm();
  WriteBool(kOptionsSection, "ShutDownComputerAfterDownloading", true);
  server.AddFile("/small.bin", "tiny");
  ASSERT_TRUE(form->AddDownloadFromUrl(server.Url("/small.bin"), true));
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return form->Countdown() != nullptr; }));
  EXPECT_NE(form->Countdown()->text().indexOf("30 seconds"), -1);
  form->Countdown()->button(QMessageBox::Cancel)->click();
  QApplication::processEvents();
  EXPECT_EQ(form->Countdown(), nullptr);
  EXPECT_EQ(terminated_, 0);
}

TEST_F(FormMainTest, StartsFromATidiedProfileWithTheThemesColoursAndKeepsTheSelectionAcrossASort) {
  WriteInteger(kOptionsSection, "ColorTheme", 2);
  WriteInteger(kOptionsSection, "Custom_Color_Done", 0x00FF00);
  const std::string partial = DefaultPartialDownloadsDirectory();
  EnsureDirectory(partial);
  const auto record = [&](const char* stem, const char* name, const TDownloadStatus& status) {
    TLocalDownloadinfo r(nullptr, partial + "/" + stem, nullptr);
    r.LocalFileName = temp_.File(name);
    r.SetStatus(status);
    r.FileSize = 1000;
    EXPECT_TRUE(r.Save());
    return partial + "/" + stem;
  };
  // What the clean-up keeps and drops is the manager test's, each colour
  // group the table's; here that the window runs the one and shows the other.
  test::WriteWholeFile(record("AAAAAAA1", "running.iso", TDownloadState::Downloading) + ".0", "part");
  record("AAAAAAA2", "noparts.iso", TDownloadState::Downloading);
  test::WriteWholeFile(temp_.File("done.iso"), "done");
  record("AAAAAAA3", "done.iso", TDownloadState::Done);
  record("AAAAAAA6", "other.iso", TDownloadStatus::Failure("Something else"));
  test::WriteWholeFile(partial + "/ZZZZZZZ9.0", "stray");

  auto form = NewForm();
  TDownloadTableModel& model = form->TableModel();
  std::map<std::string, std::pair<std::string, QColor>> rows;
  for (int row = 0; row < model.rowCount(); ++row)
    rows[model.data(model.index(row, kColumnFileName), Qt::DisplayRole).toString().toStdString()] = {
        model.data(model.index(row, kColumnStatus), Qt::DisplayRole).toString().toStdString(),
        model.data(model.index(row, kColumnFileName), Qt::ForegroundRole).value<QColor>()};
  const std::map<std::string, std::pair<std::string, QColor>> expected = {
      {"running.iso", {"Paused", QColor(0x80, 0x80, 0)}},
      {"done.iso", {"Done", QColor(0, 0xFF, 0)}},
      {"other.iso", {"Something else", QColor(0, 0, 0)}}};
  EXPECT_EQ(rows, expected);
  EXPECT_FALSE(test::FileExists(partial + "/ZZZZZZZ9.0"));

  auto* grid = form->findChild<QTableView*>("StringGrid_Downloads");
  grid->selectRow(2);
  const std::string selected = model.data(model.index(2, 0), Qt::DisplayRole).toString().toStdString();
  ASSERT_EQ(form->TableModel().List().GetSelectedFromStringGrid().Count(), 1);
  grid->sortByColumn(kColumnFileName, Qt::DescendingOrder);
  const QModelIndexList after = grid->selectionModel()->selectedRows();
  ASSERT_EQ(after.size(), 1);
  EXPECT_EQ(model.data(model.index(after[0].row(), 0), Qt::DisplayRole).toString().toStdString(), selected);
  EXPECT_NE(after[0].row(), 2);
}

TEST_F(FormMainTest, TheStatusBarSwitchLetsTheSchedulerStartTheList) {
  test::FaultHttpServer server(loop_);
  server.AddFile("/night.bin", std::string(400000, 'n'));
  server.StallFilesAt(1000);
  const std::string partial = DefaultPartialDownloadsDirectory();
  EnsureDirectory(partial);
  {
    TLocalDownloadinfo record(std::make_unique<TUrl>(server.Url("/night.bin")), partial + "/SCHEDUL1", nullptr);
    record.LocalFileName = temp_.File("downloads/night.bin");
    record.SetStatus(TDownloadState::Scheduled);
    ASSERT_TRUE(record.Save());
  }
  // A window open all day, every day; switched off for now.
  WriteDateTime(kOptionsSection, "StartTime", 0);
  WriteDateTime(kOptionsSection, "EndTime", 0.9999);
  WriteDateTime(kOptionsSection, "ScheduledRecurrence_StartTime", 0);
  for (const char* day : {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"})
    WriteBool(kOptionsSection, std::string("ScheduledWeekly_") + day, true);
  auto form = NewForm();
  EXPECT_TRUE(form->Scheduler().Disabled());
  TLocalDownloadinfo* record = form->DownloadSystem().DownloadList().Get(0);
  EXPECT_EQ(record->Status(), TDownloadState::Scheduled);

  // Switched on, the open window starts the scheduled download at once; when
  // a window closes or opens again is the scheduler's own test.
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(form->findChild<QLabel*>("StatusBar_Panel1"), &press);
  EXPECT_TRUE(form->Scheduler().Running());
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return record->Status() == TDownloadState::Downloading; }));
  EXPECT_EQ(Panel(*form, 1), "Scheduler Enabled");
  EXPECT_TRUE(ReadBool(kOptionsSection, "UseSchedule", false));
}

TEST_F(FormMainTest, TheVersionCheckAnswersInTheStatusBarAndOnlyWithAnAddress) {
  test::FaultHttpServer server(loop_);
  server.AddFile("/brindle_ver.txt", "1.22#x#y#");
  WriteInteger(kOptionsSection, "LastCheckedForUpdate", 0);
  auto form = NewForm();  // due, but there is no update address
  EXPECT_FALSE(form->VersionChecker().Checking());
  EXPECT_EQ(ReadInteger(kOptionsSection, "LastCheckedForUpdate", 0), static_cast<int>(std::lround(Now())));
  EXPECT_TRUE(server.Requests().empty());

  WriteString(kOptionsSection, "UpdateURL", server.Url("/brindle_ver.txt"));
  auto* check = form->findChild<QAction*>("CheckforNewVersion1");
  ASSERT_NE(check, nullptr);
  ASSERT_TRUE(check->isEnabled());
  check->trigger();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return Panel(*form, 0) == TVersionChecker::kLatestVersionText; }));

  // A newer version asks through the window's message box.
  server.AddFile("/brindle_ver.txt", "1.30#" + server.Url("/new.bin") + "#Faster#");
  check->trigger();
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return form->findChild<QMessageBox*>("MessageDialog") != nullptr; }));
  EXPECT_NE(Answer(*form, QMessageBox::No).find("Version 1.30 of Brindle has been released."), std::string::npos);
  EXPECT_EQ(form->DownloadSystem().DownloadList().Count(), 0);
}

TEST_F(FormMainTest, DebugModeShowsTheEnginesTraceOnlyWhenAskedFor) {
  auto form = NewForm();
  form->show();
  auto* debug = Find<QCheckBox>(*form, "CheckBox_DebugMode");
  EXPECT_FALSE(debug->isVisible());
  form->ShowDebugMode();
  EXPECT_TRUE(debug->isVisible());
  // Which lines arrive when, from which thread, is the trace's own test.
  debug->setChecked(true);
  ASSERT_NE(form->DebugWindow(), nullptr);
  EXPECT_TRUE(form->DebugWindow()->isVisible());
  Trace("Ftp Connected");
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return !form->DebugWindow()->Memo()->toPlainText().isEmpty(); }));
  EXPECT_EQ(form->DebugWindow()->Memo()->toPlainText(), "Ftp Connected");
  debug->setChecked(false);
  EXPECT_FALSE(form->DebugWindow()->isVisible());
}

// The clipboard monitor reads Qt's clipboard once a second by the loop's clock.
class FormMainClipboardTest : public FormMainTest {
 protected:
  void SetUp() override {
    FormMainTest::SetUp();
    clock_.Attach(manualLoop_);
  }
  void TearDown() override {
    clock_.Detach();
    FormMainTest::TearDown();
  }
  test::ManualClock clock_;
  EventLoop manualLoop_{clock_};
};

TEST_F(FormMainClipboardTest, ACopiedAddressOfAMonitoredFileBecomesARow) {
  test::FaultHttpServer server(manualLoop_);
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("before");
  TForm_Main form(manualLoop_, std::make_unique<test::FakeTray>(), {});
  EXPECT_TRUE(form.ClipboardMonitor().Enabled());
  clipboard->setText(QString::fromStdString(server.Url("/tools.tar.gz")));
  clock_.Advance(TMonitorClipboard::kCheckIntervalMs);
  ASSERT_EQ(form.DownloadSystem().DownloadList().Count(), 1);
  EXPECT_EQ(form.TableModel().data(form.TableModel().index(0, kColumnFileName), Qt::DisplayRole).toString(),
            "tools.tar.gz");

  WriteBool(kOptionsSection, "MonitorClipboard", false);
  TForm_Main off(manualLoop_, std::make_unique<test::FakeTray>(), {});
  EXPECT_FALSE(off.ClipboardMonitor().Enabled());
  clipboard->clear();
}

// The window's own wiring of the notifications: ends while it is away are
// told (gathered), a click brings it back, and looking at it begins anew.
TEST_F(FormMainTest, EndsWhileAwayAreNotifiedAndLookingAtTheWindowBeginsANewNotification) {
  auto port = std::make_unique<test::FakeNotifications>();
  test::FakeNotifications* service = port.get();
  TForm_Main form(loop_, std::make_unique<test::FakeTray>(false), {}, std::move(port));
  TLocalDownloadinfo record(std::make_unique<TUrl>("http://h/a.zip"), "", nullptr);
  record.LocalFileName = temp_.File("downloads/a.zip");
  record.SetStatus(TDownloadState::Done);
  form.DownloadSystem().OnDownloadDone(record);
  form.DownloadSystem().OnDownloadDone(record);
  ASSERT_EQ(service->sent.size(), 2u);
  EXPECT_EQ(service->sent[1].Replaces, 1u);

  service->OnAction(1, TNotificationPort::kDefaultAction);
  EXPECT_TRUE(form.isVisible());
  form.activateWindow();
  ASSERT_TRUE(test::RunUntil(loop_, [&] {
    QApplication::processEvents();
    return form.isActiveWindow();
  }));
  form.DownloadSystem().OnDownloadDone(record);  // in front of the user: not told
  EXPECT_EQ(service->sent.size(), 2u);
  form.showMinimized();
  QApplication::processEvents();
  form.DownloadSystem().OnDownloadDone(record);
  ASSERT_EQ(service->sent.size(), 3u);
  EXPECT_EQ(service->sent[2].Replaces, 0u);
}

// Idle means the loop's descriptor is not readable, so Qt's poll sleeps: a
// timer an hour away must not wake the bridge.
TEST_F(FormMainTest, BridgeRunsDueTimersAndPostedWorkAndSleepsWhenIdle) {
  TEventLoopBridge bridge(loop_);
  bool timerRan = false, postRan = false;
  loop_.CallLater(0, [&] { timerRan = true; }, "test due-now timer");
  loop_.CallLater(3'600'000, [] {}, "test idle timer");
  loop_.Post([&] { postRan = true; });
  pollfd watch{loop_.PollFd(), POLLIN, 0};
  for (int i = 0; i < 10 && !(timerRan && postRan); ++i) {
    ASSERT_EQ(poll(&watch, 1, 5000), 1);
    QCoreApplication::processEvents();
  }
  EXPECT_TRUE(timerRan);
  EXPECT_TRUE(postRan);
  EXPECT_EQ(poll(&watch, 1, 0), 0);
  const int before = bridge.WakeUps();
  QCoreApplication::processEvents();
  EXPECT_EQ(bridge.WakeUps(), before);
}

}  // namespace
}  // namespace brindle
