#include "manager/status_bar_totals.h"

#include <cstdio>
#include <cstdlib>

#include "core/presentation.h"
#include "core/download_status.h"

namespace brindle {

std::string TotalSpeedText(const std::vector<TRunningDownload>& running) {
  double total = 0;
  for (const TRunningDownload& download : running) {
    if (download.Status != TDownloadState::Downloading) continue;
    if (download.TransferRate == "N/A" || download.TransferRate == " " || download.TransferRate.empty()) continue;
    std::string rate = download.TransferRate;
    for (char& c : rate)
      if (c == ',') c = '.';
    char* end = nullptr;
    const double value = std::strtod(rate.c_str(), &end);
    if (end != rate.c_str()) total += value;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.1f kb/s", total);
  std::string result = text;
  // The C locale may have been changed by a toolkit; the panel always reads ".".
  for (char& c : result)
    if (c == ',') c = '.';
  return result;
}

std::string TotalTimeLeft(const std::vector<TRunningDownload>& running) {
  std::string result = "00:00:00";
  int64_t largest = 0;
  for (const TRunningDownload& download : running) {
    const int64_t seconds = TimeStringToSeconds(download.TimeLeft);
    if (seconds > largest) {
      largest = seconds;
      result = download.TimeLeft;
    }
  }
  return result;
}

}  // namespace brindle
