#pragma once

#include <string>
#include <vector>

#include "core/download_status.h"

namespace brindle {

// What the status bar reads from one running download.
struct TRunningDownload {
  TDownloadStatus Status;
  std::string TransferRate;  // "12.5", "N/A", " "
  std::string TimeLeft;      // "HH:MM:SS" or "N/A"
};

// The sum of the rates of the downloads in "Downloading" with one decimal
// and " kb/s" ("0.0 kb/s" with none); "N/A" and " " add nothing. A rate
// written with "," as its separator is read all the same.
std::string TotalSpeedText(const std::vector<TRunningDownload>& running);
// The largest time left of the running downloads, "00:00:00" with none.
std::string TotalTimeLeft(const std::vector<TRunningDownload>& running);

}  // namespace brindle
