#include "manager/download_window_model.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>

#include "core/presentation.h"
#include "core/url.h"
#include "engine/download_record.h"
#include "engine/downloader.h"
#include "engine/file_mirror.h"
#include "engine/part_download_slot.h"
#include "engine/part_download_slots.h"

namespace brindle {
namespace {

constexpr int kRefreshEvery = 9;

std::string FileNamePart(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

TPartSlotInfo ReadPartSlotInfo(TDownloader& downloader, int index) {
  TPartSlotInfo info;
  const TPartDownloadSlot* slot = downloader.Slots().GetSlot(index);
  if (!slot) return info;
  info.Slot = slot;
  info.Received = slot->TransferCount();
  info.Status = slot->Status().Text();
  if (const TFileMirror* mirror = slot->Mirror()) info.Host = mirror->Url->Host;
  return info;
}

TDownloadSnapshot ReadDownloadSnapshot(TDownloader& downloader) {
  TDownloadSnapshot snapshot;
  const TDownloadRecord& record = downloader.LDI();
  snapshot.LocalFileName = record.LocalFileName;
  snapshot.Url = record.Url->Url;
  snapshot.Status = record.Status();
  snapshot.ResumeText = downloader.ResumeText();
  snapshot.TimeLeft = downloader.TimeLeft();
  snapshot.TransferRate = downloader.TransferRate();
  snapshot.FileSize = record.FileSize;
  snapshot.TransferCount = downloader.TransferCount();
  for (int i = 0; i < downloader.Slots().NumberOfSlots(); ++i)
    snapshot.Slots.push_back(ReadPartSlotInfo(downloader, i));
  return snapshot;
}

void TDownloadWindowModel::UpdateInfo(const TDownloadSnapshot& snapshot) {
  if (snapshot.Slots.size() != rows_.size()) {
    rows_.clear();
    for (const TPartSlotInfo& slot : snapshot.Slots) CreateNewPartDownloadSlotInfo(slot);
  } else {
    for (const TPartSlotInfo& slot : snapshot.Slots) UpdatePartDownloadSlotInfo(slot);
  }
  savePath_ = snapshot.LocalFileName;
  status_ = snapshot.Status.Text();
  statusColor_ = snapshot.Status.Color();
  resume_ = snapshot.ResumeText;
  pauseEnabled_ = resume_ == "Yes" || resume_ == "Unknown";
  url_ = snapshot.Url;
  if (refreshCounter_ == 0) {
    timeLeft_ = snapshot.TimeLeft;
    transferRate_ = snapshot.TransferRate == "N/A" ? snapshot.TransferRate : snapshot.TransferRate + " kb/sec";
    refreshCounter_ = kRefreshEvery - 1;
  } else {
    --refreshCounter_;
  }
  fileSizeText_ =
      BytesToPresentableString(snapshot.TransferCount) + " of " + BytesToPresentableString(snapshot.FileSize);
  // A progress bar counts in int: larger files are shown in units of
  // 2^shift bytes.
  const int64_t size = std::max<int64_t>(snapshot.FileSize, 0);
  const int64_t count = std::clamp<int64_t>(snapshot.TransferCount, 0, size);
  int shift = 0;
  while ((size >> shift) > INT_MAX) ++shift;
  progressMaximum_ = static_cast<int>(size >> shift);
  progressPosition_ = static_cast<int>(count >> shift);

  const std::string name = FileNamePart(snapshot.LocalFileName);
  if (snapshot.FileSize > 0) {
    const auto percent = std::llround(static_cast<double>(snapshot.TransferCount) / snapshot.FileSize * 100);
    caption_ = std::to_string(percent) + "% " + name;
  } else {
    caption_ = name.empty() ? kCaption : name;
  }
}

void TDownloadWindowModel::CreateNewPartDownloadSlotInfo(const TPartSlotInfo& slot) {
  if (rows_.empty() || !rows_.back().Number.empty()) rows_.emplace_back();
  rows_.back().Slot = slot.Slot;
  UpdatePartDownloadSlotInfo(slot);
}

void TDownloadWindowModel::UpdatePartDownloadSlotInfo(const TPartSlotInfo& slot) {
  const auto row = std::find_if(rows_.begin(), rows_.end(), [&](const TPartRow& r) { return r.Slot == slot.Slot; });
  if (row == rows_.end()) return;
  row->Number = std::to_string(row - rows_.begin() + 1);
  row->Size = BytesToPresentableString(slot.Received);
  row->Status = slot.Status;
  row->Location = slot.Host;
}

void TDownloadWindowModel::DeletePartDownloadSlotInfo(const void* slot) {
  const auto row = std::find_if(rows_.begin(), rows_.end(), [&](const TPartRow& r) { return r.Slot == slot; });
  if (row == rows_.end()) return;
  rows_.erase(row);
  for (size_t i = 0; i < rows_.size(); ++i) rows_[i].Number = std::to_string(i + 1);
}

}  // namespace brindle
