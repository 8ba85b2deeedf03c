#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "manager/after_downloads.h"
#include "manager/list_window_port.h"
#include "ui/form_download_file_info.h"
#include "ui/form_drag_and_drop_box.h"
#include "ui/form_properties.h"
#include "ui/notification_port.h"

class QAction;
class QCheckBox;
class QMenu;
class QSplitter;
class QTableView;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace brindle {

class EventLoop;
class TCategoryEditor;
class TForm_Categories;
class TCategoryTree;
class TListCommands;
class TDownloadListModel;
class TDownloadServices;
class TDownloadSystem;
class TDownloadTableModel;
class TDebugForm;
class TDebugTrace;
class TForm_Configuration;
class TForm_HangUpOn;
class THangUpTimer;
class TMonitorClipboard;
class TScheduledDownloads;
class TScheduler;
class TVersionChecker;
class TProgressDelegate;
class TQtPrompt;
class TQtWindowFactory;
class TSystemTrayProgress;
class TTrayPort;
class TDownloadNotifier;
struct THandOverRequest;

// The window the user works in: toolbar, category panel, download list,
// status bar, menus and the tray icon. It shows the download services it
// owns and adds the desktop's own: the scheduler, the clipboard monitor,
// the version check and the hang-up timer.
class TForm_Main final : public QMainWindow, public TListWindowPort {
  Q_OBJECT

 public:
  static constexpr const char* kPositionSection = "Form_Main Position";
  static constexpr int kRowHeight = 17;
  static constexpr int kCountdownSeconds = 30;

  // tray: the notification area (nullptr: none). The command line's
  // addresses become downloads 250 ms after creation. notifications: the
  // desktop's notification service (nullptr: the tray's messages only).
  TForm_Main(EventLoop& loop, std::unique_ptr<TTrayPort> tray, std::vector<std::string> commandLineUrls,
             std::unique_ptr<TNotificationPort> notifications = nullptr, QWidget* parent = nullptr);
  ~TForm_Main() override;

  // The first show, in the stored state (unless "StartMinized").
  void ShowAtStart();
  // The size a window never placed starts with, within the screen's area.
  QSize FittingSize(const QRect& area) const;

  // A second start handed its argument over: a download address becomes a
  // download; anything else brings the window to the front, and a text that
  // is no address says so.
  int CheckInstances(const THandOverRequest& request);
  // An address from the command line, a second start or a drop, as
  // DownloadableAddress takes it; a drop's must name a file (and
  // DroppedAddresses has left out ignored ones). False when it became no
  // download.
  bool AddDownloadFromUrl(const std::string& url, bool dropped);
  // A handed-over request: a structured one (the browser host's) brings
  // the proposed file name, referrer and cookies along.
  bool AddDownloadFromRequest(const THandOverRequest& request);

  // Exit from the menus: asks first while downloads run.
  void Exit();
  // Ends the program now, without a question (session end, or confirmed).
  void Terminate();
  void DoBeforeTerminate();
  // Runs once the program may end (the application quits its loop).
  std::function<void()> OnTerminate;

  // The scheduler's handlers for the start and the end of the schedule window.
  void DoOnSchedulerTime();
  void DoOnSchedulerTimeOut();
  // The schedule settings into the scheduler, which is enabled by "UseSchedule".
  void LoadSchedulerSettingsFromRegistry();
  // Panel 0's text ("Ready", the version check's answer).
  void SetStatusText(const std::string& text);

  // The configuration dialog on a page (0 first, 5 the scheduler), window
  // modal; OK applies the settings.
  void OpenConfiguration(int page);
  TForm_Configuration* Configuration() const { return configuration_; }
  // "Hang Up...": the hang-up window, window modal.
  void OpenHangUp();
  // The "Debug Mode" check box is shown (brindle --debug); ticking it sends
  // the engine's trace to the trace window and shows it.
  void ShowDebugMode();
  TDebugForm* DebugWindow() const { return debugForm_; }
  TForm_HangUpOn* HangUpWindow() const { return hangUp_; }
  void UpdateStatusBar();
  void UpdateSpeedAndTimeLeft();
  // The browsers' host manifests as the settings say, and the tray icon;
  // at start through TBrowserIntegration::ApplySettingsAtStart.
  void UpdateBrowserIntegrationSettings(bool atStart = false);
  void DrawGridLines(bool visible);
  void LoadColorSettingsFromRegistry();
  void LoadStringGridsConfiguration();
  void SaveStringGridsConfiguration();
  void ToggleMainWindow();
  // What every file-info window ("Save as...") is given by the window
  // factory: the categories, the download system's names in use, the
  // category editor behind "New..." (the tree follows), the command line's
  // address and the way to end the program.
  TFileInfoWindowServices FileInfoWindowServices();
  // "Download Basket": ticked opens the drop box, unticked closes it.
  void ShowDownloadBasket(bool ticked);
  TForm_DragAndDropBox* DropBox() const { return dropBox_; }

  TDownloadSystem& DownloadSystem() const;
  TDownloadTableModel& TableModel() const { return *tableModel_; }
  TScheduler& Scheduler() const { return *scheduler_; }
  TCategoryTree& CategoryTree() const { return *categoryTree_; }
  TListCommands& ListCommands() const { return *commands_; }

  // The category tree rebuilt from the category list, the selection kept
  // at its absolute index.
  void PopulateTreeView();
  void AddCategoryToTreeView(const std::string& name);
  void DeleteCategoryFromTreeView(const std::string& catName);
  void ChangeCategoryInTreeView(const std::string& oldName, const std::string& newName);
  // Refills the list for the selected tree node.
  void PopulateStringGrid(bool keepSelection);

  // The list commands' windows.
  void ShowProperties(std::shared_ptr<TPropertiesModel> properties) override;
  void ViewFile(const std::string& path, const std::string& text) override;
  // "C&ategories": the category list dialog, window modal.
  void OpenCategories();
  TForm_Categories* CategoriesWindow() const { return categoriesForm_; }
  // The open properties window, or nullptr.
  TForm_Properties* PropertiesWindow() const { return properties_; }
  TMonitorClipboard& ClipboardMonitor() const { return *clipboardMonitor_; }
  TVersionChecker& VersionChecker() const { return *versionChecker_; }
  bool TrayAvailable() const;
  // The tray icons of the running downloads, or nullptr.
  TSystemTrayProgress* TrayProgress() const { return trayProgress_.get(); }
  // The open after-downloads countdown, or nullptr.
  QMessageBox* Countdown() const { return countdown_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TCategoryEditor& CategoryEditor();
  void BuildToolbar(QWidget* parent);
  void BuildMenus();
  void BuildStatusBar();
  void BuildTray();
  void ApplyToolbarSize();
  void LoadPanelCategories();
  void SplitterMoved();
  void SchedulerPanelClicked(bool doubleClick);
  void ApplyConfiguration();
  void SyncSelectionFromView();
  void SyncSelectionToView();
  void BuildListContextMenu();
  void DrawTreeView();
  void TreeSelectionChanged();
  void RunCommand(const char* name, void (TListCommands::*command)());
  void AskAddUrl();
  void OpenWeb(const std::string& url);
  void ShowAbout();
  void AnnounceAfterDownloads(TAfterDownloadsActions::TAction action, std::function<void()> proceed);
  void HideToTray();
  // Creates or frees the tray progress as "ShowSystemTrayIcons" says.
  void ApplyTrayProgress();
  QToolButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QIcon& icon,
                          const char* hint);

  EventLoop& loop_;
  std::unique_ptr<TTrayPort> tray_;
  std::vector<std::string> commandLineUrls_;
  // Tells of downloads that ended while this window was away.
  std::unique_ptr<TDownloadNotifier> notifier_;
  std::unique_ptr<TQtPrompt> prompt_;
  std::unique_ptr<TDownloadListModel> list_;
  std::unique_ptr<TQtWindowFactory> windows_;
  // The download system and what it works with, shown by this window.
  std::unique_ptr<TDownloadServices> services_;
  // The tray icons of the running downloads ("ShowSystemTrayIcons").
  std::unique_ptr<TSystemTrayProgress> trayProgress_;
  // The services around the download system, which they act on.
  std::unique_ptr<TScheduledDownloads> scheduledDownloads_;
  std::unique_ptr<TScheduler> scheduler_;
  std::unique_ptr<TMonitorClipboard> clipboardMonitor_;
  std::unique_ptr<TVersionChecker> versionChecker_;
  std::unique_ptr<TCategoryTree> categoryTree_;
  std::unique_ptr<TListCommands> commands_;
  std::unique_ptr<TCategoryEditor> categoryEditor_;
  std::unique_ptr<THangUpTimer> hangUpTimer_;
  std::unique_ptr<TDebugTrace> debugTrace_;
  TDownloadTableModel* tableModel_ = nullptr;
  TProgressDelegate* delegate_ = nullptr;
  TForm_Configuration* configuration_ = nullptr;
  TForm_HangUpOn* hangUp_ = nullptr;
  TDebugForm* debugForm_ = nullptr;
  QPointer<TForm_Properties> properties_;
  QPointer<TForm_DragAndDropBox> dropBox_;
  TForm_Categories* categoriesForm_ = nullptr;
  QMenu* listMenu_ = nullptr;
  bool drawingTree_ = false;

  QWidget* panelSpeedButtons_ = nullptr;
  QWidget* panelResizeButtons_ = nullptr;
  std::array<QToolButton*, 7> largeButtons_{};
  std::array<QToolButton*, 7> smallButtons_{};
  QToolButton* buttonUp_ = nullptr;
  QToolButton* buttonDown_ = nullptr;
  QToolButton* buttonLeft_ = nullptr;
  QToolButton* buttonRight_ = nullptr;
  QCheckBox* checkDebugMode_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QTableView* grid_ = nullptr;
  std::array<QLabel*, 5> panels_{};
  QMenu* trayMenu_ = nullptr;
  QMenu* speedLimitMenu_ = nullptr;
  QAction* actionBrowserIntegration_ = nullptr;
  QAction* actionDownloadBasket_ = nullptr;
  // Once, 250 ms after the start: the command line's addresses.
  QTimer timerAddCommandLineUrls_;
  QTimer timerUpdateStatusBar_;
  // Keeps the open properties window current.
  QTimer timerRefreshProperties_;
  QPointer<QMessageBox> countdown_;
  QTimer countdownTimer_;
  int countdownLeft_ = 0;
  std::function<void()> countdownProceed_;
  QString countdownText_;
  std::string statusString_ = "Ready";
  bool syncingSelection_ = false;
  bool terminating_ = false;
  bool exitQuestionOpen_ = false;
};

}  // namespace brindle
