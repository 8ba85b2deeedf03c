#include "manager/list_commands.h"

#include <sys/stat.h>

#include "core/launcher_port.h"
#include "core/log_error.h"
#include "core/owned_callback.h"
#include "core/prompt_port.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "core/url.h"
#include "engine/downloader.h"
#include "manager/download_list_model.h"
#include "manager/download_system.h"
#include "manager/accepted_url.h"
#include "manager/list_window_port.h"
#include "manager/local_download_info.h"
#include "manager/properties_model.h"
#include "manager/viewer_text.h"

namespace brindle {
namespace {

constexpr const char* kCaption = "Brindle";


bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

}  // namespace

TListCommands::TListCommands(TDownloadSystem& system, TDownloadListModel& model, TListWindowPort* windows)
    : system_(system), model_(model), windows_(windows) {}

TListCommands::~TListCommands() { CancelCallbacks(this); }

std::vector<TListCommands::THeld> TListCommands::Hold(const TLDIList& records) const {
  std::vector<THeld> held;
  for (int i = 0; i < records.Count(); ++i) held.push_back({records.Get(i), records.Get(i)->TempFileName});
  return held;
}

TLocalDownloadinfo* TListCommands::Live(const THeld& held) const {
  const TLDIList& list = system_.DownloadList();
  for (int i = 0; i < list.Count(); ++i)
    if (list.Get(i) == held.Record) return held.Record->TempFileName == held.TempFileName ? held.Record : nullptr;
  return nullptr;
}

TLocalDownloadinfo* TListCommands::CurrentRecord() const { return model_.Record(model_.CurrentRow()); }

TLocalDownloadinfo* TListCommands::Add(const std::string& typedUrl) {
  try {
    const std::string address = DownloadableAddress(typedUrl, false);
    if (address.empty()) return nullptr;
    return system_.AddDownload(
        std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(address), system_.NewTempFileName(), nullptr));
  } catch (...) {
    LogError("TForm_Main.AddURL");
    return nullptr;
  }
}

void TListCommands::Delete() {
  try {
    DeleteRecords(model_.GetSelectedFromStringGrid(), true);
  } catch (...) {
    LogError("TForm_Main.Delete");
  }
}

void TListCommands::DeleteAll() {
  try {
    TLDIList rows;
    for (int row = 0; row < model_.RowCount(); ++row)
      if (TLocalDownloadinfo* record = model_.Record(row)) rows.Add(record);
    DeleteRecords(rows, false);
  } catch (...) {
    LogError("TForm_Main.DeleteAll");
  }
}

void TListCommands::DeleteRecords(const TLDIList& records, bool keepSelection) {
  if (records.Count() == 0) return;
  bool allDone = true;
  for (int i = 0; i < records.Count(); ++i) allDone = allDone && records.Get(i)->Status() == TDownloadState::Done;
  // The question is answered later: act only on what still exists then.
  auto remove = [this, held = Hold(records), keepSelection] {
    try {
      // DeleteDownload leaves the finished file alone: only the record and
      // part files go, and a running download is aborted.
      for (const THeld& h : held)
        if (TLocalDownloadinfo* record = Live(h)) system_.DeleteDownload(record);
      if (!keepSelection) {
        model_.ClearSelection();
        model_.SetCurrentRow(-1);
      }
      system_.RefreshList();
    } catch (...) {
      LogError("TForm_Main.Delete");
    }
  };
  if (allDone) {
    remove();
    return;
  }
  Prompt().Ask(kCaption, kDeleteQuestion, OwnedCallback<bool>(this, [remove](bool yes) {
                 if (yes) remove();
               }));
}

void TListCommands::Pause() {
  try {
    const TLDIList selected = model_.GetSelectedFromStringGrid();
    TLDIList running;
    for (int i = 0; i < selected.Count(); ++i) {
      TLocalDownloadinfo* record = selected.Get(i);
      if (system_.AssociatedDownloader(record)) {
        running.Add(record);
      } else if (record->Status() != TDownloadState::Done) {
        record->SetStatus(TDownloadState::Paused);
        record->Save();
        system_.UpdateGridRow(record);
      }
    }
    // Idle ones are paused first, so that nothing starts from the queue for
    // the places the running ones give up.
    for (int i = 0; i < running.Count(); ++i) system_.PauseDownload(running.Get(i));
    system_.RefreshList();
  } catch (...) {
    LogError("TForm_Main.Pause");
  }
}

void TListCommands::Resume() {
  try {
    const TLDIList selected = model_.GetSelectedFromStringGrid();
    TLDIList chosen;
    for (int i = 0; i < selected.Count(); ++i) {
      TLocalDownloadinfo* record = selected.Get(i);
      if (record->Status() == TDownloadState::Done || record->Status() == TDownloadState::Queued) continue;
      if (system_.AssociatedDownloader(record) && !record->RetryTimer) continue;  // transferring
      chosen.Add(record);
    }
    for (int i = 0; i < chosen.Count(); ++i) {
      TLocalDownloadinfo* record = chosen.Get(i);
      if (TDownloader* downloader = system_.AssociatedDownloader(record)) {
        record->RetryTimer.reset();
        downloader->RestartDownload();
        system_.UpdateGridRow(record);
      } else {
        system_.AddDownload(record);
      }
    }
  } catch (...) {
    LogError("TForm_Main.Resume");
  }
}

void TListCommands::Schedule() {
  try {
    const TLDIList selected = model_.GetSelectedFromStringGrid();
    for (int i = 0; i < selected.Count(); ++i) {
      TLocalDownloadinfo* record = selected.Get(i);
      if (record->Status() == TDownloadState::Done) break;
      record->RetryTimer.reset();
      record->SetStatus(TDownloadState::Scheduled);
      record->Save();
      // The pause keeps "Scheduled" rather than "Paused".
      if (system_.AssociatedDownloader(record)) system_.PauseDownload(record);
      system_.UpdateGridRow(record);
    }
    system_.RefreshList();
  } catch (...) {
    LogError("TForm_Main.Schedule");
  }
}

void TListCommands::ReDownload() {
  try {
    const TLDIList selected = model_.GetSelectedFromStringGrid();
    TLDIList idle;
    for (int i = 0; i < selected.Count(); ++i)
      if (!system_.AssociatedDownloader(selected.Get(i))) idle.Add(selected.Get(i));
    ReDownloadNext(std::make_shared<std::vector<THeld>>(Hold(idle)), 0);
  } catch (...) {
    LogError("TForm_Main.ReDownload");
  }
}

// One record at a time: each question is answered before the next record
// is looked at.
void TListCommands::ReDownloadNext(std::shared_ptr<std::vector<THeld>> pending, size_t next) {
  for (; next < pending->size(); ++next) {
    TLocalDownloadinfo* record = Live((*pending)[next]);
    if (!record || system_.AssociatedDownloader(record)) continue;
    const std::string path = record->LocalFileName;
    if (!FileExists(path)) {
      StartAgain(*record);
      continue;
    }
    Prompt().Ask(kCaption, ReDownloadQuestion(path), OwnedCallback<bool>(this, [this, pending, next](bool yes) {
      try {
        TLocalDownloadinfo* record = Live((*pending)[next]);
        if (yes && record && !system_.AssociatedDownloader(record)) {
          // The old file stays until the new one is whole: a server that is
          // down, or a new version that never arrives, costs the user nothing.
          record->ReplaceFile = true;
          StartAgain(*record);
        }
        ReDownloadNext(pending, next + 1);
      } catch (...) {
        LogError("TForm_Main.ReDownload");
      }
    }));
    return;
  }
}

void TListCommands::StartAgain(TLocalDownloadinfo& record) {
  record.FileSize = 0;
  record.NumOfParts = -1;
  // What the server said of the old file says nothing of the new one.
  record.ClearValidators();
  record.ServerDigest.reset();
  record.Save();
  system_.DeletePartFiles(record.TempFileName);
  system_.AddDownload(&record);
}

void TListCommands::PauseAll() {
  try {
    system_.PauseAll();
    system_.RefreshList();
  } catch (...) {
    LogError("TForm_Main.PauseAll");
  }
}

void TListCommands::ResumeAll() {
  try {
    const TLDIList records = system_.DownloadList();
    for (int i = 0; i < records.Count(); ++i)
      if (records.Get(i)->Status() == TDownloadState::Paused) system_.AddDownload(records.Get(i));
  } catch (...) {
    LogError("TForm_Main.ResumeAll");
  }
}

void TListCommands::ClearAllDoneAndErrenous() {
  try {
    for (int row = 0; row < model_.RowCount(); ++row) {
      const TLocalDownloadinfo* record = model_.Record(row);
      const TDownloadStatus status = record ? record->Status() : TDownloadStatus();
      model_.SetSelected(row, status == TDownloadState::Done || status == TDownloadState::FileNotFound ||
                                  status == TDownloadState::CouldNotConnect);
    }
    Delete();
  } catch (...) {
    LogError("TForm_Main.ClearAllDoneAndErrenous");
  }
}

void TListCommands::Properties() {
  try {
    TLocalDownloadinfo* record = CurrentRecord();
    if (record && windows_) windows_->ShowProperties(std::make_shared<TPropertiesModel>(system_, *record));
  } catch (...) {
    LogError("TForm_Main.ShowProperties");
  }
}

void TListCommands::ViewFile() {
  try {
    TLocalDownloadinfo* record = CurrentRecord();
    if (record && windows_) windows_->ViewFile(record->LocalFileName, LoadViewerText(record->LocalFileName));
  } catch (...) {
    LogError("TForm_Main.ViewFile");
  }
}

void TListCommands::Open() {
  try {
    const int row = model_.CurrentRow();
    TLocalDownloadinfo* record = model_.Record(row);
    if (!record || model_.Cell(row, kColumnFileName).empty()) return;
    if (TDownloader* downloader = system_.AssociatedDownloader(record)) {
      system_.ShowDownloadForm(*downloader);
    } else if (record->Status() == TDownloadState::Done) {
      Launcher().OpenDocument(record->LocalFileName);
    } else if (record->Status() != TDownloadState::Queued) {
      system_.AddDownload(record);
    }
  } catch (...) {
    LogError("TForm_Main.StringGrid_DownloadsDblClick");
  }
}

}  // namespace brindle
