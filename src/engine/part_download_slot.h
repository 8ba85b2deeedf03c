#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/download_status.h"
#include "core/event_depth.h"
#include "engine/part_downloader.h"

namespace brindle {

class EventLoop;
class TFileMirror;
class TTimer;

// The stable holder of one byte range of a download: its range, part file,
// mirror, status text and byte count, while the part downloader doing the
// transfer may be created, replaced, handed to another slot or destroyed.
// It turns the part downloader's states into status texts, measures the
// average speed of a finished transfer, marks the mirror failed on an
// error, and reports through OnChange (after each state change) and
// OnUpdate (every 100 ms while data flows). It never retries by itself.
class TPartDownloadSlot {
 public:
  static constexpr int kUpdateIntervalMs = 100;

  // loop: nullptr for the thread's; it must outlive the slot.
  explicit TPartDownloadSlot(EventLoop* loop = nullptr);
  ~TPartDownloadSlot();
  TPartDownloadSlot(const TPartDownloadSlot&) = delete;
  TPartDownloadSlot& operator=(const TPartDownloadSlot&) = delete;

  // Starts the range on mirror (nullptr: the slot's mirror; none at all:
  // nothing happens) with a connect time-out of timeOutMs. An attached part
  // downloader (handed over) is given the slot's file and range; otherwise
  // one is made for the mirror's scheme ("http" and "https", "ftp"). Any other scheme
  // fails the slot with code 4, reported through OnChange(psError) from the
  // loop, never from inside Start.
  void Start(TFileMirror* mirror, int64_t timeOutMs);
  void SetMirror(TFileMirror* mirror) { mirror_ = mirror; }
  // Referer and Cookie lines for HTTP requests to origin only.
  void SetOriginHeaders(std::string origin, std::string referer, std::string cookie) {
    origin_ = std::move(origin);
    referer_ = std::move(referer);
    cookie_ = std::move(cookie);
  }
  // Only while no part downloader is attached.
  void SetPartDownloaderStartByte(int64_t startb);
  // Also moves the attached part downloader's end (a running part grows).
  void SetPartDownloaderEndByte(int64_t endb);
  void Pause();
  // Aborts the part downloader (it deletes the part file), or deletes the
  // part file itself when there is none.
  void Abort();
  // Cuts the part file to the range length when the part downloader has an
  // end; a shorter file is left as it is.
  void ResizePartFile();
  // Bytes of the range received: the part downloader's count, capped at the
  // range length when the slot has an end; without one, Count().
  int64_t TransferCount() const;

  int64_t StartByte() const { return startByte_; }
  int64_t EndByte() const { return endByte_; }  // inclusive; 0: not set
  int64_t RangeLength() const { return endByte_ - startByte_ + 1; }
  int64_t StartTimeMs() const { return startTimeMs_; }  // loop clock, monotonic
  int64_t InitialCount() const { return initialCount_; }
  int64_t Speed() const { return speed_; }  // bytes per second of the last finished transfer
  TFileMirror* Mirror() const { return mirror_; }
  const std::string& PartFileName() const { return partFileName_; }
  void SetPartFileName(const std::string& name) { partFileName_ = name; }
  // The limits the slot's part downloaders read under (nullptr: none).
  void SetSpeedLimitGroup(TSpeedLimitGroup* group) { speedLimitGroup_ = group; }
  // Where the slot's part downloaders read their settings.
  void SetSettings(const TSettingsReader& settings) { settings_ = settings; }
  const TDownloadStatus& Status() const { return status_; }
  void SetStatus(const TDownloadStatus& status) { status_ = status; }
  int64_t FileSize() const { return fileSize_; }
  int64_t Count() const { return count_; }
  void SetCount(int64_t count) { count_ = count; }
  bool HadError() const { return hadError_; }
  // Its part downloader is pending, or a failure to start is about to be
  // reported.
  bool Pending() const;
  TTimer& UpdateTimer() const { return *updateTimer_; }

  TPartDownloader* PartDownloader() const { return partDownloader_.get(); }
  // Hands the part downloader (with its connection) out, detached from
  // this slot, for another slot to Start with.
  std::unique_ptr<TPartDownloader> TakePartDownloader();
  // Replaces the part downloader (the old one is destroyed once the current
  // handler has returned); nullptr only destroys.
  void SetPartDownloader(std::unique_ptr<TPartDownloader> partDownloader);

  // The handler the slot attaches to its part downloader.
  void OnPartdownloaderChange(TPartDownloader& part, TPartDownloaderState state);

  std::function<void(TPartDownloadSlot& slot, TPartDownloaderState state)> OnChange;
  std::function<void(TPartDownloadSlot& slot)> OnUpdate;

 private:
  void OnUpdateTimer();
  std::unique_ptr<TPartDownloader> MakePartDownloader(const TFileMirror& mirror);
  void FailUnsupported(const TDownloadStatus& reason);
  void RaiseChange(TPartDownloaderState state);

  EventLoop* loop_;
  int64_t startByte_ = 0;
  int64_t endByte_ = 0;
  int64_t startTimeMs_ = 0;
  int64_t initialCount_ = 0;
  int64_t speed_ = 0;
  TFileMirror* mirror_ = nullptr;
  std::string origin_;
  std::string referer_;
  std::string cookie_;
  std::string partFileName_;
  TDownloadStatus status_ = TDownloadState::Idle;
  int64_t fileSize_ = 0;
  std::unique_ptr<TTimer> updateTimer_;
  int64_t count_ = 0;
  bool hadError_ = false;
  bool failurePosted_ = false;
  std::unique_ptr<TPartDownloader> partDownloader_;
  TEventDepth events_{"TPartDownloadSlot"};
  TSpeedLimitGroup* speedLimitGroup_ = nullptr;
  TSettingsReader settings_;
};

}  // namespace brindle
