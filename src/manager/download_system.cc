#include "manager/download_system.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "core/crash_point.h"
#include "core/date_time.h"
#include "core/event_loop.h"
#include "core/file_names.h"
#include "core/liveness_check.h"
#include "core/log_error.h"
#include "core/partial_folder_index.h"
#include "core/paths.h"
#include "core/presentation.h"
#include "core/settings_schema.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "engine/combine_parts.h"
#include "engine/downloader.h"
#include "engine/file_mirror.h"
#include "engine/mirror_list.h"
#include "engine/part_download_slot.h"
#include "engine/part_download_slots.h"
#include "engine/speed_limiter.h"
#include "manager/after_downloads.h"
#include "manager/category_list.h"
#include "manager/download_file_name.h"
#include "manager/download_complete_model.h"
#include "manager/download_forms.h"
#include "manager/download_list_filters.h"
#include "manager/download_list_model.h"
#include "manager/local_download_info.h"
#include "manager/mirror_list_file.h"
#include "manager/server_stats.h"

namespace brindle {
namespace {

TLocalDownloadinfo& RecordOf(TDownloader& downloader) {
  // Every downloader of the system is made for one of its records.
  return static_cast<TLocalDownloadinfo&>(downloader.LDI());
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
}

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* entry = readdir(d)) names.emplace_back(entry->d_name);
    closedir(d);
  }
  return names;
}

// Every "<base>.*" but "<base>.dat", found by listing the base's directory:
// for a record outside the indexed one.
std::vector<std::string> ListedFilesOf(const std::string& basePath) {
  const std::string prefix = NameOf(basePath) + ".";
  const std::string dir = DirectoryOf(basePath);
  std::vector<std::string> files;
  for (const std::string& name : DirectoryNames(dir))
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 && name != prefix + "dat")
      files.push_back(dir + "/" + name);
  return files;
}

int SlotIndex(TDownloader& downloader, const TPartDownloadSlot& slot) {
  for (int i = 0; i < downloader.Slots().NumberOfSlots(); ++i)
    if (downloader.Slots().GetSlot(i) == &slot) return i;
  return -1;
}

}  // namespace

TDownloadSystem::TDownloadSystem(TDownloadSystemServices services)
    : services_(std::move(services)),
      loop_(services_.Loop ? services_.Loop : EventLoop::Current()),
      model_(*services_.Model),
      filter_([this] { return ShowAllRecords(downloadList_); }) {
  speedLimiter_ = std::make_unique<TSpeedLimiter>(loop_);
  ApplySpeedLimitSettings();
  releaseTimer_ = std::make_unique<TTimer>(loop_);
  releaseTimer_->SetInterval(kReleaseIntervalMs);
  releaseTimer_->OnTimer = [this] { Release(); };
  releaseTimer_->SetEnabled(true);
  model_.SetBytesDownloaded([this](const std::string& basePath) { return BytesDownloaded(basePath); });
  UpdateGridInfo();
  liveness_ = std::make_unique<TLivenessCheck>(*loop_, [this] { return Stuck(); });
}

TDownloadSystem::~TDownloadSystem() {
  loop_->CancelPosts(this);
  // The downloaders refer to their records: they go first.
  activeList_.clear();
  formsList_.clear();
}

void TDownloadSystem::ApplySpeedLimitSettings() {
  const int64_t limit = Read(setting::SpeedLimit);
  const bool enabled = Read(setting::SpeedLimitEnabled);
  speedLimiter_->SetRate(enabled && limit > 0 ? std::min(limit, kMaxSpeedLimitKiB) * 1024 : 0);
}

void TDownloadSystem::SetDownloadSpeedLimit(TLocalDownloadinfo* record, int64_t kiloBytesPerSecond) {
  if (!record) return;
  record->SpeedLimit = std::clamp<int64_t>(kiloBytesPerSecond, 0, kMaxSpeedLimitKiB);
  record->Save();
  if (TDownloader* downloader = AssociatedDownloader(record)) downloader->SetSpeedLimit(record->SpeedLimit * 1024);
}

// ---- Loading ----

std::vector<std::string> TDownloadSystem::GetDatFileNames() {
  std::string dir = Read(setting::PartialDownloadsDirectory);
  if (dir.empty() || dir.back() != '/') dir += '/';
  std::vector<std::string> paths;
  for (const std::string& name : DirectoryNames(dir))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0) paths.push_back(dir + name);
  return paths;
}

int64_t TDownloadSystem::BytesDownloaded(const std::string& basePath) const {
  const bool indexed = folder_ && folder_->Holds(basePath);
  int64_t total = 0;
  for (const std::string& path : indexed ? folder_->FilesOf(basePath) : ListedFilesOf(basePath)) {
    if (NameOf(path).find(".dat") != std::string::npos) continue;
    // Only what lies in the folder: a link there says nothing of what was
    // downloaded.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) total += st.st_size;
  }
  return total;
}

TPartialFolderIndex& TDownloadSystem::Folder() {
  std::string dir = Read(setting::PartialDownloadsDirectory);
  if (dir.empty() || dir.back() != '/') dir += '/';
  if (!folder_) {
    folder_ = std::make_unique<TPartialFolderIndex>(dir);
  } else if (folder_->Directory() != dir) {
    // Running downloads hold the index; their records, in the old
    // directory, are no longer in it and are looked for on disk.
    folder_->Read(dir);
  }
  return *folder_;
}

std::string TDownloadSystem::NewTempFileName() {
  try {
    return Folder().NewBasePath();
  } catch (...) {
    LogError("TDownloadSystem.NewTempFileName");
    return "";
  }
}

void TDownloadSystem::DeletePartFiles(const std::string& basePath) {
  try {
    if (folder_ && folder_->Holds(basePath)) {
      for (const std::string& path : folder_->FilesOf(basePath)) {
        ::unlink(path.c_str());
        folder_->Check(path);
      }
    } else {
      for (const std::string& path : ListedFilesOf(basePath)) ::unlink(path.c_str());
    }
  } catch (...) {
    LogError("TDownloadSystem.DeletePartFiles");
  }
}

void TDownloadSystem::NotePartFiles(const TDownloader& downloader) {
  if (!folder_) return;
  for (const int64_t start : downloader.PartFileStarts())
    folder_->Check(downloader.LDI().TempFileName + "." + std::to_string(start));
}

void TDownloadSystem::UpdateGridInfo() {
  for (const std::string& path : Folder().ListedRecordFiles()) {
    try {
      auto record = std::make_unique<TLocalDownloadinfo>(nullptr, path.substr(0, path.size() - 4),
                                                         services_.Categories);
      // Nothing runs yet: a download that ran when its program ended (even
      // one still contacting its server) is paused.
      const TDownloadStatus& status = record->Status();
      if (status.Running() || status == TDownloadState::Queued || status == TDownloadState::CombiningFiles) {
        record->SetStatus(TDownloadState::Paused);
        record->Save();
      }
      // A crash after the join's rename but before the record was saved:
      // the finished file is there and the parts are gone. (After a
      // checksum mismatch, saved, what is there is some other file.)
      if (record->Status() != TDownloadState::Done && record->Status() != TDownloadState::ChecksumMismatch &&
          record->FileSize > 0 && !record->LocalFileName.empty() &&
          folder_->PartStarts(record->TempFileName).empty() && FileSizeOf(record->LocalFileName) == record->FileSize) {
        record->SetStatus(TDownloadState::Done);
        record->Save();
      }
      Adopt(std::move(record));
    } catch (...) {
      LogError("TDownloadSystem.UpdateGridInfo");
    }
  }
  RefreshList();
}

TLocalDownloadinfo* TDownloadSystem::Adopt(std::unique_ptr<TLocalDownloadinfo> record) {
  TLocalDownloadinfo* raw = record.get();
  records_.push_back(std::move(record));
  downloadList_.Add(raw);
  return raw;
}

std::unique_ptr<TLocalDownloadinfo> TDownloadSystem::Disown(TLocalDownloadinfo* record) {
  downloadList_.Remove(record);
  for (auto it = records_.begin(); it != records_.end(); ++it) {
    if (it->get() != record) continue;
    auto owned = std::move(*it);
    records_.erase(it);
    return owned;
  }
  return nullptr;
}

// ---- Starting ----

TLocalDownloadinfo* TDownloadSystem::AddDownload(std::unique_ptr<TLocalDownloadinfo> record, bool allowDialog,
                                                 int splitParts) {
  if (!record) return nullptr;
  TLocalDownloadinfo* raw = Adopt(std::move(record));
  AddDownload(raw, allowDialog, splitParts);
  return raw;
}

void TDownloadSystem::AddDownload(TLocalDownloadinfo* record, bool allowDialog, int splitParts) {
  try {
    if (!record || exiting_ || AssociatedDownloader(record)) return;
    record->RetryTimer.reset();

    TDownloaderOptions options;
    options.SplitParts = splitParts > 0 ? splitParts : Read(setting::SplitParts);
    options.UseLocalMirrorList = Read(setting::TryLocalMirrorlist);
    TServerStats* stats = services_.ServerStats;
    options.LocalMirrors = [stats](const TUrl& url, TMirrorList& mirrors) {
      std::unique_ptr<TMirrorList> found = GetMirrors(url.Url);
      if (!found) return;
      if (stats) stats->SortMirrors(*found);
      for (int i = 0; i < found->Count(); ++i) mirrors.Add(found->Get(i));
    };
    options.Ping = services_.Ping;
    options.Loop = loop_;
    options.Limiter = speedLimiter_.get();
    options.PartFiles = folder_.get();
    auto downloader = std::make_unique<TDownloader>(*record, std::move(options));
    TDownloader* d = downloader.get();

    d->OnFileSizeRequestDone = [this](TDownloader& x) { DownloaderFileSizeRequestDone(x); };
    d->OnStartDownload = [this](TDownloader& x) { DownloaderStartDownload(x); };
    d->OnUpdate = [this](TDownloader& x) { DownloaderUpdate(x); };
    d->OnResume = [this](TDownloader& x) { DownloaderResume(x); };
    d->OnSlotChange = [this](TDownloader& x, TPartDownloadSlot& slot) {
      TDownloadForms* forms = GetDownloadForms(&x);
      if (forms && forms->DownloadWindow) forms->DownloadWindow->RefreshSlot(SlotIndex(x, slot));
    };
    d->OnSlotDelete = [this](TDownloader& x, TPartDownloadSlot& slot) {
      TDownloadForms* forms = GetDownloadForms(&x);
      if (forms && forms->DownloadWindow && forms->DownloadWindow->Visible())
        forms->DownloadWindow->RemoveSlot(SlotIndex(x, slot));
    };
    d->OnPingedMirror = [stats](TDownloader&, TFileMirror& mirror, int) {
      if (stats) stats->AddPing(mirror.Url->Host, mirror.PingTime);
    };
    d->OnServerSpeed = [stats](const std::string& host, int64_t speed) {
      if (stats) stats->AddSpeed(host, speed);
    };
    d->OnDownloadError = [this](TDownloader& x) { DownloaderError(x); };
    d->OnAllPartsDone = [this](TDownloader& x) { DownloaderAllPartsDone(x); };
    d->OnAbort = [this](TDownloader& x) { DownloaderAbort(x); };
    d->OnStartOver = [this](TDownloader& x) {
      if (OnDownloadStartedOver) OnDownloadStartedOver(RecordOf(x));
    };
    d->OnPause = [this](TDownloader& x) { DownloaderPause(x); };

    activeList_.push_back(d);
    formsList_.push_back(std::make_unique<TDownloadForms>(std::move(downloader)));
    TDownloadForms& forms = *formsList_.back();

    if (record->LocalFileName.empty()) {
      TFileNameChoice choice;
      choice.Categories = services_.Categories;
      choice.MayAsk = allowDialog;
      choice.InUse = [this](const std::string& name) { return FileNameInUse(name); };
      record->LocalFileName = ChooseLocalFileName(*record, choice);
    }
    // Saved once here, as running and with its name when it has one: a
    // crash before the first answer leaves a record the next start pauses.
    // The first answer's save makes it durable.
    record->Save(TDurability::Unsynced);

    if (record->LocalFileName.empty()) {
      forms.NewDownloadDialog = services_.Windows->CreateNewDownloadDialog(
          *d, *record, [this, d](const TNewDownloadAnswer& answer) { NewDownloadAnswered(d, answer); });
      const TDownloadStatus contacting = TDownloadState::ContactingHost;
      forms.NewDownloadDialog->SetSizeText(contacting.Text(), contacting.Color());
      forms.NewDownloadDialog->Show();
      return;
    }
    TryToStartDownload(*d);
  } catch (...) {
    LogError("TDownloadSystem.AddDownload");
  }
}

void TDownloadSystem::NewDownloadAnswered(TDownloader* downloader, const TNewDownloadAnswer& answer) {
  try {
    TDownloadForms* forms = GetDownloadForms(downloader);
    if (!forms || forms->Release) return;
    TLocalDownloadinfo& record = RecordOf(*downloader);
    const auto takeAnswer = [this, &record, &answer] {
      record.LocalFileName = answer.LocalFileName;
      record.Category = services_.Categories && !answer.Category.empty()
                            ? services_.Categories->GetByName(answer.Category)
                            : nullptr;
      record.Description = answer.Description;
      record.Checksum = answer.Checksum;
    };
    switch (answer.Kind) {
      case TNewDownloadAnswer::TKind::Start:
        takeAnswer();
        record.Save();
        TryToStartDownload(*downloader);
        break;
      case TNewDownloadAnswer::TKind::Schedule:
        takeAnswer();
        record.SetStatus(TDownloadState::Scheduled);
        record.Save();
        RefreshList();
        // Pausing releases the downloader; the record keeps "Scheduled".
        downloader->Pause();
        record.SetStatus(TDownloadState::Scheduled);
        record.Save();
        UpdateGridRow(&record);
        RefreshList();
        break;
      case TNewDownloadAnswer::TKind::Cancel:
        downloader->Abort();
        break;
    }
  } catch (...) {
    LogError("TDownloadSystem.NewDownloadAnswered");
  }
}

int TDownloadSystem::RunningCount() const {
  int running = 0;
  for (TDownloader* d : activeList_)
    if (d->LDI().Status().Running()) ++running;
  return running;
}

void TDownloadSystem::TryToStartDownload(TDownloader& downloader) {
  try {
    TLocalDownloadinfo& record = RecordOf(downloader);
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (!forms || forms->Release) return;
    RefreshList();
    model_.BindDownloader(&record, &forms->Progress());
    if (RunningCount() <= Read(setting::MaxSimultaneousDownloads)) {
      downloader.StartDownload();
    } else {
      // The queued record gets a new downloader when it leaves the queue.
      LeaveActiveList(downloader);
      downloader.OnPause = nullptr;
      downloader.Pause();
      record.SetStatus(TDownloadState::Queued);
      record.Save(TDurability::Unsynced);
      AllowFree(*forms);
      RefreshList();
    }
    UpdateGridRow(&record);
  } catch (...) {
    LogError("TDownloadSystem.TryToStartDownload");
  }
}

void TDownloadSystem::DownloadNextInQueue() {
  try {
    if (queueHeld_) return;
    std::vector<TLocalDownloadinfo*> queued;
    for (int i = 0; i < downloadList_.Count(); ++i)
      if (downloadList_.Get(i)->Status() == TDownloadState::Queued) queued.push_back(downloadList_.Get(i));
    const int limit = Read(setting::MaxSimultaneousDownloads);
    for (TLocalDownloadinfo* record : queued) {
      // A record that would only be queued again keeps waiting without a
      // downloader contacting its server for nothing.
      if (RunningCount() >= limit) break;
      if (record->Status() == TDownloadState::Queued) AddDownload(record);
    }
  } catch (...) {
    LogError("TDownloadSystem.DownloadNextInQueue");
  }
}

// ---- Commands ----

void TDownloadSystem::PauseDownload(TLocalDownloadinfo* record) {
  try {
    if (!record) return;
    if (TDownloader* d = AssociatedDownloader(record)) {
      d->Pause();
    } else if (record->Status() == TDownloadState::Queued || record->Status() == TDownloadState::Scheduled ||
               record->Status().Color() == TStatusColor::Error) {
      record->RetryTimer.reset();
      record->SetStatus(TDownloadState::Paused);
      record->Save();
      UpdateGridRow(record);
    }
  } catch (...) {
    LogError("TDownloadSystem.PauseDownload");
  }
}

void TDownloadSystem::PauseAll() {
  try {
    for (int i = 0; i < downloadList_.Count(); ++i) {
      TLocalDownloadinfo* record = downloadList_.Get(i);
      if (record->Status() == TDownloadState::Queued || record->Status() == TDownloadState::Scheduled) {
        record->SetStatus(TDownloadState::Paused);
        record->Save();
        UpdateGridRow(record);
      }
    }
    PauseRunning();
  } catch (...) {
    LogError("TDownloadSystem.PauseAll");
  }
}

void TDownloadSystem::PauseForExit() {
  try {
    exiting_ = true;
    PauseRunning();
  } catch (...) {
    LogError("TDownloadSystem.PauseForExit");
  }
}

void TDownloadSystem::PauseRunning() {
  const std::vector<TDownloader*> running = activeList_;
  for (TDownloader* d : running)
    if (IsActive(*d)) d->Pause();
}

void TDownloadSystem::DeleteDownload(TLocalDownloadinfo* record) {
  try {
    if (!record) return;
    if (TDownloader* d = AssociatedDownloader(record)) {
      d->Abort();
      return;
    }
    record->RetryTimer.reset();
    model_.RemoveFromStringGrid(record);
    record->ForgetBrowserSecrets();
    record->DeleteDatFile();
    DeletePartFiles(record->TempFileName);
    std::unique_ptr<TLocalDownloadinfo> owned = Disown(record);
    // A downloader released but not destroyed yet still refers to it.
    for (const auto& forms : formsList_)
      if (&forms->Downloader().LDI() == record) forms->KeptRecord = std::move(owned);
    RefreshList();
  } catch (...) {
    LogError("TDownloadSystem.DeleteDownload");
  }
}

// ---- Lookups ----

bool TDownloadSystem::FileNameInUse(const std::string& fileName) const {
  for (int i = 0; i < downloadList_.Count(); ++i) {
    const TLocalDownloadinfo* record = downloadList_.Get(i);
    if (record->Status() != TDownloadState::Done && record->LocalFileName == fileName) return true;
  }
  return false;
}

TDownloadForms* TDownloadSystem::GetDownloadForms(const TDownloader* downloader) const {
  for (const auto& forms : formsList_)
    if (&forms->Downloader() == downloader) return forms.get();
  return nullptr;
}

TDownloader* TDownloadSystem::AssociatedDownloader(const TLocalDownloadinfo* record) const {
  for (TDownloader* d : activeList_)
    if (&d->LDI() == record) return d;
  return nullptr;
}

TLocalDownloadinfo* TDownloadSystem::AssociatedLDI(const TDownloader* downloader) const {
  const TDownloadForms* forms = GetDownloadForms(downloader);
  return forms ? model_.AssociatedLDI(&forms->Progress()) : nullptr;
}

bool TDownloadSystem::IsActive(const TDownloader& downloader) const {
  return std::find(activeList_.begin(), activeList_.end(), &downloader) != activeList_.end();
}

std::string TDownloadSystem::Stuck() const {
  for (const auto& owned : records_) {
    const TLocalDownloadinfo& record = *owned;
    const bool combining = record.Status() == TDownloadState::CombiningFiles;
    if (!combining && !record.Status().Running()) continue;
    const TDownloadForms* forms = nullptr;
    for (const auto& f : formsList_)
      if (!f->Release && &f->Downloader().LDI() == &record) forms = f.get();
    if (forms) {
      if (combining ? forms->Combiner && forms->Combiner->Running() : forms->Downloader().Pending()) continue;
      // The new-download dialog waits for the user's answer.
      if (forms->NewDownloadDialog && record.LocalFileName.empty()) continue;
    }
    return record.Url->Url + " stays \"" + record.Status().Text() + "\"";
  }
  return "";
}

void TDownloadSystem::LeaveActiveList(TDownloader& downloader) {
  const auto found = std::find(activeList_.begin(), activeList_.end(), &downloader);
  if (found == activeList_.end()) return;
  activeList_.erase(found);
  // From now on the record's row shows what its part files hold.
  NotePartFiles(downloader);
}

// ---- Windows and list ----

void TDownloadSystem::ShowDownloadForm(TDownloader& downloader) {
  try {
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (!forms) return;
    if (!forms->DownloadWindow) forms->DownloadWindow = services_.Windows->CreateDownloadWindow(downloader);
    forms->DownloadWindow->Refresh();
    forms->DownloadWindow->Show();
  } catch (...) {
    LogError("TDownloadSystem.ShowDownloadForm");
  }
}

void TDownloadSystem::HideDownloadForm(TDownloader& downloader) {
  TDownloadForms* forms = GetDownloadForms(&downloader);
  if (forms && forms->DownloadWindow) forms->DownloadWindow->Hide();
}

bool TDownloadSystem::UpdateGridRow(const TLocalDownloadinfo* record) { return model_.UpdateGridRow(record); }

void TDownloadSystem::PopulateGrid(const TLDIList& records) {
  if (!services_.ListShown) return;
  model_.PopulateGrid(records, [this](TLocalDownloadinfo* record) -> TRowProgress* {
    TDownloader* d = AssociatedDownloader(record);
    TDownloadForms* forms = d ? GetDownloadForms(d) : nullptr;
    return forms ? &forms->Progress() : nullptr;
  });
}

void TDownloadSystem::RefreshList() { PopulateGrid(filter_()); }

void TDownloadSystem::ShowAll() {
  filter_ = [this] { return ShowAllRecords(downloadList_); };
  RefreshList();
}

void TDownloadSystem::ShowStatus(const TDownloadStatus& status) {
  filter_ = [this, status] {
    TLDIList active;
    for (TDownloader* d : activeList_) active.Add(&RecordOf(*d));
    return ShowStatusRecords(downloadList_, active, status);
  };
  RefreshList();
}

void TDownloadSystem::ShowAllStatus() {
  filter_ = [this] { return ShowAllStatusRecords(downloadList_); };
  RefreshList();
}

void TDownloadSystem::ShowCategory(const std::string& name) {
  filter_ = [this, name] {
    if (!services_.Categories) return ShowCategoryRecords(downloadList_, TCategoryList(""), name);
    return ShowCategoryRecords(downloadList_, *services_.Categories, name);
  };
  RefreshList();
}

void TDownloadSystem::ShowAllCategory() {
  filter_ = [this] { return ShowAllCategoryRecords(downloadList_); };
  RefreshList();
}

void TDownloadSystem::ShowHistory(const std::string& period) {
  filter_ = [this, period] { return ShowHistoryRecords(downloadList_, period, Now()); };
  RefreshList();
}

// ---- Release ----

void TDownloadSystem::AllowFree(TDownloadForms& forms) {
  const bool first = !forms.Release;
  forms.Release = true;
  model_.UnbindDownloader(&forms.Progress());
  LeaveActiveList(forms.Downloader());
  if (first && forms.Completed) RunAfterDownloadsIfDue();
}

void TDownloadSystem::RunAfterDownloadsIfDue() {
  if (!activeList_.empty() || !services_.AfterDownloads) return;
  for (int i = 0; i < downloadList_.Count(); ++i)
    if (downloadList_.Get(i)->Status() == TDownloadState::Queued) return;
  // Outside the notification that got here, and only if nothing started
  // in the meantime.
  loop_->Post(this, [this] {
    if (activeList_.empty()) services_.AfterDownloads->Run();
  });
}

void TDownloadSystem::Release() {
  std::vector<std::unique_ptr<TDownloadForms>> released;
  for (auto it = formsList_.begin(); it != formsList_.end();) {
    if ((*it)->Release) {
      released.push_back(std::move(*it));
      it = formsList_.erase(it);
    } else {
      ++it;
    }
  }
  // released goes here, with its windows and downloader.
}

// ---- Notifications ----

void TDownloadSystem::DownloaderFileSizeRequestDone(TDownloader& downloader) {
  try {
    TLocalDownloadinfo& record = RecordOf(downloader);
    // The first answer's size and validators must survive a crash. When the
    // download may still be split, the downloader saves them with its parts:
    // a size saved here before the part files exist would keep the next
    // start from splitting and leave those files behind.
    if (downloader.ResumeSupported() == 1 || downloader.SplitParts() <= 1) record.Save(TDurability::Synced);
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (forms && forms->NewDownloadDialog) {
      forms->NewDownloadDialog->SetSizeText(BytesToPresentableString(record.FileSize), TStatusColor::Other);
      // A retry that got through undoes the error's disabled Start.
      forms->NewDownloadDialog->SetStartEnabled(true);
    }
  } catch (...) {
    LogError("TDownloadSystem.OnFileSizeRequestDone");
  }
}

void TDownloadSystem::DownloaderStartDownload(TDownloader& downloader) {
  try {
    ThrowPoint("start-download");
    if (Read(setting::ShowDownloadWindow)) ShowDownloadForm(downloader);
  } catch (...) {
    LogError("TDownloadSystem.OnStartDownload");
  }
}

void TDownloadSystem::DownloaderUpdate(TDownloader& downloader) {
  try {
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (forms && forms->DownloadWindow && forms->DownloadWindow->Visible()) forms->DownloadWindow->Refresh();
    UpdateGridRow(&RecordOf(downloader));
  } catch (...) {
    LogError("TDownloadSystem.OnUpdate");
  }
}

void TDownloadSystem::DownloaderResume(TDownloader& downloader) {
  try {
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (forms && forms->DownloadWindow) forms->DownloadWindow->Refresh();
    UpdateGridRow(&RecordOf(downloader));
  } catch (...) {
    LogError("TDownloadSystem.OnResume");
  }
}

void TDownloadSystem::DownloaderError(TDownloader& downloader) {
  try {
    TLocalDownloadinfo& record = RecordOf(downloader);
    if (record.Status() == TDownloadState::Scheduled) return;
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (!forms || forms->Release) return;
    const TStatusColor color = record.Status().Color();
    if (forms->NewDownloadDialog && forms->NewDownloadDialog->Visible()) {
      forms->NewDownloadDialog->SetSizeText("Error: " + downloader.Status().Text(), color);
      forms->NewDownloadDialog->SetStartEnabled(false);
    }
    if (forms->DownloadWindow && forms->DownloadWindow->Visible()) {
      forms->DownloadWindow->SetCaption(downloader.Status().Text() + ": " + NameOf(record.LocalFileName));
      forms->DownloadWindow->SetStatus(record.Status().Text(), color);
    }
    record.Save(TDurability::Unsynced);
    UpdateGridRow(&record);
    const bool failNow = !services_.RetryPermanentErrors && downloader.PermanentFailure();
    if (!failNow && downloader.CanRetry() && Read(setting::RetryTimes) > downloader.RetryCount()) {
      if (!record.RetryTimer) {
        record.RetryTimer = std::make_unique<TTimer>(loop_);
        const TTimer* timer = record.RetryTimer.get();
        record.RetryTimer->SetInterval(kRetryIntervalMs);
        record.RetryTimer->OnTimer = [this, timer] { RetryTick(timer); };
        // A busy server may say how long to wait, within reason.
        const int delay = Read(setting::RetryDelay);
        const int64_t asked = downloader.RetryAfter();
        record.RetryCountdown = asked >= 0 ? static_cast<int>(std::min<int64_t>(asked, 10LL * delay)) : delay;
        record.RetryTimer->SetEnabled(true);
        UpdateGridRow(&record);
      }
      return;
    }
    if (forms->DownloadWindow) forms->DownloadWindow->Hide();
    AllowFree(*forms);
    if (OnDownloadFailed) OnDownloadFailed(record);
    DownloadNextInQueue();
  } catch (...) {
    LogError("TDownloadSystem.OnDownloadError");
  }
}

void TDownloadSystem::RetryTick(const TTimer* timer) {
  try {
    TLocalDownloadinfo* record = downloadList_.FindByRetryTimer(timer);
    if (!record) return;
    --record->RetryCountdown;
    TDownloader* d = AssociatedDownloader(record);
    TDownloadForms* forms = d ? GetDownloadForms(d) : nullptr;
    TDownloadWindow* window = forms ? forms->DownloadWindow.get() : nullptr;
    const TStatusColor color = record->Status().Color();
    if (record->RetryCountdown <= 0) {
      record->RetryTimer.reset();  // the timer's own handler: TTimer allows it
      if (d) d->RestartDownload();
      if (window) window->SetStatus(StatusText(TDownloadState::ContactingHost), color);
    } else if (window) {
      window->SetStatus(record->Status().Text() + " (" + std::to_string(record->RetryCountdown) + ")", color);
    }
    UpdateGridRow(record);
  } catch (...) {
    LogError("TDownloadSystem.RetryTimer");
  }
}

void TDownloadSystem::DownloaderAllPartsDone(TDownloader& downloader) {
  try {
    TLocalDownloadinfo& record = RecordOf(downloader);
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (!forms || forms->Release || forms->Combiner) return;
    downloader.UpdateTimer().SetEnabled(false);
    if (forms->DownloadWindow) forms->DownloadWindow->Hide();
    if (!record.LocalFileName.empty()) {
      record.SetStatus(TDownloadState::CombiningFiles);
      forms->Combiner = std::make_unique<TCombineParts>(record.TempFileName, record.FileSize, record.LocalFileName, loop_);
      forms->Combiner->Replace = record.ReplaceFile;
      forms->Combiner->Checksum = record.Checksum;
      forms->Combiner->ServerDigest = record.ServerDigest;
      forms->Combiner->Settings = downloader.Settings();
      TDownloader* d = &downloader;
      // A failed join tells the user why itself.
      forms->Combiner->OnFilesCombined = [this, d](bool success, const std::string&) { FilesCombined(*d, success); };
      forms->CombineWindow = services_.Windows->CreateCombineWindow(downloader, record);
      if (forms->CombineWindow) {
        const std::string target = record.LocalFileName;
        forms->Combiner->OnProgress = [this, d, target](int64_t written, int64_t total) {
          TDownloadForms* f = GetDownloadForms(d);
          if (f && f->CombineWindow) f->CombineWindow->SetProgress(target, written, total);
        };
        forms->CombineWindow->SetProgress(target, 0, record.FileSize);
        forms->CombineWindow->Show();
      }
      forms->Combiner->Start();
    }
    record.Save(TDurability::Unsynced);
    UpdateGridRow(&record);
    DownloadNextInQueue();
  } catch (...) {
    LogError("TDownloadSystem.OnAllPartsDone");
  }
}

void TDownloadSystem::FilesCombined(TDownloader& downloader, bool success) {
  try {
    TLocalDownloadinfo& record = RecordOf(downloader);
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (forms) forms->CombineWindow.reset();
    if (!forms || forms->Release) return;
    const std::string mismatch = forms->Combiner ? forms->Combiner->Mismatch() : "";
    if (!success || !mismatch.empty()) {
      // Without a mismatch the parts are all still there: Resume joins
      // again. With one, fetching the same bytes again would fail again: no
      // retry; Resume fetches the file anew.
      record.SetStatus(mismatch.empty() ? TDownloadStatus(TDownloadState::Paused)
                                        : TDownloadStatus::ChecksumMismatch(mismatch));
      record.ErrorDetail = mismatch.empty() ? "" : "kept as " + forms->Combiner->LclFileName();
      // The next attempt fetches the file anew and hears the server again.
      if (!mismatch.empty()) record.ServerDigest.reset();
      record.Save();
      AllowFree(*forms);
      UpdateGridRow(&record);
      if (OnDownloadFailed) OnDownloadFailed(record);
      DownloadNextInQueue();
      return;
    }
    // The name the join could claim: the one chosen, or its next free
    // "(n)" when that was taken meanwhile.
    if (forms->Combiner) record.LocalFileName = forms->Combiner->LclFileName();
    record.ReplaceFile = false;
    if (record.FileSize == -1) record.FileSize = FileSizeOf(record.LocalFileName);
    record.SetStatus(TDownloadState::Done);
    LeaveActiveList(downloader);
    forms->Completed = true;
    record.Save();
    RefreshList();
    if (OnDownloadDone) OnDownloadDone(record);
    if (!record.LocalFileName.empty() && !forms->CompleteDialog) {
      if (TDownloadCompleteModel::Wanted(record.Category)) {
        TDownloader* d = &downloader;
        forms->CompleteDialog = services_.Windows->CreateCompleteDialog(downloader, record, [this, d] {
          if (TDownloadForms* f = GetDownloadForms(d)) AllowFree(*f);
        });
        forms->CompleteDialog->Show();
      } else {
        AllowFree(*forms);
      }
    }
    if (Read(setting::RemoveSuccessfulDownloadFromList)) {
      model_.RemoveFromStringGrid(&record);
      record.DeleteDatFile();
      forms->KeptRecord = Disown(&record);
    }
    RefreshList();
  } catch (...) {
    LogError("TDownloadSystem.OnFilesCombined");
  }
}

void TDownloadSystem::DownloaderAbort(TDownloader& downloader) {
  try {
    TLocalDownloadinfo& record = RecordOf(downloader);
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (!forms || forms->Release) return;
    record.RetryTimer.reset();
    record.ForgetBrowserSecrets();
    record.DeleteDatFile();
    model_.RemoveFromStringGrid(&record);
    forms->KeptRecord = Disown(&record);
    if (forms->DownloadWindow) forms->DownloadWindow->Hide();
    AllowFree(*forms);
    RefreshList();
    DownloadNextInQueue();
  } catch (...) {
    LogError("TDownloadSystem.OnAbort");
  }
}

void TDownloadSystem::DownloaderPause(TDownloader& downloader) {
  try {
    TLocalDownloadinfo& record = RecordOf(downloader);
    TDownloadForms* forms = GetDownloadForms(&downloader);
    if (!forms || forms->Release) return;
    record.RetryTimer.reset();
    if (forms->DownloadWindow) forms->DownloadWindow->Hide();
    AllowFree(*forms);
    if (record.Status() != TDownloadState::Scheduled) {
      record.SetStatus(TDownloadState::Paused);
      record.Save();
    }
    if (UpdateGridRow(&record)) RefreshList();
    DownloadNextInQueue();
  } catch (...) {
    LogError("TDownloadSystem.OnPause");
  }
}

}  // namespace brindle
