#include "engine/downloader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "core/event_loop.h"
#include "core/liveness_check.h"
#include "core/log_error.h"
#include "core/owned_file.h"
#include "core/partial_folder_index.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "core/trace.h"
#include "engine/download_record.h"
#include "engine/file_mirror.h"
#include "engine/part_download_slot.h"
#include "engine/part_download_slots.h"
#include "engine/ping_system.h"
#include "engine/speed_limit_group.h"
#include "engine/transfer_speed.h"

namespace brindle {
namespace {

// Size of the part file at path; -1 when there is none of Brindle's own.
int64_t SizeOf(const std::string& path) { return OwnedFileSize(path); }

// Makes the part file at path exist, empty when it is new or flags hold
// O_TRUNC, and tells the index (may be nullptr) what is there now.
void CreatePartFile(const std::string& path, TPartialFolderIndex* index, int flags = 0) {
  const int fd = OpenOwnedFile(path, O_WRONLY | O_CREAT | flags);
  if (fd >= 0) {
    close(fd);
  } else {
    LogError("Couldn't open part file.", path + ": " + std::strerror(errno));
  }
  if (index) index->Check(path);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::string ErrorDetailOf(const TPartDownloadSlot& slot) {
  const TPartDownloader* part = slot.PartDownloader();
  return part ? part->ErrorDetail() : std::string();
}

// A mirror that failed for a reason time cannot change (a certificate) is
// never tried again for the download.
bool FailedForGood(const TFileMirror* mirror) { return mirror && mirror->ErrorCode == kPartErrCertificate; }

// Failures that time can mend: the next answer from the mirror clears them.
bool Mendable(int code) {
  return code == kPartErrTimeoutOrLost || code == kPartErrNoConnection || code == kPartErrBusy;
}

bool IsStrongETag(const std::string& eTag) { return !eTag.empty() && eTag.rfind("W/", 0) != 0; }

// Both answers carry the validator that tells, and it differs.
bool ValidatorsDiffer(const TServerValidators& first, const TServerValidators& now) {
  if (IsStrongETag(first.ETag) && IsStrongETag(now.ETag)) return first.ETag != now.ETag;
  return !first.LastModified.empty() && !now.LastModified.empty() && first.LastModified != now.LastModified;
}

}  // namespace

TDownloader::TDownloader(TDownloadRecord& record, TDownloaderOptions options)
    : loop_(options.Loop ? options.Loop : EventLoop::Current()),
      record_(record),
      options_(std::move(options)) {
  if (!loop_) throw std::logic_error("TDownloader: no event loop on this thread");
  retryCount_ = 0;
  if (options_.Limiter) {
    speedLimit_ = std::make_unique<TSpeedLimitGroup>(*options_.Limiter);
    speedLimit_->SetRate(record_.SpeedLimit * 1024);
  }
  slots_ = std::make_unique<TPartDownloadSlots>(loop_);
  updateTimer_ = std::make_unique<TTimer>(loop_);
  downloading_ = false;
  record_.SetStatus(TDownloadState::ContactingHost);
  resumeSupported_ = 2;
  resumeText_ = "Unknown";
  transferSpeed_ = std::make_unique<TTransferSpeed>(kSpeedWindow, loop_->GetClock());
  splitParts_ = std::max(1, options_.SplitParts);

  mainMirror_ = new TFileMirror(record_.Url->Url);
  mirrors_.Add(mainMirror_);
  pingSystem_ = std::make_unique<TPingSystem>(kMaxSimPings, loop_, options_.Ping);
  pingSystem_->OnPingedMirror = [this](TFileMirror& mirror) { PingedMirror(mirror); };
  pingSystem_->AddMirror(mainMirror_);

  if (options_.UseLocalMirrorList && options_.LocalMirrors) AddLocalMirrors();

  TPartDownloadSlot* slot0 = NewSlot();
  slot0->SetPartDownloaderStartByte(0);
  slot0->SetPartDownloaderEndByte(0);
  slot0->SetPartFileName(PartFileName(0));
  slot0->SetMirror(mainMirror_);
  slot0->SetFirstPiece(FirstPiece());

  if (record_.NumOfParts != -1 && PartFileStarts().empty()) {
    // Split once, but its parts are gone: everything is fetched anew.
    record_.NumOfParts = -1;
    record_.FileSize = 0;
  }
  if (record_.NumOfParts == -1) {
    slot0->Start(mainMirror_, ConnectTimeOut());
  } else {
    CreateParts();
  }
  liveness_ = std::make_unique<TLivenessCheck>(*loop_, [this] { return Stuck(); });
}

TDownloader::~TDownloader() {
  loop_->CancelPosts(this);
  try {
    updateTimer_->SetEnabled(false);
    parked_.clear();
    slots_.reset();
    pingSystem_.reset();
    mirrors_.DeleteAndFreeAllMirrors();
  } catch (...) {
    LogError("TDownloader.Destroy");
  }
}

void TDownloader::AddLocalMirrors() {
  TMirrorList found;
  try {
    options_.LocalMirrors(*record_.Url, found);
  } catch (...) {
    LogError("TDownloader.Create");
  }
  const bool secure = record_.Url->Protocol == "https";
  for (int i = 0; i < found.Count(); ++i) {
    TFileMirror* mirror = found.Get(i);
    // No part of a file asked for securely travels in the clear.
    if (secure && mirror->Url->Protocol != "https") {
      delete mirror;
      continue;
    }
    const std::string key = TDownloadRecord::ServerKey(*mirror->Url);
    TFileMirror* known = nullptr;
    for (int k = 0; k < mirrors_.Count() && !known; ++k)
      if (TDownloadRecord::ServerKey(*mirrors_.Get(k)->Url) == key) known = mirrors_.Get(k);
    if (!known) {
      mirrors_.Add(mirror);
      pingSystem_->AddMirror(mirror);
      continue;
    }
    // One entry per server: a second one would be loaded, pinged and failed
    // apart from the first. The record's own entry keeps the list's figures.
    if (known == mainMirror_ && mirror->Url->Url == mainMirror_->Url->Url) {
      mainMirror_->Location = mirror->Location;
      mainMirror_->Description = mirror->Description;
      mainMirror_->HostSpeed = mirror->HostSpeed;
      mainMirror_->DomainSpeed = mirror->DomainSpeed;
      mainMirror_->HostPing = mirror->HostPing;
      mainMirror_->DomainPing = mirror->DomainPing;
    }
    delete mirror;
  }
}

TPartDownloadSlot* TDownloader::NewSlot() {
  TPartDownloadSlot* slot = slots_->NewSlot();
  if (!record_.Referer.empty() || !record_.Cookie.empty())
    slot->SetOriginHeaders(TDownloadRecord::ServerKey(*record_.Url), record_.Referer, record_.Cookie);
  slot->OnChange = [this](TPartDownloadSlot& s, TPartDownloaderState state) { SlotChange(s, state); };
  slot->OnUpdate = [this](TPartDownloadSlot& s) { SlotUpdate(s); };
  slot->SetSpeedLimitGroup(speedLimit_.get());
  slot->SetSettings(options_.Settings);
  return slot;
}

void TDownloader::SetSpeedLimit(int64_t bytesPerSecond) {
  if (speedLimit_) speedLimit_->SetRate(bytesPerSecond);
}

std::string TDownloader::PartFileName(int64_t start) const {
  return record_.TempFileName + "." + std::to_string(start);
}

void TDownloader::DeletePartFile(int64_t start) {
  const std::string path = PartFileName(start);
  unlink(path.c_str());
  if (options_.PartFiles) options_.PartFiles->Check(path);
}

int64_t TDownloader::ConnectTimeOut() const { return options_.Settings.Read(setting::TimeOutTime); }

bool TDownloader::SizeLearned() const { return record_.FileSize != 0 || emptyFileKnown_; }

int TDownloader::IndexOf(const TPartDownloadSlot& slot) const {
  for (int i = 0; i < slots_->NumberOfSlots(); ++i)
    if (slots_->GetSlot(i) == &slot) return i;
  return -1;
}

void TDownloader::Raise(const std::function<void(TDownloader&)>& event) {
  if (!event) return;
  const auto handler = event;
  const TEventDepth::TRaising raising(events_);
  try {
    handler(*this);
  } catch (...) {
    LogError("TDownloader.Event");
  }
}

// ---- Operations ----

void TDownloader::Abort() {
  try {
    aborted_ = true;
    updateTimer_->SetEnabled(false);
    slots_->AbortAll();
    // Parts retired or not yet running leave nothing behind either.
    for (const int64_t start : PartFileStarts()) DeletePartFile(start);
    Raise(OnAbort);
  } catch (...) {
    LogError("TDownloader.Abort");
  }
}

void TDownloader::Pause() {
  try {
    paused_ = true;
    updateTimer_->SetEnabled(false);
    slots_->PauseAll();
    Raise(OnPause);
  } catch (...) {
    LogError("TDownloader.Pause");
  }
}

void TDownloader::StartDownload() {
  try {
    if (AllPartsDone() && !record_.LocalFileName.empty()) {
      Raise(OnAllPartsDone);
      return;
    }
    if (!mirrors_.GetMirror(record_.Url->Url)) mirrors_.Add(new TFileMirror(record_.Url->Url));
    Raise(OnStartDownload);
  } catch (...) {
    LogError("TDownloader.StartDownload");
  }
}

void TDownloader::RestartDownload() {
  try {
    ++retryCount_;
    errorRaised_ = false;
    permanentFailure_ = false;
    retryAfter_ = -1;
    // The first data after the restart says "Downloading" again.
    downloading_ = false;
    record_.SetStatus(TDownloadState::ContactingHost);
    std::vector<TPartDownloadSlot*> slots;
    for (int i = 0; i < slots_->NumberOfSlots(); ++i) slots.push_back(slots_->GetSlot(i));
    for (TPartDownloadSlot* slot : slots) {
      if (slot->Status() == TDownloadState::Done || IndexOf(*slot) < 0) continue;
      if (FailedForGood(slot->Mirror())) {
        TFileMirror* other = RetryMirror();
        if (!other) continue;
        slot->SetPartDownloader(nullptr);
        slot->SetMirror(other);
      }
      parked_.erase(slot);
      slot->Start(nullptr, kLaterTimeOutMs);
    }
  } catch (...) {
    LogError("TDownloader.RestartDownload");
  }
}

int64_t TDownloader::TransferCount() {
  int64_t total = 0;
  for (int i = 0; i < slots_->NumberOfSlots(); ++i) total += slots_->GetSlot(i)->TransferCount();
  totalCount_ = total;
  return total;
}

std::string TDownloader::TransferRate() const { return transferSpeed_ ? transferSpeed_->TransferRate() : "N/A"; }

std::string TDownloader::TimeLeft() {
  if (record_.FileSize <= 0 || !transferSpeed_) return "N/A";
  return transferSpeed_->TimeLeft(record_.FileSize - TransferCount());
}

bool TDownloader::AllPartsDone() const {
  if (record_.FileSize == -1) return unsizedTransferEnded_;
  if (record_.FileSize == 0) return emptyFileKnown_ && SizeOf(PartFileName(0)) == 0;
  int64_t offset = 0;
  for (int64_t size = SizeOf(PartFileName(0)); size > 0; size = SizeOf(PartFileName(offset))) offset += size;
  return offset == record_.FileSize;
}

bool TDownloader::CanRetry() const { return RetryMirror() != nullptr; }

bool TDownloader::Pending() const {
  if (handOversPending_ > 0) return true;
  for (int i = 0; i < slots_->NumberOfSlots(); ++i)
    if (slots_->GetSlot(i)->Pending()) return true;
  return false;
}

std::string TDownloader::Stuck() const {
  if (!record_.Status().Running() || aborted_ || paused_ || completionReported_ || Pending()) return "";
  // Every byte is there and the owner's question for a name is open.
  if (record_.LocalFileName.empty() && AllPartsDone()) return "";
  return record_.Url->Url + " stays \"" + record_.Status().Text() + "\"";
}

TFileMirror* TDownloader::RetryMirror() const {
  if (TFileMirror* usable = ChooseMirror()) return usable;
  for (int i = 0; i < mirrors_.Count(); ++i)
    if (!FailedForGood(mirrors_.Get(i))) return mirrors_.Get(i);
  return nullptr;
}

TFileMirror* TDownloader::ChooseMirror() const {
  std::vector<TFileMirror*> usable;
  for (int i = 0; i < mirrors_.Count(); ++i)
    if (mirrors_.Get(i)->ErrorCode == 0) usable.push_back(mirrors_.Get(i));
  const auto load = [this](const TFileMirror* mirror) {
    return static_cast<int64_t>(slots_->NumberOfSlotsUsingFileMirror(mirror) + 1) * mirror->PingTime;
  };
  for (size_t i = 0; i < usable.size(); ++i)
    if (i + 1 == usable.size() || load(usable[i]) <= load(usable[i + 1])) return usable[i];
  return nullptr;
}

// ---- Slot events ----

void TDownloader::SlotChange(TPartDownloadSlot& slot, TPartDownloaderState state) {
  try {
    HandleSlotChange(slot, state);
    if (IndexOf(slot) >= 0) {
      if (const auto handler = OnSlotChange) {
        const TEventDepth::TRaising raising(events_);
        handler(*this, slot);
      }
    }
  } catch (...) {
    LogError("TDownloader.SlotChange");
  }
}

void TDownloader::HandleSlotChange(TPartDownloadSlot& slot, TPartDownloaderState state) {
  const int index = IndexOf(slot);
  if (index < 0) return;
  TPartDownloader* part = slot.PartDownloader();
  switch (state) {
    case psConnecting:
      if (!downloading_) record_.SetStatus(TDownloadState::ContactingHost);
      break;
    case psConnected:
      if (!downloading_) record_.SetStatus(TDownloadState::GettingFileInfo);
      break;
    case psGotFileSize:
      HandleGotFileSize(slot, index);
      // Kept only from an answer taken as the file's.
      if (part && slot.PartDownloader() == part && part->State() != psError) KeepServerDigest(*part);
      break;
    case psGotResumeInfo:
      HandleGotResumeInfo(slot, index);
      break;
    case psDownloading:
      retryCount_ = 0;
      if (!downloading_ && !aborted_ && !paused_) {
        downloading_ = true;
        record_.SetStatus(TDownloadState::Downloading);
        updateTimer_->SetInterval(kUpdateIntervalMs);
        updateTimer_->OnTimer = [this] { OnUpdateTimer(); };
        updateTimer_->SetEnabled(true);
      }
      break;
    case psReachedEnd:
      if (!aborted_ && !paused_) TakeOverNextRange(slot, index);
      if (part && slot.PartDownloader() == part) part->SetState(psDownloading);
      break;
    case psDone:
      HandlePartDone(slot, index);
      break;
    case psError:
      HandleError(slot);
      break;
    default:
      // Aborted and paused were reported once by Abort and Pause.
      break;
  }
}

void TDownloader::HandleGotFileSize(TPartDownloadSlot& slot, int index) {
  TPartDownloader* part = slot.PartDownloader();
  if (!part) return;
  const int64_t stated = part->TransferSize();
  if (!SizeLearned()) {
    record_.FileSize = stated;
    emptyFileKnown_ = stated == 0 && part->SizeLearned();
    if (index != 0) return;
    Raise(OnFileSizeRequestDone);
    if (resumeSupported_ == 0 && slots_->NumberOfSlots() < splitParts_) {
      CreateParts();
      SaveParts(TDurability::Synced);
    }
    return;
  }
  // Every answer must be about the same file: another whole size means
  // another file (or another version), which is never mixed in. Without a
  // known size, a file now shorter than the bytes held has changed too.
  const int64_t known = record_.FileSize;
  if (!part->SizeLearned() || stated < 0) return;
  if (known >= 0 ? stated == known : stated >= slot.StartByte() + slot.TransferCount()) return;
  FileChanged(slot, *part, "size " + std::to_string(stated));
}

void TDownloader::HandleGotResumeInfo(TPartDownloadSlot& slot, int /*index*/) {
  TPartDownloader* part = slot.PartDownloader();
  if (!part) return;
  if (!CheckValidators(slot, *part)) return;
  answered_ = true;
  // The mirror answers again: a lost connection or a busy moment is over,
  // and it may take other parts.
  if (TFileMirror* mirror = slot.Mirror(); mirror && Mendable(mirror->ErrorCode)) mirror->ErrorCode = 0;
  if (resumeSupported_ != 2) return;
  resumeSupported_ = part->ResumeSupported();
  resumeText_ = part->ResumeText();
  Raise(OnResume);
  // The record must know the size too: a slot started over keeps the size
  // of its previous answer.
  if (resumeSupported_ == 0 && slots_->NumberOfSlots() < splitParts_ && slot.FileSize() > 0 && SizeLearned()) {
    CreateParts();
    SaveParts(TDurability::Synced);
  }
}

// The first whole-file digest a server sends is the download's: the join
// checks the file against it, also after a restart with every part done.
void TDownloader::KeepServerDigest(const TPartDownloader& part) {
  if (aborted_ || record_.ServerDigest || !part.ServerDigest()) return;
  record_.ServerDigest = part.ServerDigest();
  record_.Save(TDurability::Unsynced);
}

void TDownloader::SaveParts(TDurability durability) {
  record_.NumOfParts = slots_->NumberOfSlots();
  record_.Save(durability);
}

bool TDownloader::CheckValidators(TPartDownloadSlot& slot, TPartDownloader& part) {
  if (part.ETag().empty() && part.LastModified().empty()) return true;
  // Validators are a server's own: the servers a redirector sends each
  // request to tag equal bytes differently, so an answer is compared only
  // with the earlier answers of the server that gave it (and with the
  // others by its whole size).
  const std::string key = TDownloadRecord::ServerKey(TUrl(part.AnswerUrl()));
  const TServerValidators now{part.ETag(), part.LastModified()};
  const TServerValidators* first = record_.Validators(key);
  if (!first) {
    record_.SetValidators(key, now);
    record_.Save(TDurability::Unsynced);
    return true;
  }
  if (!ValidatorsDiffer(*first, now)) return true;
  FileChanged(slot, part, "validators");
  return false;
}

void TDownloader::FileChanged(TPartDownloadSlot& slot, TPartDownloader& part, const std::string& what) {
  const TFileMirror* mirror = slot.Mirror();
  const std::string key = TDownloadRecord::ServerKey(mirror ? *mirror->Url : part.Url());
  Trace("TDownloader: the file changed on " + key + " (" + what + ", answered by " + part.AnswerUrl() + ")");
  // The download's own address (or where it sends us) has a new version:
  // everything is fetched anew, once a run, so that a server switching
  // between versions cannot loop.
  if (key == TDownloadRecord::ServerKey(*record_.Url) && !startedOver_) {
    StartOver();
    return;
  }
  // Another version of the file: that server is not used again.
  part.Reject(kPartErrSizeMismatch, TDownloadState::FilesizeMismatch);
}

void TDownloader::StartOver() {
  startedOver_ = true;
  for (int i = 0; i < slots_->NumberOfSlots(); ++i) {
    TPartDownloadSlot* slot = slots_->GetSlot(i);
    std::unique_ptr<TPartDownloader> part = slot->TakePartDownloader();
    if (!part) continue;
    // Nothing more of the old version may reach a part file.
    part->SetState(psError);
    part->Stop();
    loop_->DeleteLater(std::move(part));
  }
  while (slots_->NumberOfSlots() > 1) {
    const int last = slots_->NumberOfSlots() - 1;
    TPartDownloadSlot* slot = slots_->GetSlot(last);
    if (const auto handler = OnSlotDelete) {
      const TEventDepth::TRaising raising(events_);
      handler(*this, *slot);
    }
    parked_.erase(slot);
    slots_->DeleteSlot(last);
  }
  for (const int64_t start : PartFileStarts()) DeletePartFile(start);
  record_.FileSize = 0;
  emptyFileKnown_ = false;
  record_.NumOfParts = -1;
  record_.ClearValidators();
  record_.ServerDigest.reset();
  record_.Save(TDurability::Unsynced);
  resumeSupported_ = 2;
  resumeText_ = "Unknown";
  splitParts_ = std::max(1, options_.SplitParts);
  TPartDownloadSlot* slot0 = slots_->GetSlot(0);
  parked_.erase(slot0);
  slot0->SetPartDownloaderEndByte(0);
  slot0->SetCount(0);
  slot0->SetFirstPiece(FirstPiece());
  slot0->Start(mainMirror_->ErrorCode == 0 ? mainMirror_ : nullptr, ConnectTimeOut());
  Raise(OnStartOver);
}

void TDownloader::TakeOverNextRange(TPartDownloadSlot& slot, int index) {
  TPartDownloadSlot* next = slots_->GetSlot(index + 1);
  if (!next || next->Status() == TDownloadState::Done || next->Status() == TDownloadState::Downloading || next->TransferCount() != 0)
    return;
  // A part whose answer has begun has its bytes on the way: taking its
  // range would have them sent twice.
  if (const TPartDownloader* part = next->PartDownloader()) {
    const TPartDownloaderState state = part->State();
    if (state == psGotFileSize || state == psGotResumeInfo || state == psReachedEnd) return;
  }
  next->SetPartDownloader(nullptr);
  DeletePartFile(next->StartByte());
  slot.SetPartDownloaderEndByte(next->EndByte());
  if (const auto handler = OnSlotDelete) {
    const TEventDepth::TRaising raising(events_);
    handler(*this, *next);
  }
  parked_.erase(next);
  slots_->DeleteSlot(index + 1);
  splitParts_ = std::max(1, splitParts_ - 1);
  SaveParts(TDurability::Unsynced);
}

void TDownloader::HandlePartDone(TPartDownloadSlot& slot, int index) {
  if (!aborted_ && !paused_ && slot.Speed() > 0 && slot.Mirror()) {
    if (const auto handler = OnServerSpeed) {
      const TEventDepth::TRaising raising(events_);
      try {
        handler(slot.Mirror()->Url->Host, slot.Speed());
      } catch (...) {
        LogError("TDownloader.OnServerSpeed");
      }
    }
  }
  slot.ResizePartFile();
  if (index == 0 && record_.FileSize == -1) unsizedTransferEnded_ = true;
  if (emptyFileKnown_ && index == 0) {
    // The empty file's only part: it exists even if no answer created it.
    CreatePartFile(PartFileName(0), options_.PartFiles);
  }
  if (aborted_ || paused_) {
    slot.SetPartDownloader(nullptr);
    return;
  }
  if (TPartDownloadSlot* parked = GetNextIdleSlot()) {
    HandOver(slot, *parked);
    return;
  }
  slot.SetPartDownloader(nullptr);
  return ReportCompletion();
}

// Once, and only when no part downloader is left that could still write:
// the parts are joined right after.
void TDownloader::ReportCompletion() {
  if (completionReported_ || record_.LocalFileName.empty() || !AllPartsDone()) return;
  for (int i = 0; i < slots_->NumberOfSlots(); ++i)
    if (slots_->GetSlot(i)->PartDownloader()) return;
  completionReported_ = true;
  Raise(OnAllPartsDone);
}

TPartDownloadSlot* TDownloader::GetNextIdleSlot() const {
  for (int i = 0; i < slots_->NumberOfSlots(); ++i) {
    TPartDownloadSlot* slot = slots_->GetSlot(i);
    if (IsParked(*slot)) return slot;
  }
  return nullptr;
}

void TDownloader::HandOver(TPartDownloadSlot& finished, TPartDownloadSlot& parked) {
  TFileMirror* mirror = finished.Mirror();
  parked_.erase(&parked);
  parked.SetMirror(mirror);
  parked.SetPartDownloader(finished.TakePartDownloader());
  // The part downloader is still inside its own completion: it starts over
  // once that has returned.
  TPartDownloadSlot* target = &parked;
  TPartDownloader* part = parked.PartDownloader();
  ++handOversPending_;
  loop_->Post(this, [this, target, part, mirror] {
    --handOversPending_;
    if (IndexOf(*target) < 0 || target->PartDownloader() != part || aborted_ || paused_) return;
    target->Start(mirror, kLaterTimeOutMs);
  });
}

void TDownloader::HandleError(TPartDownloadSlot& slot) {
  Trace("TDownloader.SlotChange (Error): " + (slot.Mirror() ? slot.Mirror()->Url->Url : record_.Url->Url));
  if (aborted_ || paused_) return;
  if (const TPartDownloader* part = slot.PartDownloader()) {
    retryAfter_ = std::max(retryAfter_, part->RetryAfter());
    const int code = part->ErrorCode();
    if (!answered_ && slot.Mirror() == mainMirror_ && (code == kPartErrGone || code == kPartErrLogin))
      permanentFailure_ = true;
  }
  if (!SizeLearned()) {
    status_ = slot.Status();
    record_.SetStatus(status_);
    record_.ErrorDetail = ErrorDetailOf(slot);
    Raise(OnDownloadError);
    return;
  }
  TryToChangeSlotMirror(slot);
}

void TDownloader::TryToChangeSlotMirror(TPartDownloadSlot& failing) {
  const TFileMirror* failed = failing.Mirror();
  MoveOrPark(failing);
  std::vector<TPartDownloadSlot*> others;
  for (int i = 0; i < slots_->NumberOfSlots(); ++i) {
    TPartDownloadSlot* slot = slots_->GetSlot(i);
    if (slot == &failing || slot->Mirror() != failed || IsParked(*slot)) continue;
    const TDownloadStatus& status = slot->Status();
    if (status == TDownloadState::Done || status == TDownloadState::Downloading ||
        status == TDownloadState::GettingFileInfo)
      continue;
    others.push_back(slot);
  }
  for (TPartDownloadSlot* slot : others) {
    if (IndexOf(*slot) < 0) continue;
    MoveOrPark(*slot);
  }
  if (!AllParked() || errorRaised_) return;
  errorRaised_ = true;
  status_ = failing.Status();
  record_.SetStatus(status_);
  record_.ErrorDetail = ErrorDetailOf(failing);
  Raise(OnDownloadError);
}

void TDownloader::MoveOrPark(TPartDownloadSlot& slot) {
  if (TFileMirror* mirror = ChooseMirror()) {
    Trace("New Mirror: " + mirror->Url->Url);
    parked_.erase(&slot);
    slot.SetPartDownloader(nullptr);
    slot.Start(mirror, kLaterTimeOutMs);
  } else {
    Trace("No New Mirror");
    Park(slot);
  }
}

void TDownloader::Park(TPartDownloadSlot& slot) {
  if (TPartDownloader* part = slot.PartDownloader()) part->SetState(psIdle);
  parked_.insert(&slot);
}

// A slot that failed before it had a part downloader (an address it cannot
// serve) is parked too, so that a hand-over can still revive it.
bool TDownloader::IsParked(const TPartDownloadSlot& slot) const {
  if (!parked_.count(&slot)) return false;
  const TPartDownloader* part = slot.PartDownloader();
  return !part || part->State() == psIdle;
}

bool TDownloader::AllParked() const {
  for (int i = 0; i < slots_->NumberOfSlots(); ++i) {
    const TPartDownloadSlot* slot = slots_->GetSlot(i);
    if (slot->PartDownloader() || slot->Status() != TDownloadState::Done)
      if (!IsParked(*slot)) return false;
  }
  return true;
}

void TDownloader::SlotUpdate(TPartDownloadSlot& slot) {
  try {
    if (const auto handler = OnSlotChange) {
      const TEventDepth::TRaising raising(events_);
      handler(*this, slot);
    }
  } catch (...) {
    LogError("TDownloader.OnSlotUpdate");
  }
}

void TDownloader::OnUpdateTimer() {
  try {
    transferSpeed_->Update(TransferCount());
    Raise(OnUpdate);
  } catch (...) {
    LogError("TDownloader.OnUpdateTimer");
  }
}

void TDownloader::PingedMirror(TFileMirror& mirror) {
  try {
    bool listed = false;
    for (int i = 0; i < mirrors_.Count(); ++i) listed = listed || mirrors_.Get(i) == &mirror;
    if (!listed) return;
    mirrors_.Remove(&mirror);
    mirrors_.InsertSorted(&mirror);
    int index = 0;
    while (mirrors_.Get(index) != &mirror) ++index;
    if (const auto handler = OnPingedMirror) {
      const TEventDepth::TRaising raising(events_);
      handler(*this, mirror, index);
    }
  } catch (...) {
    LogError("TDownloader.OnPingedMirror");
  }
}

// ---- Parts ----

std::vector<int64_t> TDownloader::PartFileStarts() const {
  std::vector<int64_t> starts;
  if (options_.PartFiles && options_.PartFiles->Holds(record_.TempFileName)) {
    starts = options_.PartFiles->PartStarts(record_.TempFileName);
    // The slots' part downloaders make their files without telling it.
    for (int i = 0; slots_ && i < slots_->NumberOfSlots(); ++i) {
      const TPartDownloadSlot* slot = slots_->GetSlot(i);
      if (Exists(slot->PartFileName())) starts.push_back(slot->StartByte());
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    return starts;
  }
  try {
    namespace fs = std::filesystem;
    const fs::path base(record_.TempFileName);
    const std::string prefix = base.filename().string() + ".";
    std::error_code error;
    const fs::path directory = base.has_parent_path() ? base.parent_path() : fs::path(".");
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string number = name.substr(prefix.size());
      if (number.size() > 18 || !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      starts.push_back(std::stoll(number));
    }
  } catch (...) {
    LogError("TDownloader.PartFileStarts");
  }
  std::sort(starts.begin(), starts.end());
  return starts;
}

void TDownloader::CreateParts() {
  try {
    // Complete already: reported now, or by the part still running when it ends.
    if (AllPartsDone() && !record_.LocalFileName.empty()) return ReportCompletion();
    const std::vector<int64_t> starts = PartFileStarts();
    if (!starts.empty() && record_.NumOfParts != -1) {
      ResumeParts(starts);
    } else {
      SplitNew();
    }
  } catch (...) {
    LogError("TDownloader.CreateParts");
  }
}

void TDownloader::ResumeParts(const std::vector<int64_t>& found) {
  const int64_t fileSize = record_.FileSize;
  // Slot 0 always holds the file's first byte; names past the end are not parts.
  std::vector<int64_t> starts{0};
  for (const int64_t start : found)
    if (start > 0 && (fileSize <= 0 || start < fileSize)) starts.push_back(start);
  splitParts_ = static_cast<int>(starts.size());

  for (size_t i = 1; i < starts.size(); ++i) {
    TPartDownloadSlot* slot = NewSlot();
    slot->SetPartDownloaderStartByte(starts[i]);
    slot->SetPartDownloaderEndByte(i + 1 < starts.size() ? starts[i + 1] - 1 : fileSize - 1);
    slot->SetPartFileName(PartFileName(starts[i]));
  }
  TPartDownloadSlot* slot0 = slots_->GetSlot(0);
  if (starts.size() > 1) {
    slot0->SetPartDownloaderEndByte(starts[1] - 1);
  } else if (fileSize > 0) {
    slot0->SetPartDownloaderEndByte(fileSize - 1);
  }

  std::vector<TPartDownloadSlot*> toStart;
  for (int i = 0; i < slots_->NumberOfSlots(); ++i) {
    TPartDownloadSlot* slot = slots_->GetSlot(i);
    int64_t count = std::max<int64_t>(0, SizeOf(slot->PartFileName()));
    if (slot->EndByte() > 0 && count > slot->RangeLength()) {
      // Bytes past the range belong to the next part: cut them off.
      if (TruncateOwnedFile(slot->PartFileName(), slot->RangeLength())) count = slot->RangeLength();
    }
    slot->SetCount(count);
    const TPartDownloadSlot* next = slots_->GetSlot(i + 1);
    const int64_t end = next ? next->StartByte() : fileSize;
    if (count > 0 && slot->StartByte() + count == end) {
      slot->SetMirror(nullptr);
      slot->SetStatus(TDownloadState::Done);
    } else {
      toStart.push_back(slot);
    }
  }
  for (TPartDownloadSlot* slot : toStart) {
    TFileMirror* mirror = ChooseMirror();
    if (mirror) {
      slot->Start(mirror, kLaterTimeOutMs);
    } else {
      Park(*slot);
    }
  }
}

// A file no bigger than the smallest split comes whole in the first piece;
// a bigger one is split on the size the piece's answer tells, before the
// server has sent anything past the first part.
int64_t TDownloader::FirstPiece() const {
  if (splitParts_ < 2) return 0;
  return std::max<int64_t>(64 * 1024, int64_t{options_.Settings.Read(setting::SmallestSplitSize)} * 1024);
}

void TDownloader::SplitNew() {
  const int64_t fileSize = record_.FileSize;
  const int64_t smallest = static_cast<int64_t>(options_.Settings.Read(setting::SmallestSplitSize)) * 1024;
  if (smallest >= fileSize || splitParts_ < 2) return;
  TPartDownloadSlot* slot0 = slots_->GetSlot(0);
  const int64_t received = slot0->TransferCount();
  const int64_t rest = fileSize - received;
  // Every part needs at least one byte: rounded up, a part size can leave
  // the last parts past the end, so fewer parts are made. Slot 0 cannot end
  // at byte 0, which would read as "no end".
  const auto partSize = [rest](int parts) {
    return static_cast<int64_t>(std::nearbyint(static_cast<double>(rest) / parts));
  };
  while (splitParts_ > 1 &&
         (partSize(splitParts_) * (splitParts_ - 1) >= rest || received + partSize(splitParts_) - 1 <= 0))
    --splitParts_;
  if (splitParts_ < 2) return;
  const int64_t part = partSize(splitParts_);

  std::vector<TPartDownloadSlot*> created;
  for (int k = 1; k < splitParts_; ++k) created.push_back(NewSlot());
  slot0->SetPartDownloaderEndByte(received + part - 1);
  for (int k = 1; k < splitParts_; ++k) {
    TPartDownloadSlot* slot = created[static_cast<size_t>(k - 1)];
    const int64_t start = received + part * k;
    slot->SetPartDownloaderStartByte(start);
    slot->SetPartDownloaderEndByte(k + 1 == splitParts_ ? fileSize - 1 : received + part * (k + 1) - 1);
    slot->SetPartFileName(PartFileName(start));
    // Whatever lies at a new part's name belongs to no part of this split:
    // a stale index or another program must not put it into the file.
    CreatePartFile(slot->PartFileName(), options_.PartFiles, O_TRUNC);
    slot->SetMirror(ChooseMirror());
  }
  for (TPartDownloadSlot* slot : created) {
    if (slot->Mirror()) {
      slot->Start(nullptr, kLaterTimeOutMs);
    } else {
      Park(*slot);
    }
  }
}

}  // namespace brindle
