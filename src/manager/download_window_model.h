#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/download_status.h"

namespace brindle {

class TDownloader;

// What one part row shows of its slot; Slot only identifies the slot.
struct TPartSlotInfo {
  const void* Slot = nullptr;
  int64_t Received = 0;
  std::string Status;
  std::string Host;
};

// What the download window reads of its download at one refresh.
struct TDownloadSnapshot {
  std::string LocalFileName;
  std::string Url;
  TDownloadStatus Status;
  std::string ResumeText;  // "Yes", "No" or "Unknown"
  std::string TimeLeft;
  std::string TransferRate;
  int64_t FileSize = 0;
  int64_t TransferCount = 0;
  std::vector<TPartSlotInfo> Slots;
};

TPartSlotInfo ReadPartSlotInfo(TDownloader& downloader, int index);
TDownloadSnapshot ReadDownloadSnapshot(TDownloader& downloader);

// One row of "Simultaneous Downloads".
struct TPartRow {
  const void* Slot = nullptr;
  std::string Number;
  std::string Size;
  std::string Status;
  std::string Location;
};

// The download window without its toolkit: every text it shows, the part
// rows bound to the slots, and whether "Pause" may be pressed. The window
// copies these into its controls after each call.
class TDownloadWindowModel {
 public:
  static constexpr const char* kCaption = "File Download";

  // Refreshes everything; time left and rate only on every ninth call
  // (the first call included), so they do not flicker at 10 updates a second.
  void UpdateInfo(const TDownloadSnapshot& snapshot);

  // A row bound to the slot, appended unless the last row is still unbound.
  void CreateNewPartDownloadSlotInfo(const TPartSlotInfo& slot);
  // Rewrites the slot's row; nothing when no row is bound to it.
  void UpdatePartDownloadSlotInfo(const TPartSlotInfo& slot);
  // Removes the slot's row; the rows after it move up and all are renumbered.
  void DeletePartDownloadSlotInfo(const void* slot);

  // The download system's own texts (an error, a retry countdown).
  void SetCaption(const std::string& caption) { caption_ = caption; }
  void SetStatus(const std::string& status, TStatusColor color) {
    status_ = status;
    statusColor_ = color;
  }

  const std::string& Caption() const { return caption_; }
  const std::string& SavePath() const { return savePath_; }
  const std::string& Status() const { return status_; }
  TStatusColor StatusColor() const { return statusColor_; }
  const std::string& Resume() const { return resume_; }
  bool PauseEnabled() const { return pauseEnabled_; }
  const std::string& Url() const { return url_; }
  const std::string& TimeLeft() const { return timeLeft_; }
  const std::string& TransferRate() const { return transferRate_; }
  const std::string& FileSizeText() const { return fileSizeText_; }
  // The progress bar in int range: files above 2 GB are scaled down.
  int ProgressMaximum() const { return progressMaximum_; }
  int ProgressPosition() const { return progressPosition_; }
  // Bound rows only; the grid shows one empty row when there is none.
  const std::vector<TPartRow>& Rows() const { return rows_; }

 private:
  int refreshCounter_ = 0;
  std::string caption_ = kCaption;
  std::string savePath_;
  std::string status_;
  TStatusColor statusColor_ = TStatusColor::Other;
  std::string resume_;
  bool pauseEnabled_ = true;
  std::string url_;
  std::string timeLeft_;
  std::string transferRate_;
  std::string fileSizeText_;
  int progressMaximum_ = 0;
  int progressPosition_ = 0;
  std::vector<TPartRow> rows_;
};

}  // namespace brindle
