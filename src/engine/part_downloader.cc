#include "engine/part_downloader.h"

#include <algorithm>
#include <stdexcept>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "engine/speed_limit_group.h"
#include "engine/speed_limit_lane.h"

namespace brindle {

namespace {

std::string PartFileName(const std::string& fileName, int64_t startB) {
  const size_t slash = fileName.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  if (fileName.find('.', base) != std::string::npos) return fileName;
  return fileName + "." + std::to_string(startB);
}

}  // namespace

TPartDownloader::TPartDownloader(const std::string& url, const std::string& fileName, int64_t startB,
                                 int64_t endB, EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()),
      startByte_(startB),
      endByte_(endB),
      fileName_(PartFileName(fileName, startB)),
      url_(std::make_unique<TUrl>(url)) {
  if (!loop_) throw std::logic_error("TPartDownloader: no event loop on this thread");
  timeOutTimer_ = std::make_unique<TTimer>(loop_);
  stallTimer_ = std::make_unique<TTimer>(loop_);
  stallTimer_->OnTimer = [this] {
    try {
      CheckStall();
    } catch (...) {
      LogError("TPartDownloader.OnStall");
    }
  };
}

TPartDownloader::~TPartDownloader() {
  loop_->CancelPosts(this);
  // A client whose deletion is deferred may still hold the lane.
  if (lane_) lane_->OnHold = nullptr;
}

void TPartDownloader::PostLater(std::function<void()> fn) { loop_->Post(this, std::move(fn)); }

void TPartDownloader::SetSpeedLimitGroup(TSpeedLimitGroup* group) {
  if (group == laneGroup_) return;
  if (lane_) lane_->OnHold = nullptr;
  lane_.reset();
  laneGroup_ = group;
  HoldStallWatch(false);
  if (group) {
    lane_ = group->NewLane();
    lane_->OnHold = [this](bool held) { HoldStallWatch(held); };
  }
  ApplyLane();
}

void TPartDownloader::HoldStallWatch(bool held) {
  if (held == stallHeld_) return;
  stallHeld_ = held;
  if (held) {
    heldSinceMs_ = NowMs();
  } else {
    lastReceivedMs_ += NowMs() - heldSinceMs_;
  }
}

void TPartDownloader::Abort() { aborted_ = true; }

void TPartDownloader::Pause() {
  StopTimeOutTimer();
  StopStallWatch();
  paused_ = true;
}

void TPartDownloader::RaiseChange() {
  const auto handler = OnChange;
  if (!handler) return;
  const TEventDepth::TRaising raising(events_);
  try {
    handler(*this, state_);
  } catch (...) {
    LogError("TPartDownloader.OnChange");
  }
}

void TPartDownloader::Fail(int code, const TDownloadStatus& status, const std::string& detail) {
  errorCode_ = code;
  errorStatus_ = status;
  errorDetail_ = detail;
  SetState(psError);
}

void TPartDownloader::BeginStart() {
  aborted_ = false;
  paused_ = false;
  errorCode_ = 0;
  errorStatus_ = TDownloadStatus();
  errorDetail_.clear();
  retryAfter_ = -1;
  transferSize_ = 0;
  sizeLearned_ = false;
  eTag_.clear();
  lastModified_.clear();
  serverDigest_.reset();
  answerUrl_.clear();
}

bool TPartDownloader::Pending() const { return timeOutTimer_->Enabled() || stallTimer_->Enabled(); }

void TPartDownloader::SetResume(bool supported) {
  resumeSupported_ = supported ? 0 : 1;
  resumeText_ = supported ? "Yes" : "No";
}

void TPartDownloader::SetUrl(const std::string& url) { url_ = std::make_unique<TUrl>(url); }

void TPartDownloader::SetValidators(std::string eTag, std::string lastModified, std::string answerUrl) {
  eTag_ = std::move(eTag);
  lastModified_ = std::move(lastModified);
  answerUrl_ = std::move(answerUrl);
}

void TPartDownloader::StartTimeOutTimer(int64_t ms) {
  timeOutTimer_->SetEnabled(false);
  timeOutTimer_->SetInterval(ms);
  timeOutTimer_->OnTimer = [this] {
    try {
      OnTimeOut();
    } catch (...) {
      LogError("TPartDownloader.OnTimeOut");
    }
  };
  timeOutTimer_->SetEnabled(true);
}

void TPartDownloader::StopTimeOutTimer() { timeOutTimer_->SetEnabled(false); }

void TPartDownloader::OnTimeOut() {
  StopTimeOutTimer();
  Fail(kPartErrTimeoutOrLost, TDownloadState::Timeout);
  Stop();
}

int64_t TPartDownloader::NowMs() const { return loop_->GetClock().MonotonicMs(); }

void TPartDownloader::StartStallWatch() {
  const int seconds = settings_.Read(setting::StallTimeOut);
  stallMs_ = static_cast<int64_t>(seconds > 0 ? seconds : setting::StallTimeOut.Default()) * 1000;
  lastReceivedMs_ = NowMs();
  heldSinceMs_ = lastReceivedMs_;
  // Re-armed from the last arrival when it fires, rather than restarted for
  // every chunk.
  stallTimer_->SetEnabled(false);
  stallTimer_->SetInterval(stallMs_);
  stallTimer_->SetEnabled(true);
}

void TPartDownloader::StopStallWatch() { stallTimer_->SetEnabled(false); }

void TPartDownloader::CheckStall() {
  const int64_t quiet = (stallHeld_ ? heldSinceMs_ : NowMs()) - lastReceivedMs_;
  if (quiet < stallMs_) {
    stallTimer_->SetInterval(stallMs_ - quiet);
    return;
  }
  StopStallWatch();
  OnStall();
}

void TPartDownloader::OnStall() {
  StopTimeOutTimer();
  Fail(kPartErrTimeoutOrLost, TDownloadState::LostConnection);
  Stop();
}

int64_t TPartDownloader::BytesNeeded() const {
  if (EndByte() > 0) return EndByte() - StartByte() + 1;
  if (SizeLearned() && TransferSize() >= 0) return std::max<int64_t>(0, TransferSize() - StartByte());
  return -1;
}

int64_t TPartDownloader::WriteLimit() const {
  int64_t limit = EndByte() > 0 ? EndByte() - StartByte() + 1 : -1;
  if (SizeLearned() && TransferSize() >= 0) {
    const int64_t rest = std::max<int64_t>(0, TransferSize() - StartByte());
    limit = limit < 0 ? rest : std::min(limit, rest);
  }
  return limit;
}

}  // namespace brindle
