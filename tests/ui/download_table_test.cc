#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <memory>
#include <vector>

#include "core/download_status.h"
#include "manager/download_list_model.h"
#include "manager/local_download_info.h"
#include "manager/row_progress.h"
#include "ui/download_table_model.h"
#include "ui/progress_delegate.h"
#include "support/ui_test.h"

namespace brindle {
namespace {

class FakeProgress : public TRowProgress {
 public:
  int64_t TransferCount() const override { return Count; }
  std::string TransferRate() const override { return "10.0"; }
  std::string TimeLeft() const override { return "00:00:10"; }
  std::vector<TPartProgress> Parts() const override { return PartList; }

  int64_t Count = 0;
  std::vector<TPartProgress> PartList;
};

class DownloadTableTest : public test::UiTest {
 protected:
  TLocalDownloadinfo* Make(const std::string& name, const TDownloadStatus& status, int64_t size = 4000) {
    const std::string base = temp_.File("R" + std::to_string(records_.size()));
    TLocalDownloadinfo* record = records_.emplace_back(new TLocalDownloadinfo(nullptr, base, nullptr)).get();
    record->LocalFileName = "/tmp/" + name;
    record->SetStatus(status);
    record->FileSize = size;
    records.Add(record);
    return record;
  }
  void Populate(TLocalDownloadinfo* running = nullptr) {
    list_.PopulateGrid(records, [&](TLocalDownloadinfo* r) { return r == running ? &progress_ : nullptr; });
  }
  static bool IsRed(QRgb pixel) { return qRed(pixel) == 255 && qGreen(pixel) == 0 && qBlue(pixel) == 0; }
  static bool IsGreen(QRgb pixel) { return qRed(pixel) == 0 && qGreen(pixel) == 128 && qBlue(pixel) == 0; }

  std::vector<std::unique_ptr<TLocalDownloadinfo>> records_;
  TLDIList records;
  FakeProgress progress_;
  TDownloadListModel list_{[](const std::string&) { return int64_t{0}; }};
};

TEST_F(DownloadTableTest, ShowsTheListModelsTextsAlignmentsAndColours) {
  WriteInteger(kOptionsSection, "ColorTheme", 1);
  Make("beta.iso", TDownloadState::Downloading);
  Make("Alpha.zip", TDownloadState::Done);
  Make("gamma.tar", TDownloadState::FileNotFound);
  Make("delta.bin", TDownloadState::Paused);
  Make("epsilon", TDownloadStatus::Failure("Something else"));
  TDownloadTableModel model(list_);
  Populate();
  model.SetColors(LoadColorSettingsFromRegistry(), QPalette());

  ASSERT_EQ(model.rowCount(), 5);
  ASSERT_EQ(model.columnCount(), kDownloadColumnCount);
  for (int row = 0; row < 5; ++row)
    for (int column = 0; column < kDownloadColumnCount; ++column) {
      EXPECT_EQ(model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString(), list_.Cell(row, column));
      const auto alignment = model.data(model.index(row, column), Qt::TextAlignmentRole).value<Qt::Alignment>();
      EXPECT_EQ(bool(alignment & Qt::AlignRight), column >= kColumnSize && column <= kColumnRate) << column;
    }
  // The Brindle theme, one row per colour group, every cell of the row alike.
  const std::map<std::string, QColor> expected = {{"beta.iso", QColor(0, 128, 0)},
                                                  {"Alpha.zip", QColor(0, 0, 128)},
                                                  {"gamma.tar", QColor(128, 0, 0)},
                                                  {"delta.bin", QPalette().color(QPalette::Disabled, QPalette::Text)},
                                                  {"epsilon", QColor(0, 0, 0)}};
  for (int row = 0; row < 5; ++row) {
    const QColor want = expected.at(list_.Cell(row, kColumnFileName));
    EXPECT_EQ(model.data(model.index(row, kColumnSavePath), Qt::ForegroundRole).value<QColor>(), want) << row;
  }
  EXPECT_EQ(model.BackgroundColor(), QColor(0xFF, 0xFB, 0xF0));
}

TEST_F(DownloadTableTest, StandardThemeWithoutStoredColoursFollowsThePalette) {
  Make("a", TDownloadStatus::Failure("Something else"));
  TDownloadTableModel model(list_);
  Populate();
  QPalette dark;
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  model.SetColors(LoadColorSettingsFromRegistry(), dark);
  EXPECT_EQ(model.BackgroundColor(), QColor(30, 30, 30));
  EXPECT_EQ(model.data(model.index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(230, 230, 230));
  WriteInteger(kOptionsSection, "Standard_Color_Other", 0x0000FF);
  model.SetColors(LoadColorSettingsFromRegistry(), dark);
  EXPECT_EQ(model.data(model.index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
}

TEST_F(DownloadTableTest, DelegatePaintsTheBarsAtTheModelsGeometryOrTheTextWhenTheyAreOff) {
  TLocalDownloadinfo* running = Make("run.iso", TDownloadState::Downloading, 4000);
  progress_.PartList = {{0, 999, 1000}, {1000, 1999, 500}, {2000, 2999, 0}, {3000, 3999, 250}};
  progress_.Count = 1750;
  TDownloadTableModel model(list_);
  Populate(running);
  TProgressDelegate delegate(model);
  const QRect cell(10, 0, 160, 17);
  const auto render = [&] {
    QImage image(200, 17, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = cell;
    option.palette = QPalette();
    delegate.paint(&painter, option, model.index(0, kColumnStatus));
    return image;
  };
  const QImage image = render();
  const TProgressBars bars =
      list_.DrawProgress(kColumnStatus, 0, TCellRect{cell.left(), 0, cell.left() + cell.width(), 17}, 17);
  ASSERT_TRUE(bars.Drawn);
  ASSERT_EQ(bars.UpperSegments.size(), 4u);
  const int upperY = (bars.UpperInner.Top + bars.UpperInner.Bottom) / 2;
  for (const TBarSegment& segment : bars.UpperSegments) {
    if (segment.FillWidth > 0) {
      EXPECT_TRUE(IsRed(image.pixel(segment.Left, upperY))) << segment.Left;
      EXPECT_TRUE(IsRed(image.pixel(segment.Left + segment.FillWidth - 1, upperY))) << segment.Left;
    }
    if (segment.FillWidth < segment.Width) {
      EXPECT_FALSE(IsRed(image.pixel(segment.Left + segment.FillWidth, upperY))) << segment.Left;
    }
  }
  const int lowerY = (bars.LowerInner.Top + bars.LowerInner.Bottom) / 2;
  EXPECT_TRUE(IsGreen(image.pixel(bars.LowerInner.Left, lowerY)));
  EXPECT_TRUE(IsGreen(image.pixel(bars.LowerInner.Left + bars.LowerFillWidth - 1, lowerY)));
  EXPECT_FALSE(IsGreen(image.pixel(bars.LowerInner.Left + bars.LowerFillWidth, lowerY)));
  // The frames lie on the frame rectangles' edges, outside the fills.
  EXPECT_FALSE(IsRed(image.pixel(bars.UpperFrame.Left, upperY)));
  EXPECT_NE(image.pixel(bars.UpperFrame.Left, upperY), QColor(Qt::white).rgb());

  list_.SetDrawProgressBars(false);
  const QImage text = render();
  int red = 0, inked = 0;
  for (int y = 0; y < 17; ++y)
    for (int x = cell.left(); x < cell.right(); ++x) {
      red += IsRed(text.pixel(x, y));
      inked += text.pixel(x, y) != QColor(Qt::white).rgb();
    }
  EXPECT_EQ(red, 0);
  EXPECT_GT(inked, 10);  // "Downloading"
}

TEST_F(DownloadTableTest, BarsFollowTheStatusColumnWhereverItWasMoved) {
  TLocalDownloadinfo* running = Make("run.iso", TDownloadState::Downloading, 4000);
  progress_.PartList = {{0, 3999, 4000}};
  progress_.Count = 4000;
  TDownloadTableModel model(list_);
  Populate(running);
  QTableView view;
  view.setModel(&model);
  view.setItemDelegate(new TProgressDelegate(model, &view));
  view.verticalHeader()->hide();
  view.resize(700, 120);
  view.horizontalHeader()->moveSection(kColumnStatus, kColumnSavePath);
  view.show();
  const QImage shot = view.viewport()->grab().toImage();
  const int left = view.horizontalHeader()->sectionViewportPosition(kColumnStatus);
  const int width = view.horizontalHeader()->sectionSize(kColumnStatus);
  ASSERT_GT(left, view.horizontalHeader()->sectionViewportPosition(kColumnSize));
  const int y = view.rowViewportPosition(0) + 4;
  int redInside = 0, redOutside = 0;
  for (int x = 0; x < shot.width(); ++x) {
    const bool red = IsRed(shot.pixel(x, y));
    (x >= left && x < left + width ? redInside : redOutside) += red;
  }
  EXPECT_GT(redInside, width / 2);
  EXPECT_EQ(redOutside, 0);
}

}  // namespace
}  // namespace brindle
