#include "ui/tray_progress_picture.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "core/download_status.h"
#include "core/download_status.h"

namespace brindle {
namespace {

const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kNavy(0, 0, 128);

// A box over the pixels left..right-1, top..bottom-1: outline in pen,
// inside in brush (the edges of the classic GDI rectangle).
void Box(QPainter& painter, int left, int top, int right, int bottom, const QColor& pen, const QColor& brush) {
  if (right - left < 1 || bottom - top < 1) return;
  painter.fillRect(QRect(left, top, right - left, bottom - top), pen);
  if (right - left > 2 && bottom - top > 2)
    painter.fillRect(QRect(left + 1, top + 1, right - left - 2, bottom - top - 2), brush);
}

// Characters come off the end until the text with "..." fits.
QString ShortenToFit(const QString& text, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  QString shortened = text;
  while (!shortened.isEmpty() && metrics.horizontalAdvance(shortened + "...") > width) shortened.chop(1);
  return shortened + "...";
}

void Line(QPainter& painter, int x, int y, int width, const QString& text) {
  const QFontMetrics metrics = painter.fontMetrics();
  painter.drawText(QRect(x, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                   ShortenToFit(text, metrics, width));
}

}  // namespace

QImage TrayProgressPicture(const TDownloadStatus& status, int64_t transferCount, int64_t fileSize, QSize size,
                           const QColor& buttonFace) {
  const int w = size.width();
  const int h = size.height();
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  QColor fill = buttonFace;
  if (status == TDownloadState::Downloading) {
    fill = kYellow;
  } else if (status.Color() == TStatusColor::Error) {
    fill = kRed;
  }
  Box(painter, 1, 1, w, h, Qt::black, fill);
  if (fileSize > 0) {
    const double share = std::clamp(static_cast<double>(transferCount) / static_cast<double>(fileSize), 0.0, 1.0);
    const int p = static_cast<int>(std::lround(share * (h - 2)));
    if (p > 0) painter.fillRect(QRect(2, h - (p + 1), w - 3, p), kGreen);
  }
  return image;
}

void PaintTrayInfoPanel(QPainter& painter, QSize size, const TTrayInfo& info) {
  const int w = size.width();
  const int h = size.height();
  Box(painter, 1, 1, w, h, Qt::black, Qt::white);
  Box(painter, 2, 2, w - 1, h - 1, Qt::black, Qt::white);

  QFont bold = painter.font();
  bold.setBold(true);
  painter.save();
  painter.setFont(bold);
  painter.setPen(kNavy);
  Line(painter, 12, 12, w - 14 - 12, QString::fromStdString(info.Title));
  painter.restore();

  Box(painter, 12, 32, w - 14, 52, Qt::black, Qt::white);
  Box(painter, 12, 57, w - 14, 77, Qt::black, Qt::white);
  const int inner = w - 30;
  if (info.FileSize > 0) {
    const double share =
        std::clamp(static_cast<double>(info.TransferCount) / static_cast<double>(info.FileSize), 0.0, 1.0);
    Box(painter, 14, 34, 14 + static_cast<int>(std::lround(share * inner)), 50, kGreen, kGreen);
  }
  const int n = static_cast<int>(info.Parts.size());
  if (n > 0) {
    const int s = static_cast<int>(std::lround(static_cast<double>(inner) / n));
    for (int i = 0; i < n; ++i) {
      const TPartProgress& part = info.Parts[i];
      const int64_t length = part.EndByte - part.StartByte;
      if (length <= 0) break;
      const double ratio = static_cast<double>(part.BytesReceived) / static_cast<double>(length);
      int width = ratio > 0.99 && i == n - 1 ? s : static_cast<int>(std::lround(ratio * s)) - 1;
      width = std::clamp(width, 1, s);
      Box(painter, 14 + i * s, 59, 14 + i * s + width, 75, kRed, kRed);
    }
  }

  painter.setPen(Qt::black);
  const std::string rate = info.TransferRate == "N/A" ? info.TransferRate : info.TransferRate + " kb/s";
  Line(painter, 12, 90, w - 14 - 12, QString::fromStdString("Speed: " + rate));
  Line(painter, 12, 110, w - 14 - 12, QString::fromStdString("Time Left: " + info.TimeLeft));
}

}  // namespace brindle
