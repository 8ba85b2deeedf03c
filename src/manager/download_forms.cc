#include "manager/download_forms.h"

#include "engine/combine_parts.h"
#include "engine/downloader.h"
#include "engine/part_download_slot.h"
#include "engine/part_download_slots.h"
#include "manager/local_download_info.h"

namespace brindle {

int64_t TDownloaderProgress::TransferCount() const { return downloader_.TransferCount(); }

std::string TDownloaderProgress::TransferRate() const { return downloader_.TransferRate(); }

std::string TDownloaderProgress::TimeLeft() const { return downloader_.TimeLeft(); }

std::vector<TPartProgress> TDownloaderProgress::Parts() const {
  std::vector<TPartProgress> parts;
  const TPartDownloadSlots& slots = downloader_.Slots();
  for (int i = 0; i < slots.NumberOfSlots(); ++i) {
    const TPartDownloadSlot* slot = slots.GetSlot(i);
    parts.push_back({slot->StartByte(), slot->EndByte(), slot->TransferCount()});
  }
  return parts;
}

TDownloadForms::TDownloadForms(std::unique_ptr<TDownloader> downloader)
    : downloader_(std::move(downloader)), progress_(std::make_unique<TDownloaderProgress>(*downloader_)) {}

TDownloadForms::~TDownloadForms() {
  NewDownloadDialog.reset();
  DownloadWindow.reset();
  CompleteDialog.reset();
  CombineWindow.reset();
  Combiner.reset();
  progress_.reset();
  downloader_.reset();
  KeptRecord.reset();
}

}  // namespace brindle
