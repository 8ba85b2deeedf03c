#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <cstdint>
#include <string>
#include <vector>

#include "core/download_status.h"
#include "manager/row_progress.h"

class QPainter;

namespace brindle {

// The tray picture of a running download: a box outlined in black, yellow
// while "Downloading", red after an error, buttonFace otherwise, with a
// green bar rising from the bottom as the bytes arrive (none while the
// size is unknown).
QImage TrayProgressPicture(const TDownloadStatus& status, int64_t transferCount, int64_t fileSize, QSize size,
                           const QColor& buttonFace);

// What the information panel of a tray icon shows.
struct TTrayInfo {
  std::string Title;  // the file name of the address
  int64_t FileSize = 0;
  int64_t TransferCount = 0;
  std::vector<TPartProgress> Parts;
  std::string TransferRate;
  std::string TimeLeft;
};

// The panel: a white double-outlined box with the title, the overall bar,
// one bar segment per part, and the speed and time-left lines.
void PaintTrayInfoPanel(QPainter& painter, QSize size, const TTrayInfo& info);

}  // namespace brindle
