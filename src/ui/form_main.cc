#include "ui/form_main.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "core/date_time.h"
#include "core/file_names.h"
#include "core/event_loop.h"
#include "core/launcher_port.h"
#include "core/log_error.h"
#include "core/prompt_port.h"
#include "core/settings_schema.h"
#include "core/download_status.h"
#include "core/url.h"
#include "core/version.h"
#include "engine/downloader.h"
#include "integration/browser_integration.h"
#include "integration/debug_trace.h"
#include "integration/hang_up_timer.h"
#include "integration/monitor_clipboard.h"
#include "integration/scheduled_downloads.h"
#include "integration/scheduler.h"
#include "integration/version_checker.h"
#include "manager/accepted_url.h"
#include "manager/category_editor.h"
#include "manager/category_list.h"
#include "manager/category_tree.h"
#include "manager/download_list_model.h"
#include "manager/download_services.h"
#include "manager/download_system.h"
#include "manager/properties_model.h"
#include "manager/server_stats.h"
#include "manager/list_commands.h"
#include "manager/local_download_info.h"
#include "manager/modem_connection.h"
#include "manager/status_bar_totals.h"
#include "manager/status_colors.h"
#include "manager/url_history.h"
#include "platform/hand_over_request.h"
#include "platform/program_layout.h"
#include "ui/debug_form.h"
#include "ui/download_notifier.h"
#include "ui/download_table_model.h"
#include "ui/dropped_links.h"
#include "ui/form_add_url.h"
#include "ui/form_categories.h"
#include "ui/form_configuration.h"
#include "ui/form_hang_up_on.h"
#include "ui/form_properties.h"
#include "ui/form_viewer.h"
#include "ui/glyphs.h"
#include "ui/guarded.h"
#include "ui/progress_delegate.h"
#include "ui/qt_clipboard.h"
#include "ui/qt_prompt.h"
#include "ui/qt_tray.h"
#include "ui/qt_window_factory.h"
#include "ui/speed_limit_menu.h"
#include "ui/system_tray_progress.h"
#include "ui/tray_port.h"
#include "ui/window_bounds.h"

namespace brindle {
namespace {

// "Brindle <version>": the title of the window, its messages and mails.
QString Caption() { return QString("Brindle ") + BrindleVersion(); }

constexpr std::array<int, 5> kPanelWidths = {0, 130, 80, 60, 50};

// The category tree tracks the mouse: the node under it is underlined, so
// a single click is seen to choose it.
class HotTrackDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (option->state & QStyle::State_MouseOver) option->font.setUnderline(true);
  }
};

}  // namespace

TForm_Main::TForm_Main(EventLoop& loop, std::unique_ptr<TTrayPort> tray, std::vector<std::string> commandLineUrls,
                       std::unique_ptr<TNotificationPort> notifications, QWidget* parent)
    : QMainWindow(parent), loop_(loop), tray_(std::move(tray)), commandLineUrls_(std::move(commandLineUrls)) {
  setObjectName("Form_Main");
  setWindowTitle(Caption());
  setWindowIcon(ProgramIcon());
  setMinimumSize(400, 200);
  setAcceptDrops(true);
  prompt_ = std::make_unique<TQtPrompt>(this);
  SetPrompt(prompt_.get());

  SetWindowBounds(*this, LoadPosition(kPositionSection));

  UpdateBrowserIntegrationSettings(true);
  Write(setting::AfterDownloadsCompleted, false);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  BuildToolbar(central);
  layout->addWidget(panelSpeedButtons_);
  splitter_ = new QSplitter(Qt::Horizontal, central);
  splitter_->setObjectName("Splitter1");
  splitter_->setChildrenCollapsible(true);
  tree_ = new QTreeWidget(splitter_);
  tree_->setObjectName("TreeView_Categories");
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setIndentation(14);
  tree_->setMouseTracking(true);
  tree_->viewport()->setAttribute(Qt::WA_Hover);
  tree_->setItemDelegate(new HotTrackDelegate(tree_));
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_ = new QTableView(splitter_);
  grid_->setObjectName("StringGrid_Downloads");
  splitter_->addWidget(tree_);
  splitter_->addWidget(grid_);
  splitter_->setStretchFactor(1, 1);
  layout->addWidget(splitter_, 1);
  setCentralWidget(central);
  connect(splitter_, &QSplitter::splitterMoved, this, [this] { SplitterMoved(); });

  BuildMenus();
  BuildStatusBar();

  // The list, in the order of the start-up: colours, the directory tidied,
  // then the download system loading the records into it.
  list_ = std::make_unique<TDownloadListModel>();
  list_->SetDrawProgressBars(Read(setting::DrawProgressBars));
  tableModel_ = new TDownloadTableModel(*list_, this);
  delegate_ = new TProgressDelegate(*tableModel_, this);
  grid_->setModel(tableModel_);
  grid_->setItemDelegate(delegate_);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid_->setWordWrap(false);
  grid_->setTextElideMode(Qt::ElideRight);
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setMinimumSectionSize(kRowHeight);
  grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid_->horizontalHeader()->setSectionsMovable(true);
  grid_->horizontalHeader()->setHighlightSections(false);
  grid_->horizontalHeader()->setStretchLastSection(false);
  grid_->horizontalHeader()->setMinimumSectionSize(8);
  grid_->setMouseTracking(true);
  grid_->installEventFilter(this);
  grid_->viewport()->installEventFilter(this);
  // The view shows exactly the rows the list commands act on, whether the
  // rows were read again or the commands chose them.
  tableModel_->OnReset = [this] { SyncSelectionToView(); };
  list_->OnSelectionChanged = [this] { SyncSelectionToView(); };
  connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { SyncSelectionFromView(); });
  LoadColorSettingsFromRegistry();
  windows_ = std::make_unique<TQtWindowFactory>();
  services_ = std::make_unique<TDownloadServices>(TDownloadServices::TFrontEnd{
      .Model = list_.get(), .Windows = windows_.get(), .Loop = &loop_, .TidyPartialDownloads = true});
  hangUpTimer_ = std::make_unique<THangUpTimer>(services_->Modem(), &loop_);
  notifier_ = std::make_unique<TDownloadNotifier>(std::move(notifications), tray_.get(),
                                                  [this] { return !isVisible() || isMinimized(); });
  notifier_->OnShowWindow = [this] {
    if (!isVisible() || isMinimized()) return ToggleMainWindow();
    raise();
    activateWindow();
  };
  DownloadSystem().OnDownloadDone = [this](TLocalDownloadinfo& record) { notifier_->DownloadDone(record); };
  DownloadSystem().OnDownloadFailed = [this](TLocalDownloadinfo& record) { notifier_->DownloadFailed(record); };
  services_->AfterDownloads().OnAnnounce = [this](TAfterDownloadsActions::TAction action,
                                                  std::function<void()> proceed) {
    AnnounceAfterDownloads(action, std::move(proceed));
  };
  services_->AfterDownloads().OnCloseApplication = [this] { QTimer::singleShot(0, this, [this] { Terminate(); }); };
  windows_->FileInfoServices = [this] { return FileInfoWindowServices(); };
  windows_->OnProperties = [this](TDownloader& downloader) {
    const TLDIList& records = DownloadSystem().DownloadList();
    for (int i = 0; i < records.Count(); ++i)
      if (records.Get(i) == &downloader.LDI())
        ShowProperties(std::make_shared<TPropertiesModel>(DownloadSystem(), *records.Get(i)));
  };
  // The clipboard as it is now counts as seen: an address copied before the
  // start is not taken.
  clipboardMonitor_ = std::make_unique<TMonitorClipboard>(DownloadSystem(), QtClipboardText(), &loop_);
  if (Read(setting::MonitorClipboard)) clipboardMonitor_->Enable();
  versionChecker_ = std::make_unique<TVersionChecker>(DownloadSystem(), &loop_);
  versionChecker_->OnStatusText = [this](const std::string& text) { SetStatusText(text); };
  versionChecker_->CheckIfDue(Now());
  LoadStringGridsConfiguration();
  commands_ = std::make_unique<TListCommands>(DownloadSystem(), *list_, this);
  BuildListContextMenu();
  LoadPanelCategories();
  categoryTree_ = std::make_unique<TCategoryTree>();
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { TreeSelectionChanged(); });
  categoryTree_->LoadChoosenCategory();
  PopulateTreeView();
  PopulateStringGrid(false);

  BuildTray();
  ApplyTrayProgress();
  UpdateStatusBar();
  UpdateSpeedAndTimeLeft();
  scheduledDownloads_ = std::make_unique<TScheduledDownloads>(DownloadSystem());
  scheduler_ = std::make_unique<TScheduler>(&loop_);
  scheduler_->OnSchedulerTime = [this] { DoOnSchedulerTime(); };
  scheduler_->OnSchedulerTimeOut = [this] { DoOnSchedulerTimeOut(); };
  LoadSchedulerSettingsFromRegistry();

  timerAddCommandLineUrls_.setObjectName("Timer_AddCommandLineUrls");
  timerAddCommandLineUrls_.setSingleShot(true);
  timerAddCommandLineUrls_.setInterval(250);
  connect(&timerAddCommandLineUrls_, &QTimer::timeout, this, [this] {
    Guarded("TForm_Main.Timer_AddCommandLineUrlsTimer", [this] {
      for (const std::string& url : commandLineUrls_)
        if (!AddDownloadFromUrl(url, false)) Prompt().Message(Caption().toStdString(), RefusedAddressText(url), {});
    });
  });
  timerAddCommandLineUrls_.start();
  timerUpdateStatusBar_.setObjectName("Timer_UpdateStatusBar");
  timerUpdateStatusBar_.setInterval(200);
  connect(&timerUpdateStatusBar_, &QTimer::timeout, this, [this] { UpdateSpeedAndTimeLeft(); });
  timerUpdateStatusBar_.start();
  timerRefreshProperties_.setObjectName("Timer_RefreshProperties");
  timerRefreshProperties_.setInterval(50);
  connect(&timerRefreshProperties_, &QTimer::timeout, this, [this] {
    Guarded("TForm_Main.Timer_RefreshPropertiesTimer", [this] {
      if (properties_ && properties_->isVisible()) properties_->Refresh();
    });
  });
  timerRefreshProperties_.start();
  countdownTimer_.setInterval(1000);
  connect(&countdownTimer_, &QTimer::timeout, this, [this] {
    Guarded("TForm_Main.CountdownTimer", [this] {
      if (--countdownLeft_ > 0) {
        if (countdown_) countdown_->setText(countdownText_.arg(countdownLeft_));
        return;
      }
      countdownTimer_.stop();
      auto proceed = std::move(countdownProceed_);
      countdownProceed_ = nullptr;
      if (countdown_) countdown_->done(QMessageBox::Ok);
      if (proceed) proceed();
    });
  });
  grid_->setFocus();
}

TDownloadSystem& TForm_Main::DownloadSystem() const { return services_->System(); }

TForm_Main::~TForm_Main() {
  grid_->removeEventFilter(this);
  grid_->viewport()->removeEventFilter(this);
  panels_[1]->removeEventFilter(this);
  for (QToolButton* b : panelSpeedButtons_->findChildren<QToolButton*>()) b->removeEventFilter(this);
  countdownTimer_.stop();
  if (countdown_) delete countdown_.data();
  if (dropBox_) {
    dropBox_->OnClosed = nullptr;
    delete dropBox_.data();
  }
  grid_->setItemDelegate(nullptr);
  list_->OnSelectionChanged = nullptr;
  grid_->setModel(nullptr);
  scheduler_.reset();
  clipboardMonitor_.reset();
  versionChecker_.reset();
  scheduledDownloads_.reset();
  if (properties_) delete properties_.data();
  delete categoriesForm_;
  categoriesForm_ = nullptr;
  categoryEditor_.reset();
  commands_.reset();
  hangUpTimer_.reset();
  debugTrace_.reset();
  services_.reset();
  // The table model unhooks itself from the list model, which goes with the
  // members, before the widgets go.
  delete delegate_;
  delete tableModel_;
  if (&Prompt() == prompt_.get()) SetPrompt(nullptr);
}

QToolButton* TForm_Main::MakeButton(QWidget* parent, const char* name, const QString& text, const QIcon& icon,
                                    const char* hint) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(text);
  button->setIcon(icon);
  button->setAutoRaise(true);
  button->setToolTip(QString::fromUtf8(hint));
  button->setProperty("hint", QString::fromUtf8(hint));
  button->installEventFilter(this);
  return button;
}

void TForm_Main::BuildToolbar(QWidget* parent) {
  panelSpeedButtons_ = new QWidget(parent);
  panelSpeedButtons_->setObjectName("Panel_SpeedButtons");
  auto* row = new QHBoxLayout(panelSpeedButtons_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  panelResizeButtons_ = new QWidget(panelSpeedButtons_);
  panelResizeButtons_->setObjectName("Panel_ResizeButtons");
  row->addWidget(panelResizeButtons_);
  buttonUp_ = MakeButton(panelResizeButtons_, "SpeedButton_Up", "", ArrowGlyph(Qt::UpArrow), "Show small buttons");
  buttonDown_ = MakeButton(panelResizeButtons_, "SpeedButton_Down", "", ArrowGlyph(Qt::DownArrow),
                           "Show large buttons with text");
  buttonLeft_ = MakeButton(panelResizeButtons_, "SpeedButton_Left", "", ArrowGlyph(Qt::LeftArrow),
                           "Hide Categories List");
  buttonRight_ = MakeButton(panelResizeButtons_, "SpeedButton_Right", "", ArrowGlyph(Qt::RightArrow),
                            "Show Categories List");
  for (QToolButton* b : {buttonUp_, buttonDown_, buttonLeft_, buttonRight_}) {
    b->setFixedSize(16, 15);
    b->setIconSize(QSize(8, 8));
  }
  connect(buttonUp_, &QToolButton::clicked, this, [this] {
    Write(setting::LargeButtons, false);
    ApplyToolbarSize();
  });
  connect(buttonDown_, &QToolButton::clicked, this, [this] {
    Write(setting::LargeButtons, true);
    ApplyToolbarSize();
  });
  connect(buttonLeft_, &QToolButton::clicked, this, [this] {
    Write(setting::ShowCategories, false);
    LoadPanelCategories();
  });
  connect(buttonRight_, &QToolButton::clicked, this, [this] {
    Write(setting::ShowCategories, true);
    LoadPanelCategories();
  });

  struct TButton {
    const char* Name;
    const char* SmallName;
    const char* Caption;
    const char* Theme;
    QStyle::StandardPixmap Fallback;
    const char* Hint;
  };
  static const TButton kButtons[7] = {
      {"SpeedButton_Add", "SpeedButton_SmallAdd", "Add", "list-add", QStyle::SP_FileDialogNewFolder,
       "Add a new URL to download"},
      {"SpeedButton_Delete", "SpeedButton_SmallDelete", "Delete", "edit-delete", QStyle::SP_TrashIcon,
       "Delete all selected files from list (not from disk!)"},
      {"SpeedButton_Pause", "SpeedButton_SmallPause", "Pause", "media-playback-pause", QStyle::SP_MediaPause,
       "Pause all selected downloads"},
      {"SpeedButton_Resume", "SpeedButton_SmallResume", "Resume", "media-playback-start", QStyle::SP_MediaPlay,
       "Resume all selected downloads"},
      {"SpeedButton_Scheduler", "SpeedButton_SmallScheduler", "Scheduler", "x-office-calendar",
       QStyle::SP_FileDialogDetailedView, "Change scheduler settings"},
      {"SpeedButton_HangUp", "SpeedButton_SmallHangUp", "Hang Up...", "network-offline", QStyle::SP_BrowserStop,
       "Hang up on specific event (for modem users only)"},
      {"SpeedButton_Config", "SpeedButton_SmallConfig", "Config.", "preferences-system", QStyle::SP_ComputerIcon,
       "Change program settings"},
  };
  for (int i = 0; i < 7; ++i) {
    const TButton& spec = kButtons[i];
    const QIcon icon = ThemeGlyph(spec.Theme, spec.Fallback);
    QToolButton* large = MakeButton(panelSpeedButtons_, spec.Name, spec.Caption, icon, spec.Hint);
    large->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    large->setIconSize(QSize(24, 24));
    large->setFixedHeight(60);
    large->setMinimumWidth(60);
    QToolButton* small = MakeButton(panelSpeedButtons_, spec.SmallName, "", icon, spec.Hint);
    small->setToolButtonStyle(Qt::ToolButtonIconOnly);
    small->setIconSize(QSize(14, 14));
    small->setFixedSize(18, 17);
    largeButtons_[i] = large;
    smallButtons_[i] = small;
  }
  for (int i = 0; i < 7; ++i) row->addWidget(largeButtons_[i]);
  for (int i = 0; i < 7; ++i) row->addWidget(smallButtons_[i]);
  row->addStretch(1);
  checkDebugMode_ = new QCheckBox("Debug Mode", panelSpeedButtons_);
  checkDebugMode_->setObjectName("CheckBox_DebugMode");
  checkDebugMode_->hide();
  row->addWidget(checkDebugMode_);
  connect(checkDebugMode_, &QCheckBox::toggled, this, [this](bool on) {
    Guarded("TForm_Main.CheckBox_DebugModeClick", [this, on] {
      if (!debugTrace_) {
        debugTrace_ = std::make_unique<TDebugTrace>(&loop_);
        debugForm_ = new TDebugForm(this);
        debugTrace_->OnLine = [this](const std::string& line) { debugForm_->AddLine(QString::fromStdString(line)); };
      }
      debugTrace_->SetEnabled(on);
      debugForm_->setVisible(on);
    });
  });
  const std::array<std::function<void()>, 7> commands = {
      [this] { AskAddUrl(); },
      [this] { commands_->Delete(); },
      [this] { commands_->Pause(); },
      [this] { commands_->Resume(); },
      [this] { OpenConfiguration(TForm_Configuration::kSchedulerPage); },
      [this] { OpenHangUp(); },
      [this] { OpenConfiguration(0); }};
  for (int i = 0; i < 7; ++i) {
    for (QToolButton* b : {largeButtons_[i], smallButtons_[i]})
      connect(b, &QToolButton::clicked, this, [command = commands[i]] { Guarded("TForm_Main.SpeedButton", command); });
  }
  ApplyToolbarSize();
}

void TForm_Main::ApplyToolbarSize() {
  const bool large = Read(setting::LargeButtons);
  for (int i = 0; i < 7; ++i) {
    largeButtons_[i]->setVisible(large);
    smallButtons_[i]->setVisible(!large);
  }
  buttonUp_->setVisible(large);
  buttonDown_->setVisible(!large);
  if (large) {
    panelSpeedButtons_->setFixedHeight(60);
    panelResizeButtons_->setFixedSize(16, 60);
    buttonUp_->move(0, 30);
    buttonDown_->move(0, 30);
    buttonLeft_->move(0, 45);
    buttonRight_->move(0, 45);
  } else {
    panelSpeedButtons_->setFixedHeight(17);
    panelResizeButtons_->setFixedSize(32, 17);
    buttonUp_->move(0, 0);
    buttonDown_->move(0, 0);
    buttonLeft_->move(16, 0);
    buttonRight_->move(16, 0);
  }
}

void TForm_Main::LoadPanelCategories() {
  const bool show = Read(setting::ShowCategories);
  const int width = Read(setting::CategoriesPanelWidth);
  buttonLeft_->setVisible(show);
  buttonRight_->setVisible(!show);
  const int total = std::max(splitter_->width(), width + 200);
  splitter_->setSizes({show ? width : 0, total - (show ? width : 0)});
}

void TForm_Main::SplitterMoved() {
  Guarded("TForm_Main.Splitter1Moved", [this] {
    const int width = splitter_->sizes().value(0);
    if (width < 1) {
      Write(setting::ShowCategories, false);
    } else {
      Write(setting::ShowCategories, true);
      Write(setting::CategoriesPanelWidth, width);
    }
    buttonLeft_->setVisible(width >= 1);
    buttonRight_->setVisible(width < 1);
  });
}

void TForm_Main::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  const auto add = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& shortcut,
                          std::function<void()> command) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    if (command) {
      connect(action, &QAction::triggered, this, [command] { Guarded("TForm_Main.MenuItem", command); });
    } else {
      action->setEnabled(false);
    }
    return action;
  };
  QMenu* file = bar->addMenu("&File");
  file->setObjectName("File1");
  add(file, "ViewServerStatistics1", "&View Server Statistics", QKeySequence("Ctrl+Alt+S"),
      [this] { services_->ServerStats().ShowStatistics(); });
  add(file, "ClearStatistics1", "&Clear Statistics", {}, [this] {
    Prompt().Ask(Caption().toStdString(),
                 "Statistics is useful for determining which mirror sites to download from. Are you sure that you "
                 "want to clear statistics?",
                 [this](bool yes) {
                   if (yes) services_->ServerStats().Clear();
                 });
  });
  add(file, "ViewAsText1", "View &As Text", QKeySequence("F3"), [this] { commands_->ViewFile(); });
  file->addSeparator();
  add(file, "Exit1", "E&xit", {}, [this] { Exit(); });

  QMenu* downloads = bar->addMenu("&Downloads");
  downloads->setObjectName("Downloads1");
  add(downloads, "AddURL1", "&Add URL", QKeySequence("Ctrl+Alt+A"), [this] { AskAddUrl(); })
      ->setStatusTip("Add a new URL to your download list");
  add(downloads, "Delete1", "&Delete", QKeySequence("Ctrl+D"), [this] { commands_->Delete(); });
  add(downloads, "Pause1", "&Pause", QKeySequence("Ctrl+P"), [this] { commands_->Pause(); });
  add(downloads, "Resume1", "&Resume", QKeySequence("Ctrl+R"), [this] { commands_->Resume(); });
  add(downloads, "ReDownload1", "Re-Download", QKeySequence("Ctrl+O"), [this] { commands_->ReDownload(); });
  downloads->addSeparator();
  add(downloads, "DeleteAll1", "D&elete All", QKeySequence("Ctrl+Alt+D"), [this] { commands_->DeleteAll(); });
  add(downloads, "PauseAll1", "P&ause All", QKeySequence("Ctrl+Alt+P"), [this] { commands_->PauseAll(); });
  add(downloads, "ResumeAll1", "&Res&ume All", QKeySequence("Ctrl+Alt+R"), [this] { commands_->ResumeAll(); });
  add(downloads, "ClearAllDoneandErrenous1", "&Clear All Done and Errenous", QKeySequence("Ctrl+Alt+C"),
      [this] { commands_->ClearAllDoneAndErrenous(); });
  actionDownloadBasket_ = add(downloads, "DownloadBasket1", "&Download Basket", {},
                              [this] { ShowDownloadBasket(actionDownloadBasket_->isChecked()); });
  actionDownloadBasket_->setCheckable(true);

  QMenu* search = bar->addMenu("&Search");
  search->setObjectName("Search1");
  search->menuAction()->setVisible(false);
  add(search, "MusicMP31", "&Music (MP3)", {}, [this] { OpenWeb("https://search.example.org/?q=mp3"); });
  add(search, "Programs1", "&Programs", {}, [this] { OpenWeb("https://search.example.org/?q=software"); });
  add(search, "Files1", "&Files", {}, [this] { OpenWeb("https://search.example.org/?q=files"); });
  add(search, "Games1", "&Games", {}, [this] { OpenWeb("https://search.example.org/?q=games"); });

  QMenu* options = bar->addMenu("&Options");
  options->setObjectName("Options1");
  add(options, "Categories1", "C&ategories", {}, [this] { OpenCategories(); });
  add(options, "Configuration1", "&Configuration", {}, [this] { OpenConfiguration(0); });

  QMenu* help = bar->addMenu("&Help");
  help->setObjectName("Help1");
  // The manual is the README as HTML; a build or copy without it has no
  // Help item. Brindle has no web site or mail address of its own yet, so
  // the items that would need one stay hidden.
  const std::string manual = TProgramLayout::ForThisProgram().ManualFile();
  add(help, "Help2", "&Help", {}, [this, manual] { OpenWeb(manual); })->setVisible(access(manual.c_str(), R_OK) == 0);
  for (const auto& [name, text] : {std::pair{"FAQ1", "&FAQ"}, std::pair{"BugReports1", "Bug Reports"},
                                   std::pair{"Suggestions1", "Suggestions"}, std::pair{"TellaFriend1", "&Tell a Friend"}})
    add(help, name, text, {}, nullptr)->setVisible(false);
  add(help, "CheckforNewVersion1", "&Check for New Version", {}, [this] { versionChecker_->Check(); });
  help->addSeparator();
  add(help, "About1", "&About", {}, [this] { ShowAbout(); });
}

void TForm_Main::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar");
  bar->setSizeGripEnabled(true);
  static const char* const kInitial[5] = {"Help text", "Scheduler Disabled", "0kb/s", "00:00:00", ""};
  for (int i = 0; i < 5; ++i) {
    auto* panel = new QLabel(kInitial[i], bar);
    panel->setObjectName(QString("StatusBar_Panel%1").arg(i));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    if (i > 0) panel->setFixedWidth(kPanelWidths[i]);
    if (i == 1) panel->setAlignment(Qt::AlignCenter);
    if (i == 2 || i == 3) panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bar->addWidget(panel, i == 0 ? 1 : 0);
    panels_[i] = panel;
  }
  panels_[1]->installEventFilter(this);
  panels_[1]->setToolTip("Click to switch the scheduler on or off");
  panels_[2]->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(panels_[2], &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (speedLimitMenu_) speedLimitMenu_->popup(panels_[2]->mapToGlobal(at));
  });
}

void TForm_Main::BuildTray() {
  trayMenu_ = new QMenu(this);
  trayMenu_->setObjectName("PopupMenu_TrayIcon");
  const auto add = [this](const char* name, const QString& text, std::function<void()> command) {
    QAction* action = trayMenu_->addAction(text);
    action->setObjectName(name);
    if (command) {
      connect(action, &QAction::triggered, this, [command] { Guarded("TForm_Main.TrayMenu", command); });
    } else {
      action->setEnabled(false);
    }
    return action;
  };
  add("MainWindow1", "&Main Window", [this] { ToggleMainWindow(); });
  add("AddURL2", "&Add URL", [this] { AskAddUrl(); });
  add("ViewLog1", "&View Log", nullptr)->setVisible(false);
  add("Configuration2", "&Configuration", [this] { OpenConfiguration(0); });
  actionBrowserIntegration_ = add("BrowserIntegration1", "&Browser Integration", [this] {
    Write(setting::EnableBrowserIntegration, actionBrowserIntegration_->isChecked());
    UpdateBrowserIntegrationSettings();
  });
  actionBrowserIntegration_->setCheckable(true);
  // The status bar's speed panel and the tray offer the same choices.
  speedLimitMenu_ = new TSpeedLimitMenu(DownloadSystem(), this);
  auto* traySpeedLimit = new TSpeedLimitMenu(DownloadSystem(), trayMenu_);
  traySpeedLimit->setObjectName("PopupMenu_TraySpeedLimit");
  trayMenu_->addMenu(traySpeedLimit)->setObjectName("SpeedLimit1");
  trayMenu_->addSeparator();
  add("Exit2", "E&xit", [this] { Exit(); });
  connect(trayMenu_, &QMenu::aboutToShow, this, [this] {
    actionBrowserIntegration_->setChecked(Read(setting::EnableBrowserIntegration));
  });
  if (!tray_) return;
  tray_->SetMenu(trayMenu_);
  tray_->SetToolTip(Caption());
  tray_->OnActivated = [this] { Guarded("TForm_Main.TrayIconClick", [this] { ToggleMainWindow(); }); };
  UpdateBrowserIntegrationSettings(true);
  if (tray_->Available()) tray_->Show();
}

bool TForm_Main::TrayAvailable() const { return tray_ && tray_->Available(); }

QSize TForm_Main::FittingSize(const QRect& area) const {
  // Every column of the list beside the category tree, at the desktop's
  // font, as far as the screen (less a window frame) allows.
  const QHeaderView* header = grid_->horizontalHeader();
  int width = header->length() + 2 * grid_->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
              splitter_->handleWidth() + 8;
  if (Read(setting::ShowCategories)) width += Read(setting::CategoriesPanelWidth);
  constexpr int kFrame = 16;
  constexpr int kTitleAndFrame = 48;
  return {std::min(width, area.width() - kFrame),
          std::min(std::max(450, area.height() * 2 / 3), area.height() - kTitleAndFrame)};
}

void TForm_Main::ShowAtStart() {
  if (Read(setting::StartMinized)) {
    if (!TrayAvailable()) showMinimized();
    return;
  }
  TWindowPlacement placement = LoadPosition(kPositionSection);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    const QSize fitting = FittingSize(area);
    placement = LoadPosition(kPositionSection, fitting.width(), fitting.height());
    MakeSureFormIsOnScreen(placement, area.right() + 1, area.bottom() + 1);
    SetWindowBounds(*this, placement);
  }
  if (placement.Maximized) {
    showMaximized();
  } else if (placement.Minimized && !TrayAvailable()) {
    showMinimized();
  } else if (!placement.Minimized) {
    show();
  }
}

void TForm_Main::ToggleMainWindow() {
  if (isVisible() && !isMinimized()) {
    HideToTray();
    return;
  }
  if (isMinimized()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
}

void TForm_Main::HideToTray() {
  if (TrayAvailable()) {
    hide();
  } else {
    // Without a tray a hidden window could never be found again.
    showMinimized();
  }
}

int TForm_Main::CheckInstances(const THandOverRequest& request) {
  Guarded("TForm_Splash.CheckInstances", [&] {
    if (AddDownloadFromRequest(request)) return;
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
    // A second start refuses such a text itself; one that comes anyway is
    // not dropped without a word.
    if (!request.Url.empty()) Prompt().Message(Caption().toStdString(), RefusedAddressText(request.Url), {});
  });
  return 1;
}

bool TForm_Main::AddDownloadFromRequest(const THandOverRequest& request) {
  if (!request.Structured) return AddDownloadFromUrl(request.Url, false);
  const std::string address = DownloadableAddress(request.Url, false);
  if (address.empty()) return false;
  auto record = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(address),
                                                     DownloadSystem().NewTempFileName(), &services_->Categories());
  record->ProposedFileName = SafeBaseName(request.FileName);
  record->Referer = request.Referrer;
  record->Cookie = request.Cookies;
  record->Checksum = request.Checksum;
  DownloadSystem().AddDownload(std::move(record), true, request.Parts);
  return true;
}

bool TForm_Main::AddDownloadFromUrl(const std::string& url, bool dropped) {
  const std::string address = DownloadableAddress(url, dropped);
  if (address.empty()) return false;
  auto record = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(address),
                                                     DownloadSystem().NewTempFileName(), &services_->Categories());
  DownloadSystem().AddDownload(std::move(record), true);
  return true;
}

void TForm_Main::ShowDownloadBasket(bool ticked) {
  actionDownloadBasket_->setChecked(ticked);
  if (!ticked) {
    if (dropBox_) dropBox_->close();
    return;
  }
  if (!dropBox_) {
    dropBox_ = new TForm_DragAndDropBox([this](const std::string& url) { return AddDownloadFromUrl(url, true); });
    dropBox_->setAttribute(Qt::WA_DeleteOnClose);
    dropBox_->OnClosed = [this] {
      actionDownloadBasket_->setChecked(false);
      // It is deleted later; a new tick makes a new one.
      dropBox_ = nullptr;
    };
  }
  dropBox_->show();
  dropBox_->raise();
}

void TForm_Main::AskAddUrl() {
  if (findChild<TForm_AddURL*>("Form_AddURL", Qt::FindDirectChildrenOnly)) return;
  auto history = std::make_shared<TUrlHistory>();
  auto* dialog = new TForm_AddURL(*history, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  // An address on the clipboard is the likely one.
  const QString clipboard = QGuiApplication::clipboard()->text().trimmed();
  dialog->Prepare(DownloadableAddress(clipboard.toStdString(), false).empty() ? "" : clipboard.toStdString());
  connect(dialog, &QDialog::accepted, this, [this, dialog, history] {
    Guarded("TForm_AddURL.OK", [this, dialog] { commands_->Add(dialog->Url()); });
  });
  dialog->resize(496, dialog->sizeHint().height());
  dialog->open();
}

void TForm_Main::BuildListContextMenu() {
  listMenu_ = new QMenu(this);
  listMenu_->setObjectName("PopupMenu_StringGrid_Downloads");
  struct TItem {
    const char* Name;
    const char* Text;
    void (TListCommands::*Command)();
    const char* Theme;
    QStyle::StandardPixmap Fallback;
  };
  static const TItem kItems[] = {
      {"Pause2", "&Pause", &TListCommands::Pause, "media-playback-pause", QStyle::SP_MediaPause},
      {"Resume2", "&Resume", &TListCommands::Resume, "media-playback-start", QStyle::SP_MediaPlay},
      {"Schedule1", "&Schedule", &TListCommands::Schedule, "x-office-calendar", QStyle::SP_FileDialogDetailedView},
      {"Delete2", "&Delete", &TListCommands::Delete, "edit-delete", QStyle::SP_TrashIcon},
      {"ReDownload2", "Re-&Download", &TListCommands::ReDownload, "view-refresh", QStyle::SP_BrowserReload},
      {"ClearAllDoneandErrenous2", "Clear All Done and Errenous", &TListCommands::ClearAllDoneAndErrenous,
       "edit-clear", QStyle::SP_DialogResetButton},
      {"Properties1", "Pr&operties", &TListCommands::Properties, "document-properties",
       QStyle::SP_FileDialogInfoView},
  };
  for (const TItem& item : kItems) {
    QAction* action = listMenu_->addAction(ThemeGlyph(item.Theme, item.Fallback), item.Text);
    action->setObjectName(item.Name);
    if (item.Command == &TListCommands::ClearAllDoneAndErrenous) listMenu_->insertSeparator(action);
    connect(action, &QAction::triggered, this, [this, name = item.Name, command = item.Command] { RunCommand(name, command); });
  }
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    listMenu_->popup(grid_->viewport()->mapToGlobal(pos));
  });
  connect(grid_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) RunCommand("TForm_Main.StringGrid_DownloadsDblClick", &TListCommands::Open);
  });
}

void TForm_Main::RunCommand(const char* name, void (TListCommands::*command)()) {
  Guarded(name, [this, command] { (commands_.get()->*command)(); });
}

void TForm_Main::PopulateTreeView() {
  categoryTree_->PopulateTreeView(services_->Categories().CategoryNames());
  DrawTreeView();
}

void TForm_Main::AddCategoryToTreeView(const std::string& name) {
  categoryTree_->AddCategoryToTreeView(name);
  DrawTreeView();
}

void TForm_Main::DeleteCategoryFromTreeView(const std::string& catName) {
  categoryTree_->DeleteCategoryFromTreeView(catName);
  DrawTreeView();
}

void TForm_Main::ChangeCategoryInTreeView(const std::string& oldName, const std::string& newName) {
  categoryTree_->ChangeCategoryInTreeView(oldName, newName);
  DrawTreeView();
}

void TForm_Main::DrawTreeView() {
  // Images 0-7: a group, then Downloading, Paused, Scheduled, Queued, and
  // the three periods of History.
  static const std::array<std::pair<const char*, QStyle::StandardPixmap>, 8> kImages = {{
      {"folder", QStyle::SP_DirIcon},
      {"go-down", QStyle::SP_ArrowDown},
      {"media-playback-pause", QStyle::SP_MediaPause},
      {"x-office-calendar", QStyle::SP_FileDialogDetailedView},
      {"view-list-details", QStyle::SP_FileDialogListView},
      {"document-open-recent", QStyle::SP_FileDialogContentsView},
      {"document-open-recent", QStyle::SP_FileDialogContentsView},
      {"document-open-recent", QStyle::SP_FileDialogContentsView},
  }};
  drawingTree_ = true;
  tree_->clear();
  std::vector<QTreeWidgetItem*> parents;
  const std::vector<TTreeNode>& nodes = categoryTree_->Nodes();
  for (int i = 0; i < static_cast<int>(nodes.size()); ++i) {
    const TTreeNode& node = nodes[i];
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(node.Text)});
    item->setData(0, Qt::UserRole, i);
    const auto& image = kImages[std::clamp(node.ImageIndex, 0, 7)];
    item->setIcon(0, ThemeGlyph(image.first, image.second));
    parents.resize(node.Level);
    if (node.Level == 0 || parents.empty()) {
      tree_->addTopLevelItem(item);
    } else {
      parents.back()->addChild(item);
    }
    parents.push_back(item);
  }
  tree_->expandAll();
  QTreeWidgetItem* chosen = nullptr;
  for (QTreeWidgetItemIterator it(tree_); *it; ++it)
    if ((*it)->data(0, Qt::UserRole).toInt() == categoryTree_->ChoosenCategory()) chosen = *it;
  if (chosen) {
    tree_->setCurrentItem(chosen);
  } else {
    tree_->setCurrentItem(nullptr);
    tree_->clearSelection();
  }
  drawingTree_ = false;
}

void TForm_Main::TreeSelectionChanged() {
  if (drawingTree_) return;
  Guarded("TForm_Main.TreeView_CategoriesChange", [this] {
    QTreeWidgetItem* current = tree_->currentItem();
    categoryTree_->SetChoosenCategory(current ? current->data(0, Qt::UserRole).toInt() : -1);
    PopulateStringGrid(true);
  });
}

void TForm_Main::PopulateStringGrid(bool keepSelection) {
  categoryTree_->PopulateStringGrid(DownloadSystem(), *list_, keepSelection);
}

void TForm_Main::ShowProperties(std::shared_ptr<TPropertiesModel> properties) {
  if (properties_) {
    properties_->raise();
    return;
  }
  properties_ = new TForm_Properties(std::move(properties), this);
  properties_->setAttribute(Qt::WA_DeleteOnClose);
  properties_->open();
}

void TForm_Main::ViewFile(const std::string& path, const std::string& text) {
  auto* viewer = new TForm_Viewer(path, text, tableModel_->BackgroundColor(), this);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->open();
}

void TForm_Main::OpenWeb(const std::string& url) { Launcher().OpenDocument(url); }

void TForm_Main::ShowAbout() {
  QMessageBox box(this);
  box.setObjectName("Form_AboutBox");
  box.setWindowTitle("About");
  box.setIconPixmap(ProgramIcon().pixmap(64, 64));
  box.setTextFormat(Qt::RichText);
  box.setText(QString("<b>Brindle</b><br>v.%1").arg(BrindleVersion()));
  box.setInformativeText(QString("A download manager for the Linux desktop: each file in several parts at once, "
                                 "resumed where it stopped.<br><br>Thank you for using Brindle!"));
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

void TForm_Main::DoOnSchedulerTime() { scheduledDownloads_->DoOnSchedulerTime(); }

void TForm_Main::DoOnSchedulerTimeOut() { scheduledDownloads_->DoOnSchedulerTimeOut(); }

void TForm_Main::LoadSchedulerSettingsFromRegistry() { scheduler_->LoadSettings(); }

void TForm_Main::SetStatusText(const std::string& text) {
  statusString_ = text;
  UpdateStatusBar();
}

void TForm_Main::OpenConfiguration(int page) {
  if (!configuration_) {
    configuration_ = new TForm_Configuration(DownloadSystem(), services_->Modem().Entries(), this);
    configuration_->ProgramPath = TProgramLayout::ForThisProgram().DesktopProgram();
    connect(configuration_, &QDialog::accepted, this,
            [this] { Guarded("TForm_Main.ApplyConfiguration", [this] { ApplyConfiguration(); }); });
  }
  if (configuration_->isVisible()) {
    configuration_->raise();
    return;
  }
  configuration_->Prepare(page);
  configuration_->open();
}

TCategoryEditor& TForm_Main::CategoryEditor() {
  if (!categoryEditor_)
    categoryEditor_ =
        std::make_unique<TCategoryEditor>(services_->Categories(), *categoryTree_, DownloadSystem().DownloadList());
  return *categoryEditor_;
}

TFileInfoWindowServices TForm_Main::FileInfoWindowServices() {
  TFileInfoWindowServices services;
  services.Info.Categories = &services_->Categories();
  services.Info.FileNameInUse = [this](const std::string& name) { return DownloadSystem().FileNameInUse(name); };
  services.Editor = &CategoryEditor();
  services.OnCategoryAdded = [this](const std::string&) {
    DrawTreeView();
    PopulateStringGrid(true);
    if (categoriesForm_ && categoriesForm_->isVisible()) categoriesForm_->UpdateStringGridCategories();
  };
  if (!commandLineUrls_.empty()) services.CommandLineUrl = commandLineUrls_.front();
  services.EndProgram = [this] { QTimer::singleShot(0, this, [this] { Terminate(); }); };
  return services;
}

void TForm_Main::OpenCategories() {
  if (!categoriesForm_) {
    categoriesForm_ = new TForm_Categories(CategoryEditor(), services_->Categories(), this);
    categoriesForm_->OnChanged = [this] {
      DrawTreeView();
      PopulateStringGrid(true);
    };
  }
  if (categoriesForm_->isVisible()) {
    categoriesForm_->raise();
    return;
  }
  categoriesForm_->UpdateStringGridCategories();
  categoriesForm_->open();
}

void TForm_Main::OpenHangUp() {
  if (!hangUp_) hangUp_ = new TForm_HangUpOn(*hangUpTimer_, this);
  if (hangUp_->isVisible()) {
    hangUp_->raise();
    return;
  }
  hangUp_->Prepare();
  hangUp_->open();
}

void TForm_Main::ShowDebugMode() { checkDebugMode_->show(); }

void TForm_Main::ApplyConfiguration() {
  UpdateBrowserIntegrationSettings();
  if (Read(setting::MonitorClipboardAfterConfiguration)) {
    clipboardMonitor_->Enable();
  } else {
    clipboardMonitor_->Disable();
  }
  DrawGridLines(Read(setting::GridLines));
  list_->SetDrawProgressBars(Read(setting::DrawProgressBars));
  LoadColorSettingsFromRegistry();
  PopulateTreeView();
  grid_->viewport()->update();
  LoadSchedulerSettingsFromRegistry();
  ApplyTrayProgress();
  UpdateStatusBar();
}

void TForm_Main::ApplyTrayProgress() {
  if (!Read(setting::ShowSystemTrayIcons)) {
    trayProgress_.reset();
  } else if (!trayProgress_) {
    trayProgress_ = std::make_unique<TSystemTrayProgress>(DownloadSystem(), [] { return std::make_unique<TQtTray>(); });
  }
}

void TForm_Main::UpdateStatusBar() {
  panels_[0]->setText(QString::fromStdString(statusString_));
  panels_[1]->setText(Read(setting::UseSchedule) ? "Scheduler Enabled" : "Scheduler Disabled");
}

void TForm_Main::UpdateSpeedAndTimeLeft() {
  Guarded("TForm_Main.Timer_UpdateStatusBarTimer", [this] {
    std::vector<TRunningDownload> running;
    // The downloader's own record: a row hidden by the tree's filter still counts.
    for (TDownloader* downloader : DownloadSystem().ActiveList())
      running.push_back({downloader->LDI().Status(), downloader->TransferRate(), downloader->TimeLeft()});
    panels_[2]->setText(QString::fromStdString(TotalSpeedText(running)));
    const bool limited = Read(setting::SpeedLimitEnabled);
    panels_[2]->setToolTip("Speed limit: " + TSpeedLimitMenu::LimitText(limited, Read(setting::SpeedLimit)) +
                           " (right click to change)");
    panels_[3]->setText(QString::fromStdString(TotalTimeLeft(running)));
  });
}

void TForm_Main::SchedulerPanelClicked(bool doubleClick) {
  Guarded("TForm_Main.StatusBarClick", [this, doubleClick] {
    // A double click toggles back what its first click toggled, and opens
    // the schedule settings.
    Write(setting::UseSchedule, !Read(setting::UseSchedule));
    LoadSchedulerSettingsFromRegistry();
    UpdateStatusBar();
    if (doubleClick) OpenConfiguration(TForm_Configuration::kSchedulerPage);
  });
}

void TForm_Main::UpdateBrowserIntegrationSettings(bool atStart) {
  Guarded("TForm_Main.UpdateBrowserIntegrationSettings", [this, atStart] {
    StoreDefaultExtensionsIfEmpty();
    const TBrowserIntegration integration = TBrowserIntegration::ForThisProgram();
    if (atStart) {
      integration.ApplySettingsAtStart();
    } else {
      integration.ApplySettings();
    }
    const bool enabled = Read(setting::EnableBrowserIntegration);
    const bool showDisabled = Read(setting::ShowDisabledIcon);
    if (tray_) tray_->SetIcon(TrayIcon(enabled || !showDisabled));
  });
}

void TForm_Main::DrawGridLines(bool visible) { grid_->setShowGrid(visible); }

void TForm_Main::LoadColorSettingsFromRegistry() {
  const TStatusColors colors = brindle::LoadColorSettingsFromRegistry();
  tableModel_->SetColors(colors, palette());
  QPalette gridPalette = grid_->palette();
  gridPalette.setColor(QPalette::Base, tableModel_->BackgroundColor());
  grid_->setPalette(gridPalette);
  QPalette treePalette = tree_->palette();
  treePalette.setColor(QPalette::Base, tableModel_->BackgroundColor());
  if (colors.Other) treePalette.setColor(QPalette::Text, ColorFromSetting(*colors.Other, palette()));
  tree_->setPalette(treePalette);
}

void TForm_Main::LoadStringGridsConfiguration() {
  DrawGridLines(Read(setting::GridLines));
  QHeaderView* header = grid_->horizontalHeader();
  // The default widths were made for a small 8-point font; with the
  // desktop's font they grow alike, and the size column fits "of" sizes.
  const QFontMetrics metrics(grid_->font());
  const double scale = std::max(1.0, metrics.horizontalAdvance("Downloading") / 62.0);
  for (int column = 0; column < kDownloadColumnCount; ++column) {
    TIntegerSetting width = setting::DownloadsColumnWidth(column);
    width.Fixed = static_cast<int>(width.Fixed * scale);
    if (column == kColumnSize)
      width.Fixed = std::max(width.Fixed, metrics.horizontalAdvance("99.99 Mb of 99.99 Mb") + 8);
    header->resizeSection(column, std::max(8, Read(width)));
  }
  header->setSortIndicator(list_->SortColumn(), list_->SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
  grid_->setSortingEnabled(true);
}

void TForm_Main::SaveStringGridsConfiguration() {
  QHeaderView* header = grid_->horizontalHeader();
  for (int column = 0; column < kDownloadColumnCount; ++column)
    Write(setting::DownloadsColumnWidth(column), header->sectionSize(column));
  list_->SaveSortSettings();
}

void TForm_Main::SyncSelectionFromView() {
  if (syncingSelection_) return;
  syncingSelection_ = true;
  const QModelIndexList rows = grid_->selectionModel()->selectedRows();
  list_->ClearSelection();
  for (const QModelIndex& index : rows) list_->SetSelected(index.row(), true);
  const QModelIndex current = grid_->selectionModel()->currentIndex();
  list_->SetCurrentRow(current.isValid() ? current.row() : -1);
  syncingSelection_ = false;
}

void TForm_Main::SyncSelectionToView() {
  if (syncingSelection_ || !grid_ || !grid_->selectionModel()) return;
  syncingSelection_ = true;
  QItemSelection selection;
  for (int row = 0; row < list_->RowCount(); ++row)
    if (list_->IsSelected(row)) selection.select(tableModel_->index(row, 0), tableModel_->index(row, kDownloadColumnCount - 1));
  grid_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  if (list_->CurrentRow() >= 0)
    grid_->selectionModel()->setCurrentIndex(tableModel_->index(list_->CurrentRow(), 0), QItemSelectionModel::NoUpdate);
  else
    grid_->selectionModel()->clearCurrentIndex();
  syncingSelection_ = false;
}

void TForm_Main::AnnounceAfterDownloads(TAfterDownloadsActions::TAction action, std::function<void()> proceed) {
  if (countdown_) return;
  countdownProceed_ = std::move(proceed);
  countdownLeft_ = kCountdownSeconds;
  countdownText_ = action == TAfterDownloadsActions::TAction::SwitchOff
                       ? "All downloads are complete. The computer is switched off in %1 seconds."
                       : "All downloads are complete. Brindle closes in %1 seconds.";
  auto* box = new QMessageBox(QMessageBox::Information, Caption(), countdownText_.arg(countdownLeft_),
                              QMessageBox::Cancel, this);
  box->setObjectName("Form_Countdown");
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::rejected, this, [this] {
    countdownTimer_.stop();
    countdownProceed_ = nullptr;
  });
  countdown_ = box;
  box->open();
  countdownTimer_.start();
}

void TForm_Main::Exit() {
  Guarded("TForm_Main.Exit1Click", [this] {
    if (DownloadSystem().ActiveList().empty()) {
      Terminate();
      return;
    }
    if (exitQuestionOpen_) return;
    exitQuestionOpen_ = true;
    Prompt().Ask("Confirm", "Download(s) in progress. Exit anyway?", [this](bool yes) {
      exitQuestionOpen_ = false;
      if (yes) Terminate();
    });
  });
}

void TForm_Main::Terminate() {
  if (terminating_) return;
  terminating_ = true;
  Guarded("TForm_Main.Terminate", [this] {
    DoBeforeTerminate();
    // Running downloads stop with their records saved, to resume next time;
    // scheduled and queued ones stay so.
    DownloadSystem().PauseForExit();
  });
  if (tray_) tray_->Hide();
  hide();
  if (OnTerminate) OnTerminate();
}

void TForm_Main::DoBeforeTerminate() {
  Guarded("TForm_Main.DoBeforeTerminate", [this] {
    SaveStringGridsConfiguration();
    TWindowPlacement placement = WindowBounds(*this);
    placement.Maximized = isMaximized();
    placement.Minimized = isMinimized();
    SavePosition(kPositionSection, placement);
    categoryTree_->SaveChoosenCategory();
    Write(setting::DownloadBasket, actionDownloadBasket_->isChecked());
    if (dropBox_) dropBox_->close();
    clipboardMonitor_->Disable();
  });
}

void TForm_Main::closeEvent(QCloseEvent* event) {
  if (terminating_) {
    event->accept();
    return;
  }
  event->ignore();
  Guarded("TForm_Main.FormCloseQuery", [this] {
    if (Read(setting::MinimizeToTray)) {
      HideToTray();
    } else {
      Exit();
    }
  });
}

void TForm_Main::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // The user looks at the list: what the desktop was told is seen.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && notifier_) notifier_->WindowSeen();
  if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable())
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
}

void TForm_Main::dragEnterEvent(QDragEnterEvent* event) {
  // What would be refused is refused at once: the pointer says so.
  if (!DroppedAddresses(*event->mimeData()).empty()) event->acceptProposedAction();
}

void TForm_Main::dropEvent(QDropEvent* event) {
  Guarded("TForm_Main.Drop", [this, event] {
    bool added = false;
    for (const std::string& address : DroppedAddresses(*event->mimeData())) added |= AddDownloadFromUrl(address, true);
    if (added) event->acceptProposedAction();
  });
}

bool TForm_Main::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panels_[1] &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    SchedulerPanelClicked(event->type() == QEvent::MouseButtonDblClick);
    return true;
  }
  if (auto* button = qobject_cast<QToolButton*>(watched)) {
    if (event->type() == QEvent::Enter) panels_[0]->setText(button->property("hint").toString());
    if (event->type() == QEvent::Leave) UpdateStatusBar();
  } else if (watched == grid_->viewport() &&
             (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    // A refill between the press and its click must not put another
    // download under the mouse.
    list_->HoldOrder();
  } else if (watched == grid_->viewport() && event->type() == QEvent::MouseButtonRelease) {
    // The view handles the click after this filter; the rows may move once it has.
    QMetaObject::invokeMethod(this, [this] { list_->ReleaseOrder(); }, Qt::QueuedConnection);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QModelIndex index = grid_->indexAt(mouse->position().toPoint());
    if (mouse->button() == Qt::LeftButton && index.isValid() && index.column() == kColumnDescription &&
        TProgressDelegate::EllipsisRect(grid_->visualRect(index)).contains(mouse->position().toPoint()))
      RunCommand("TForm_Main.StringGrid_DownloadsSetEllipsis", &TListCommands::Properties);
  } else if ((watched == grid_ || watched == grid_->viewport()) &&
             (event->type() == QEvent::MouseMove || event->type() == QEvent::KeyPress)) {
    UpdateStatusBar();
    if (watched == grid_ && event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
        if (key->key() == Qt::Key_Delete) {
          RunCommand("TForm_Main.StringGrid_DownloadsKeyDown", &TListCommands::Delete);
          return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
          RunCommand("TForm_Main.StringGrid_DownloadsKeyDown", &TListCommands::Open);
          return true;
        }
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace brindle
