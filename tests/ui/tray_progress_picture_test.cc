#include "ui/tray_progress_picture.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "support/ui_test.h"

namespace brindle {
namespace {

const QColor kFace(212, 208, 200);
const QRgb kGreen = qRgb(0, 128, 0);

// The height of the green bar in the middle column.
int BarHeight(const QImage& image) {
  int height = 0;
  for (int y = 0; y < image.height(); ++y) height += image.pixel(image.width() / 2, y) == kGreen;
  return height;
}

TEST(TrayProgressPictureTest, BoxColourAndBarByStatusAndProgress) {
  test::App();
  struct Case {
    const char* Status;
    int64_t Count;
    int64_t Size;
    QRgb Fill;
    int Bar;
  };
  const Case cases[] = {
      {"Downloading", 400, 1000, qRgb(255, 255, 0), 6},  // 40 % of the 14 inner rows, rounded
      {"Timeout", 0, 1000, qRgb(255, 0, 0), 0},
      {"Paused", 500, 1000, kFace.rgb(), 7},
      {"Paused", 500, -1, kFace.rgb(), 0},  // no size, no bar
      {"Downloading", 5000, 1000, qRgb(255, 255, 0), 14},
  };
  for (const Case& c : cases) {
    const QImage image = TrayProgressPicture(TDownloadStatus::FromText(c.Status), c.Count, c.Size, QSize(16, 16), kFace);
    SCOPED_TRACE(c.Status);
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(15, 15), qRgb(0, 0, 0));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    if (c.Bar < 14) {
      EXPECT_EQ(image.pixel(8, 3), c.Fill);
    }
    EXPECT_EQ(BarHeight(image), c.Bar);
    if (c.Bar > 0) {
      // The bar rises from the row above the bottom outline, inside the box.
      EXPECT_EQ(image.pixel(2, 14), kGreen);
      EXPECT_EQ(image.pixel(14, 14 - c.Bar + 1), kGreen);
      EXPECT_EQ(image.pixel(15, 14), qRgb(0, 0, 0));
    }
  }
}

TEST(TrayProgressPictureTest, InfoPanelBars) {
  test::App();
  QImage image(400, 150, QImage::Format_RGB32);
  image.fill(Qt::gray);
  TTrayInfo info;
  info.Title = "file.iso";
  info.FileSize = 1000;
  info.TransferCount = 500;
  info.Parts = {{0, 499, 499}, {500, 999, 0}};
  info.TransferRate = "N/A";
  info.TimeLeft = "00:00:10";
  {
    QPainter painter(&image);
    PaintTrayInfoPanel(painter, image.size(), info);
  }
  // Overall: green to half of the 370 pixels; parts: the finished first
  // half red, the second a 1-pixel sliver.
  EXPECT_EQ(image.pixel(14 + 180, 40), kGreen);
  EXPECT_EQ(image.pixel(14 + 190, 40), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(14 + 180, 65), qRgb(255, 0, 0));
  EXPECT_EQ(image.pixel(14 + 185, 65), qRgb(255, 0, 0));
  EXPECT_EQ(image.pixel(14 + 187, 65), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
}

}  // namespace
}  // namespace brindle
