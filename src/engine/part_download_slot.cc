#include "engine/part_download_slot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <cmath>
#include <stdexcept>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "core/owned_file.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "core/trace.h"
#include "engine/file_mirror.h"
#include "engine/ftp_part_downloader.h"
#include "engine/http_part_downloader.h"

namespace brindle {

namespace {

// Size of the part file at path; 0 when there is none of Brindle's own.
int64_t FileSizeOf(const std::string& path) { return path.empty() ? 0 : std::max<int64_t>(0, OwnedFileSize(path)); }

}  // namespace

TPartDownloadSlot::TPartDownloadSlot(EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()) {
  if (!loop_) throw std::logic_error("TPartDownloadSlot: no event loop on this thread");
  updateTimer_ = std::make_unique<TTimer>(loop_);
  updateTimer_->SetInterval(kUpdateIntervalMs);
  updateTimer_->OnTimer = [this] { OnUpdateTimer(); };
}

TPartDownloadSlot::~TPartDownloadSlot() {
  loop_->CancelPosts(this);
  try {
    SetPartDownloader(nullptr);
  } catch (...) {
    LogError("TPartDownloadSlot.Destroy");
  }
}

std::unique_ptr<TPartDownloader> TPartDownloadSlot::MakePartDownloader(const TFileMirror& mirror) {
  const TUrl& url = *mirror.Url;
  if (url.Protocol == "http" || url.Protocol == "https") {
    auto part = std::make_unique<THTTPPartDownloader>(url.Url, partFileName_, startByte_, endByte_, loop_);
    part->SetOriginHeaders(origin_, referer_, cookie_);
    return part;
  }
  if (url.Protocol == "ftp")
    return std::make_unique<TFTPPartDownloader>(url.Url, partFileName_, startByte_, endByte_, loop_);
  return nullptr;
}

void TPartDownloadSlot::Start(TFileMirror* mirror, int64_t timeOutMs) {
  try {
    if (mirror) mirror_ = mirror;
    if (!mirror_) return;
    if (!partDownloader_) {
      std::unique_ptr<TPartDownloader> part = MakePartDownloader(*mirror_);
      if (!part) {
        // Reported from the loop like any part failure, so that the owner
        // never sees it inside its own call (or its constructor).
        const TDownloadStatus reason = TDownloadStatus::Failure("Unsupported protocol: " + mirror_->Url->Protocol);
        TFileMirror* failed = mirror_;
        failurePosted_ = true;
        loop_->Post(this, [this, failed, reason] {
          failurePosted_ = false;
          if (mirror_ == failed && !partDownloader_) FailUnsupported(reason);
        });
        return;
      }
      partDownloader_ = std::move(part);
      partFileName_ = partDownloader_->FileName();
    } else {
      partDownloader_->SetFileName(partFileName_);
      partDownloader_->SetStartByte(startByte_);
      partDownloader_->SetEndByte(endByte_);
    }
    updateTimer_->SetEnabled(true);
    TPartDownloader& part = *partDownloader_;
    part.SetState(psConnecting);
    status_ = TDownloadState::ContactingHost;
    part.OnChange = [this](TPartDownloader& p, TPartDownloaderState s) { OnPartdownloaderChange(p, s); };
    part.SetTimeOut(timeOutMs);
    // Taken before Get, which may already report: what the part file holds
    // now is what this start did not transfer.
    initialCount_ = FileSizeOf(partFileName_);
    if (endByte_ > 0) initialCount_ = std::min(initialCount_, std::max<int64_t>(0, RangeLength()));
    count_ = initialCount_;
    speed_ = 0;
    startTimeMs_ = loop_->GetClock().MonotonicMs();
    part.SetSpeedLimitGroup(speedLimitGroup_);
    part.SetSettings(settings_);
    part.Get();
  } catch (...) {
    LogError("TPartDownloadSlot.Start");
  }
}

void TPartDownloadSlot::FailUnsupported(const TDownloadStatus& reason) {
  try {
    Trace("TPartDownloadSlot.Start (Error): " + mirror_->Url->Url);
    updateTimer_->SetEnabled(false);
    hadError_ = true;
    mirror_->ErrorCode = static_cast<uint8_t>(kPartErrRefused);
    status_ = reason;
    RaiseChange(psError);
  } catch (...) {
    LogError("TPartDownloadSlot.Start");
  }
}

void TPartDownloadSlot::SetPartDownloaderStartByte(int64_t startb) {
  if (!partDownloader_) startByte_ = startb;
}

void TPartDownloadSlot::SetPartDownloaderEndByte(int64_t endb) {
  try {
    endByte_ = endb;
    if (partDownloader_) partDownloader_->SetEndByte(endb);
  } catch (...) {
    LogError("TPartDownloadSlot.SetPartDownloaderEndByte");
  }
}

void TPartDownloadSlot::Pause() {
  try {
    if (partDownloader_) partDownloader_->Pause();
  } catch (...) {
    LogError("TPartDownloadSlot.Pause");
  }
}

void TPartDownloadSlot::Abort() {
  try {
    if (partDownloader_) {
      partDownloader_->Abort();
    } else if (!partFileName_.empty()) {
      unlink(partFileName_.c_str());
    }
    updateTimer_->SetEnabled(false);
  } catch (...) {
    LogError("TPartDownloadSlot.Abort");
  }
}

void TPartDownloadSlot::ResizePartFile() {
  try {
    if (!partDownloader_ || partDownloader_->EndByte() == 0) return;
    const int64_t length = std::max<int64_t>(0, RangeLength());
    // Only ever cut: zeros added to a short part file would pass for data.
    if (FileSizeOf(partFileName_) > length && !TruncateOwnedFile(partFileName_, length))
      LogError("TPartDownloadSlot.ResizePartFile", partFileName_ + ": " + std::strerror(errno));
  } catch (...) {
    LogError("TPartDownloadSlot.ResizePartFile");
  }
}

int64_t TPartDownloadSlot::TransferCount() const {
  if (!partDownloader_) return count_;
  const int64_t count = partDownloader_->TransferCount();
  return endByte_ > 0 ? std::min(count, std::max<int64_t>(0, RangeLength())) : count;
}

bool TPartDownloadSlot::Pending() const { return failurePosted_ || (partDownloader_ && partDownloader_->Pending()); }

std::unique_ptr<TPartDownloader> TPartDownloadSlot::TakePartDownloader() {
  if (partDownloader_) partDownloader_->OnChange = nullptr;
  return std::move(partDownloader_);
}

void TPartDownloadSlot::SetPartDownloader(std::unique_ptr<TPartDownloader> partDownloader) {
  if (partDownloader_) {
    // It may be the one whose event is running right now.
    partDownloader_->OnChange = nullptr;
    loop_->DeleteLater(std::move(partDownloader_));
  }
  partDownloader_ = std::move(partDownloader);
  if (partDownloader_)
    partDownloader_->OnChange = [this](TPartDownloader& p, TPartDownloaderState s) { OnPartdownloaderChange(p, s); };
}

void TPartDownloadSlot::OnPartdownloaderChange(TPartDownloader& part, TPartDownloaderState state) {
  try {
    if (&part != partDownloader_.get()) return;
    switch (state) {
      case psConnecting:
        status_ = TDownloadState::ContactingHost;
        break;
      case psConnected:
        status_ = TDownloadState::GettingFileInfo;
        break;
      case psDownloading:
        status_ = TDownloadState::Downloading;
        updateTimer_->SetEnabled(true);
        break;
      case psDone: {
        count_ = TransferCount();
        const int64_t seconds = (loop_->GetClock().MonotonicMs() - startTimeMs_) / 1000;
        if (seconds >= 1) {
          // Halves to even (the default rounding mode).
          const double speed = std::nearbyint(static_cast<double>(count_ - initialCount_) / static_cast<double>(seconds));
          speed_ = std::max<int64_t>(0, static_cast<int64_t>(speed));
        }
        status_ = TDownloadState::Done;
        updateTimer_->SetEnabled(false);
        break;
      }
      case psError:
        Trace("TPartDownloadSlot.OnPartdownloaderChange (Error): " + part.Url().Url);
        updateTimer_->SetEnabled(false);
        hadError_ = true;
        if (mirror_) mirror_->ErrorCode = static_cast<uint8_t>(part.ErrorCode());
        status_ = part.ErrorStatus();
        break;
      default:
        break;
    }
    RaiseChange(part.State());
    // A size is the slot's only once the owner has taken the answer.
    if (state == psGotFileSize && partDownloader_.get() == &part && part.State() == psGotFileSize) {
      fileSize_ = part.TransferSize();
      // The slot's range becomes the whole file; the part keeps its open end.
      if (endByte_ == 0 && fileSize_ > 0) endByte_ = fileSize_ - 1;
    }
  } catch (...) {
    LogError("TPartDownloadSlot.OnPartdownloaderChange");
  }
}

void TPartDownloadSlot::RaiseChange(TPartDownloaderState state) {
  const auto handler = OnChange;
  if (!handler) return;
  const TEventDepth::TRaising raising(events_);
  try {
    handler(*this, state);
  } catch (...) {
    LogError("TPartDownloadSlot.OnChange");
  }
}

void TPartDownloadSlot::OnUpdateTimer() {
  try {
    if (!partDownloader_) {
      updateTimer_->SetEnabled(false);
      return;
    }
    if (const auto handler = OnUpdate) {
      const TEventDepth::TRaising raising(events_);
      handler(*this);
    }
    if (partDownloader_ && partDownloader_->State() == psError) updateTimer_->SetEnabled(false);
  } catch (...) {
    LogError("TPartDownloadSlot.OnUpdateTimer");
  }
}

}  // namespace brindle
