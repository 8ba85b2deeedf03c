#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/mirror_ping.h"
#include "manager/ldi_list.h"

namespace brindle {

class EventLoop;
class TAfterDownloadsActions;
class TCategoryList;
class TDownloader;
class TDownloadForms;
class TDownloadListModel;
class TDownloadWindowFactory;
class TLivenessCheck;
class TLocalDownloadinfo;
class TPartialFolderIndex;
struct TNewDownloadAnswer;
class TServerStats;
class TSpeedLimiter;
class TTimer;

// What the download system works with. Model and Windows are required; the
// others may be missing (no categories, no statistics, nothing to do after
// the downloads).
struct TDownloadSystemServices {
  TDownloadListModel* Model = nullptr;
  TDownloadWindowFactory* Windows = nullptr;
  TCategoryList* Categories = nullptr;
  TServerStats* ServerStats = nullptr;
  TAfterDownloadsActions* AfterDownloads = nullptr;
  TPingFunction Ping;         // empty: the system's ICMP echo
  EventLoop* Loop = nullptr;  // nullptr: the thread's
  // false: a download whose own address says at first contact that the
  // file is not there or the login is refused fails at once, unretried.
  bool RetryPermanentErrors = true;
  // false: no window shows the list, which is then never filled.
  bool ListShown = true;
};

// The one object that knows all downloads: it owns the records, starts or
// queues their downloads within MaxSimultaneousDownloads, turns what the
// downloaders report into record states, retries after errors, joins the
// finished parts and keeps the download list current.
class TDownloadSystem {
 public:
  static constexpr int64_t kReleaseIntervalMs = 100;
  static constexpr int64_t kRetryIntervalMs = 1000;

  // Loads every record file of the partial-downloads directory.
  explicit TDownloadSystem(TDownloadSystemServices services);
  ~TDownloadSystem();
  TDownloadSystem(const TDownloadSystem&) = delete;
  TDownloadSystem& operator=(const TDownloadSystem&) = delete;

  // Starts (or queues) a download for a new record, which the system takes
  // over. allowDialog false never asks for a file name (the clipboard, the
  // command line); splitParts 0 uses "SplitParts".
  // The program's limit and the scheduler of every download's own limit.
  TSpeedLimiter& SpeedLimiter() const { return *speedLimiter_; }
  // Takes the global limit from "SpeedLimitEnabled" and "SpeedLimit"
  // (kilobytes per second) at once, running downloads included.
  void ApplySpeedLimitSettings();
  // One download's own limit in kilobytes per second (0: none): stored in
  // its record and applied at once when it runs.
  void SetDownloadSpeedLimit(TLocalDownloadinfo* record, int64_t kiloBytesPerSecond);

  TLocalDownloadinfo* AddDownload(std::unique_ptr<TLocalDownloadinfo> record, bool allowDialog = true,
                                  int splitParts = 0);
  // The same for a record of the download list; nothing when it runs.
  void AddDownload(TLocalDownloadinfo* record, bool allowDialog = true, int splitParts = 0);
  void TryToStartDownload(TDownloader& downloader);
  // Starts queued records while places are free; nothing while the queue
  // is held.
  void DownloadNextInQueue();
  // Held, the queue keeps its records when running downloads are paused on
  // purpose (the schedule window closing) and their places come free.
  void SetQueueHeld(bool held) { queueHeld_ = held; }

  // The user's commands.
  void PauseDownload(TLocalDownloadinfo* record);
  // Queued and scheduled records become "Paused" first, so nothing starts
  // from the queue while the running ones pause.
  void PauseAll();
  // The program ends: the running downloads pause with their records saved,
  // and from now on nothing starts, neither from the queue nor otherwise, so
  // "Scheduled" and "Queued" records keep their status.
  void PauseForExit();
  // Stops the download if it runs and deletes the record with its files.
  void DeleteDownload(TLocalDownloadinfo* record);

  bool FileNameInUse(const std::string& fileName) const;
  void ShowDownloadForm(TDownloader& downloader);
  void HideDownloadForm(TDownloader& downloader);
  // Marks the entry for the release timer.
  void AllowFree(TDownloadForms& forms);
  bool UpdateGridRow(const TLocalDownloadinfo* record);
  TLocalDownloadinfo* AssociatedLDI(const TDownloader* downloader) const;
  TDownloader* AssociatedDownloader(const TLocalDownloadinfo* record) const;
  TDownloadForms* GetDownloadForms(const TDownloader* downloader) const;

  // The filters of the download list; each refills it.
  void PopulateGrid(const TLDIList& records);
  void ShowAll();
  void ShowStatus(const TDownloadStatus& status);
  void ShowAllStatus();
  void ShowCategory(const std::string& name);
  void ShowAllCategory();
  void ShowHistory(const std::string& period);
  // Refills the list through the filter in force; the selected records
  // stay selected.
  void RefreshList();

  // Sum of the sizes of basePath + ".*" except record files.
  int64_t BytesDownloaded(const std::string& basePath) const;
  // A base path for a new record in the partial-downloads directory, free
  // of any record's or part file's name.
  std::string NewTempFileName();
  // Reads the partial-downloads directory anew when the setting names
  // another one.
  void ReadPartialDownloadsDirectory() { Folder(); }
  // Deletes every basePath + ".*" but the record file.
  void DeletePartFiles(const std::string& basePath);
  // The record files of the partial-downloads directory, in listing order.
  static std::vector<std::string> GetDatFileNames();

  const TLDIList& DownloadList() const { return downloadList_; }
  const std::vector<TDownloader*>& ActiveList() const { return activeList_; }
  int FormsCount() const { return static_cast<int>(formsList_.size()); }

  // A record became "Done"; a record's download ended for good without it
  // (retries used up, or its parts could not be joined).
  std::function<void(TLocalDownloadinfo&)> OnDownloadDone;
  std::function<void(TLocalDownloadinfo&)> OnDownloadFailed;
  // The file changed on the download's server, so its parts were thrown
  // away and it starts over.
  std::function<void(TLocalDownloadinfo&)> OnDownloadStartedOver;

 private:
  void UpdateGridInfo();
  TLocalDownloadinfo* Adopt(std::unique_ptr<TLocalDownloadinfo> record);
  std::unique_ptr<TLocalDownloadinfo> Disown(TLocalDownloadinfo* record);
  void NewDownloadAnswered(TDownloader* downloader, const TNewDownloadAnswer& answer);
  int RunningCount() const;
  void PauseRunning();
  void LeaveActiveList(TDownloader& downloader);
  // The partial-downloads directory's index, read anew when the setting
  // names another directory.
  TPartialFolderIndex& Folder();
  // Brings the index in line with the disk for the downloader's part files.
  void NotePartFiles(const TDownloader& downloader);
  bool IsActive(const TDownloader& downloader) const;
  void Release();
  void RetryTick(const TTimer* timer);
  void RunAfterDownloadsIfDue();
  // "" while every running download has something pending, else which
  // one does not.
  std::string Stuck() const;

  void DownloaderFileSizeRequestDone(TDownloader& downloader);
  void DownloaderStartDownload(TDownloader& downloader);
  void DownloaderUpdate(TDownloader& downloader);
  void DownloaderResume(TDownloader& downloader);
  void DownloaderError(TDownloader& downloader);
  void DownloaderAllPartsDone(TDownloader& downloader);
  void FilesCombined(TDownloader& downloader, bool success);
  void DownloaderAbort(TDownloader& downloader);
  void DownloaderPause(TDownloader& downloader);

  TDownloadSystemServices services_;
  EventLoop* loop_;
  TDownloadListModel& model_;
  std::unique_ptr<TSpeedLimiter> speedLimiter_;  // outlives the downloaders
  std::vector<std::unique_ptr<TLocalDownloadinfo>> records_;
  std::unique_ptr<TPartialFolderIndex> folder_;  // outlives the downloaders
  std::unique_ptr<TTimer> releaseTimer_;
  std::vector<std::unique_ptr<TDownloadForms>> formsList_;
  TLDIList downloadList_;
  std::vector<TDownloader*> activeList_;
  std::function<TLDIList()> filter_;
  bool queueHeld_ = false;
  bool exiting_ = false;
  std::unique_ptr<TLivenessCheck> liveness_;
};

}  // namespace brindle
