#include "integration/scheduled_downloads.h"

#include <algorithm>
#include <vector>

#include "core/log_error.h"
#include "core/download_status.h"
#include "engine/downloader.h"
#include "manager/download_system.h"
#include "manager/local_download_info.h"

namespace brindle {
namespace {

TLocalDownloadinfo& RecordOf(TDownloader& downloader) {
  // The download system makes every downloader for one of its records.
  return static_cast<TLocalDownloadinfo&>(downloader.LDI());
}

}  // namespace

void TScheduledDownloads::DoOnSchedulerTime() {
  try {
    std::vector<TLocalDownloadinfo*> scheduled;
    const TLDIList& records = system_.DownloadList();
    for (int i = 0; i < records.Count(); ++i)
      if (records.Get(i)->Status() == TDownloadState::Scheduled) scheduled.push_back(records.Get(i));
    for (TLocalDownloadinfo* record : scheduled) system_.AddDownload(record);
  } catch (...) {
    LogError("DoOnSchedulerTime");
  }
}

void TScheduledDownloads::DoOnSchedulerTimeOut() {
  try {
    // A download whose new-download dialog is still open waits for the
    // user's answer, and one whose parts are being joined is finished.
    std::vector<TDownloader*> running;
    std::vector<TLocalDownloadinfo*> records;
    for (TDownloader* d : system_.ActiveList()) {
      auto& record = RecordOf(*d);
      if (record.LocalFileName.empty() || record.Status() == TDownloadState::CombiningFiles) continue;
      running.push_back(d);
      records.push_back(&record);
    }
    // Marked first, so that each pause keeps the state instead of making
    // the record "Paused".
    for (TLocalDownloadinfo* record : records) record->SetStatus(TDownloadState::Scheduled);
    system_.SetQueueHeld(true);
    for (TDownloader* d : running) {
      const auto& active = system_.ActiveList();
      if (std::find(active.begin(), active.end(), d) != active.end()) d->Pause();
    }
    system_.SetQueueHeld(false);
    for (TLocalDownloadinfo* record : records) {
      record->Save();
      system_.UpdateGridRow(record);
    }
  } catch (...) {
    system_.SetQueueHeld(false);
    LogError("DoOnSchedulerTimeOut");
  }
}

}  // namespace brindle
