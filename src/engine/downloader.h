#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "core/event_depth.h"
#include "engine/mirror_list.h"
#include "engine/mirror_ping.h"
#include "engine/part_downloader.h"

namespace brindle {

class EventLoop;
class TDownloadRecord;
class TLivenessCheck;
class TFileMirror;
class TPartDownloadSlot;
class TPartDownloadSlots;
class TPingSystem;
class TSpeedLimitGroup;
class TPartialFolderIndex;
class TSpeedLimiter;
class TTimer;
class TTransferSpeed;

// What a downloader is built with besides its record.
struct TDownloaderOptions {
  int SplitParts = 4;             // parts wanted
  bool UseLocalMirrorList = true;
  // Fills the list with new mirror entries (the downloader takes them over)
  // for the address, annotated and in the order they should be tried.
  std::function<void(const TUrl& url, TMirrorList& mirrors)> LocalMirrors;
  TPingFunction Ping;             // empty: the system's ICMP echo
  EventLoop* Loop = nullptr;      // nullptr: the thread's
  // The program's speed limits (nullptr: the download is never limited);
  // must outlive the downloader.
  TSpeedLimiter* Limiter = nullptr;
  // Where the downloader, its parts and its join read their settings, at
  // each use: a change reaches the running download's next part.
  TSettingsReader Settings;
  // What the partial-downloads directory holds (nullptr: the record's
  // directory is listed whenever its part files are looked for); must
  // outlive the downloader. The downloader tells it of the part files it
  // makes and removes itself; its owner checks the rest when it ends.
  TPartialFolderIndex* PartFiles = nullptr;
};

// Carries one download from the first contact with its server until every
// byte is in the part files: learns the size and the resume support with
// slot 0, splits the rest over the best mirrors, lets a part that reached
// its end take over the next part that has not started, moves failed parts
// to other mirrors and detects completion from the part files on disk.
// It reads and writes the record but does not own it.
//
// Handlers of its events never destroy the downloader: an owner lets it go
// through EventLoop::DeleteLater.
class TDownloader {
 public:
  static constexpr int kMaxSimPings = 8;
  static constexpr int kSpeedWindow = 200;
  static constexpr int kUpdateIntervalMs = 100;
  static constexpr int64_t kLaterTimeOutMs = 10000;

  // Starts downloading at once. record must outlive the downloader.
  TDownloader(TDownloadRecord& record, TDownloaderOptions options);
  ~TDownloader();
  TDownloader(const TDownloader&) = delete;
  TDownloader& operator=(const TDownloader&) = delete;

  void Abort();
  void Pause();
  // The start bytes of the record's part files, ascending: those on disk,
  // or, with an index, those it knows and those of the slots.
  std::vector<int64_t> PartFileStarts() const;
  void StartDownload();
  void RestartDownload();
  int64_t TransferCount();
  std::string TransferRate() const;
  std::string TimeLeft();

  // Every byte of the file is in the chain of part files.
  bool AllPartsDone() const;
  // The usable mirror with the least load ((users + 1) x ping), nullptr when
  // every mirror failed.
  TFileMirror* ChooseMirror() const;
  // A retry after a delay can still succeed: some mirror did not fail for
  // good (a certificate that does not verify fails its mirror for good).
  bool CanRetry() const;
  // The download's own address said, before any answer that was the file
  // in this run, what no wait mends: the file is not there (404, 410) or
  // the login is refused.
  bool PermanentFailure() const { return permanentFailure_; }
  // Seconds a busy server asked to wait before the retry; -1: none said.
  int64_t RetryAfter() const { return retryAfter_; }
  // Something will move the download on: a part's transfer, time-out or
  // reported end, or a finished part's connection about to start the next.
  bool Pending() const;

  TPartDownloadSlots& Slots() const { return *slots_; }
  TDownloadRecord& LDI() const { return record_; }
  bool Downloading() const { return downloading_; }
  int ResumeSupported() const { return resumeSupported_; }  // 0 yes, 1 no, 2 unknown
  const std::string& ResumeText() const { return resumeText_; }
  const TMirrorList& Mirrors() const { return mirrors_; }
  int64_t TotalCount() const { return totalCount_; }
  bool Aborted() const { return aborted_; }
  bool Paused() const { return paused_; }
  const TDownloadStatus& Status() const { return status_; }
  int SplitParts() const { return splitParts_; }
  int RetryCount() const { return retryCount_; }
  TPingSystem& PingSystem() const { return *pingSystem_; }
  TTransferSpeed& TransferSpeed() const { return *transferSpeed_; }
  TTimer& UpdateTimer() const { return *updateTimer_; }
  const TSettingsReader& Settings() const { return options_.Settings; }
  // This download's own limit, bytes per second (0: none); applies at once
  // to the running parts. Without a limiter nothing is limited.
  void SetSpeedLimit(int64_t bytesPerSecond);
  TSpeedLimitGroup* SpeedLimitGroup() const { return speedLimit_.get(); }

  std::function<void(TDownloader&)> OnFileSizeRequestDone;
  std::function<void(TDownloader&)> OnStartDownload;
  std::function<void(TDownloader&)> OnDownloadError;
  std::function<void(TDownloader&)> OnUpdate;
  std::function<void(TDownloader&)> OnAllPartsDone;
  std::function<void(TDownloader&, TFileMirror& mirror, int index)> OnPingedMirror;
  std::function<void(const std::string& host, int64_t bytesPerSecond)> OnServerSpeed;
  // The file changed on the download's own server, so every part was
  // thrown away and the download starts over.
  std::function<void(TDownloader&)> OnStartOver;
  std::function<void(TDownloader&)> OnAbort;
  std::function<void(TDownloader&)> OnPause;
  std::function<void(TDownloader&)> OnResume;
  std::function<void(TDownloader&, TPartDownloadSlot&)> OnSlotChange;
  std::function<void(TDownloader&, TPartDownloadSlot&)> OnSlotDelete;

 private:
  void AddLocalMirrors();
  // The mirror a retry moves a slot to from a mirror that failed for good.
  TFileMirror* RetryMirror() const;
  TPartDownloadSlot* NewSlot();
  void SlotChange(TPartDownloadSlot& slot, TPartDownloaderState state);
  // The part of SlotChange before OnSlotChange.
  void HandleSlotChange(TPartDownloadSlot& slot, TPartDownloaderState state);
  void HandleGotFileSize(TPartDownloadSlot& slot, int index);
  void HandleGotResumeInfo(TPartDownloadSlot& slot, int index);
  void KeepServerDigest(const TPartDownloader& part);
  void HandlePartDone(TPartDownloadSlot& slot, int index);
  void HandleError(TPartDownloadSlot& slot);
  void TakeOverNextRange(TPartDownloadSlot& slot, int index);
  void SlotUpdate(TPartDownloadSlot& slot);
  void OnUpdateTimer();
  void PingedMirror(TFileMirror& mirror);

  void CreateParts();
  void ResumeParts(const std::vector<int64_t>& starts);
  int64_t FirstPiece() const;
  void SplitNew();
  // Synced when the parts are made at the first answer: the size and
  // validators must be on the disk before a byte is.
  void SaveParts(TDurability durability);
  void TryToChangeSlotMirror(TPartDownloadSlot& failing);
  void MoveOrPark(TPartDownloadSlot& slot);
  void Park(TPartDownloadSlot& slot);
  bool IsParked(const TPartDownloadSlot& slot) const;
  bool AllParked() const;
  TPartDownloadSlot* GetNextIdleSlot() const;
  void ReportCompletion();
  void HandOver(TPartDownloadSlot& finished, TPartDownloadSlot& parked);
  // false: the answer was rejected (or everything started over).
  bool CheckValidators(TPartDownloadSlot& slot, TPartDownloader& part);
  // The answer on slot is of another version of the file (what says how it
  // told): the download starts over or the answer is refused.
  void FileChanged(TPartDownloadSlot& slot, TPartDownloader& part, const std::string& what);
  void StartOver();
  // "" while the download is not running or something is pending, else
  // what is stuck.
  std::string Stuck() const;
  std::string PartFileName(int64_t start) const;
  // Removes the part file and tells the index.
  void DeletePartFile(int64_t start);
  int IndexOf(const TPartDownloadSlot& slot) const;
  bool SizeLearned() const;
  int64_t ConnectTimeOut() const;
  // Raises an event; its handler may not destroy the downloader.
  void Raise(const std::function<void(TDownloader&)>& event);

  EventLoop* loop_;
  TDownloadRecord& record_;
  TDownloaderOptions options_;
  std::unique_ptr<TSpeedLimitGroup> speedLimit_;  // outlives the slots
  std::unique_ptr<TPartDownloadSlots> slots_;
  std::unique_ptr<TTimer> updateTimer_;
  bool downloading_ = false;
  int resumeSupported_ = 2;
  std::string resumeText_ = "Unknown";
  TMirrorList mirrors_;  // owns its entries
  TFileMirror* mainMirror_ = nullptr;
  int64_t totalCount_ = 0;
  bool aborted_ = false;
  bool paused_ = false;
  std::unique_ptr<TTransferSpeed> transferSpeed_;
  TDownloadStatus status_;
  int splitParts_ = 0;
  std::unique_ptr<TPingSystem> pingSystem_;
  int retryCount_ = 0;
  // A stated size of 0 (an empty file), which the record cannot tell from
  // "not learned yet".
  bool emptyFileKnown_ = false;
  // Slot 0 of a download without a size ended its transfer in this run.
  bool unsizedTransferEnded_ = false;
  bool errorRaised_ = false;
  bool completionReported_ = false;
  bool startedOver_ = false;
  bool answered_ = false;  // some answer was the file in this run
  bool permanentFailure_ = false;
  int64_t retryAfter_ = -1;
  std::set<const TPartDownloadSlot*> parked_;
  int handOversPending_ = 0;
  std::unique_ptr<TLivenessCheck> liveness_;
  TEventDepth events_{"TDownloader"};
};

}  // namespace brindle
