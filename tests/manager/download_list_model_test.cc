#include "manager/download_list_model.h"

#include <gtest/gtest.h>

#include <map>

#include <array>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/event_loop.h"
#include "core/settings.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "manager/local_download_info.h"
#include "manager/row_progress.h"
#include "support/record_list_test.h"
#include "support/error_reports.h"

namespace brindle {
namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kGiB = 1024 * kMiB;
using Cells = std::array<std::string, kDownloadColumnCount>;
using test::Records;

class FakeProgress : public TRowProgress {
 public:
  int64_t TransferCount() const override { return Count; }
  std::string TransferRate() const override { return Rate; }
  std::string TimeLeft() const override { return Left; }
  std::vector<TPartProgress> Parts() const override { return PartList; }

  int64_t Count = 1025;
  std::string Rate = "12.5";
  std::string Left = "00:01:00";
  std::vector<TPartProgress> PartList;
};

class DownloadListModelTest : public test::RecordListTest {
 protected:
  void SetUp() override {
    RecordListTest::SetUp();
    model_ = NewModel();
  }
  TLocalDownloadinfo* Make(const std::string& path, TDownloadState status, int64_t size = 3 * kMiB) {
    TLocalDownloadinfo* record = RecordListTest::Make(status);
    record->LocalFileName = path;
    record->FileSize = size;
    record->Description = "about " + path;
    return record;
  }
  void WaitToRetry(TLocalDownloadinfo* record, int countdown) {
    record->RetryTimer = std::make_unique<TTimer>(&loop_);
    record->RetryCountdown = countdown;
  }
  Cells Row(int row) const {
    Cells cells;
    for (int column = 0; column < kDownloadColumnCount; ++column) cells[column] = model_->Cell(row, column);
    return cells;
  }
  std::vector<std::string> Column(int column) const {
    std::vector<std::string> texts;
    for (int row = 0; row < model_->RowCount(); ++row) texts.push_back(model_->Cell(row, column));
    return texts;
  }
  void Populate(TLocalDownloadinfo* running = nullptr, TRowProgress* downloader = nullptr) {
    model_->PopulateGrid(list_, [=](TLocalDownloadinfo* record) { return record == running ? downloader : nullptr; });
  }
  std::unique_ptr<TDownloadListModel> NewModel() {
    return std::make_unique<TDownloadListModel>([](const std::string&) { return int64_t{1536}; });
  }

  std::unique_ptr<TDownloadListModel> model_;
  FakeProgress progress_;
};

TEST_F(DownloadListModelTest, RowContentForEachState) {
  struct Case {
    TDownloadState Status;
    int64_t Size;
    bool Running;
    int Countdown;  // -1: not waiting to retry
    const char* StatusText;
    const char* SizeText;
    const char* TimeLeft;
    const char* Rate;
  };
  const Case cases[] = {
      {TDownloadState::Done, 3 * kMiB, false, -1, "Done", "3.00 Mb", "", ""},
      {TDownloadState::Done, 0, false, -1, "Done", "Unknown", "", ""},
      {TDownloadState::Done, 3 * kMiB, true, -1, "Done", "3.00 Mb", "", ""},
      {TDownloadState::Paused, 3 * kMiB, false, -1, "Paused", "2 kb of 3.00 Mb", "", ""},
      {TDownloadState::Queued, 0, false, -1, "Queued", "2 kb of Unknown", "", ""},
      {TDownloadState::Paused, -1, false, -1, "Paused", "2 kb of Unknown", "", ""},
      {TDownloadState::Downloading, 3 * kMiB, true, -1, "Downloading", "1 kb of 3.00 Mb", "00:01:00", "12.5"},
      {TDownloadState::ContactingHost, 0, true, -1, "Contacting host", "1 kb of Unknown", "00:01:00", "12.5"},
      {TDownloadState::Timeout, 3 * kMiB, true, 30, "Timeout (30)", "1 kb of 3.00 Mb", "", ""},
      {TDownloadState::CouldNotConnect, 0, false, 7, "Couldn't connect to host (7)", "2 kb of Unknown", "", ""},
  };
  for (const Case& c : cases) {
    TLocalDownloadinfo* record = Make("/home/u/Downloads/file.zip", c.Status, c.Size);
    if (c.Countdown >= 0) WaitToRetry(record, c.Countdown);
    const int row = model_->AddRow(record, c.Running ? &progress_ : nullptr);
    EXPECT_EQ(Row(row), (Cells{"file.zip", c.StatusText, c.SizeText, c.TimeLeft, c.Rate, "/home/u/Downloads/",
                               "about /home/u/Downloads/file.zip"}))
        << c.StatusText << " " << c.Size;
  }
  TLocalDownloadinfo* unnamed = Make("", TDownloadState::Paused);
  EXPECT_EQ(Row(model_->AddRow(unnamed, nullptr)),
            (Cells{"", "Paused", "2 kb of 3.00 Mb", "", "", "", "about "}));
  TLocalDownloadinfo hidden(nullptr, temp_.File("hidden"), nullptr);
  EXPECT_FALSE(model_->UpdateGridRow(&hidden));
}

TEST_F(DownloadListModelTest, CountdownAndRunningRowsAreRewrittenButSettledRowsAreLeftAlone) {
  TLocalDownloadinfo* failing = Make("/d/a.bin", TDownloadState::Timeout);
  TLocalDownloadinfo* done = Make("/d/b.bin", TDownloadState::Done);
  TLocalDownloadinfo* running = Make("/d/c.bin", TDownloadState::Downloading);
  FakeProgress other;
  model_->AddRow(failing, &progress_);
  model_->AddRow(done, nullptr);
  model_->AddRow(running, &other);
  std::vector<int> changed;
  model_->OnRowChanged = [&](int row) { changed.push_back(row); };

  WaitToRetry(failing, 2);
  EXPECT_TRUE(model_->UpdateGridRow(failing));
  EXPECT_EQ(model_->Cell(0, kColumnStatus), "Timeout (2)");
  failing->RetryCountdown = 1;
  model_->UpdateGridRow(failing);
  EXPECT_EQ(model_->Cell(0, kColumnStatus), "Timeout (1)");
  failing->RetryTimer.reset();
  failing->SetStatus(TDownloadState::ContactingHost);
  model_->UpdateGridRow(failing);
  EXPECT_EQ(Row(0)[kColumnStatus], "Contacting host");
  EXPECT_EQ(Row(0)[kColumnTimeLeft], "00:01:00");

  // A finished row with the same status and size stays as written, except
  // for its file name.
  done->Description = "changed";
  model_->UpdateGridRow(done);
  EXPECT_EQ(model_->Cell(1, kColumnDescription), "about /d/b.bin");
  done->LocalFileName = "/d/renamed.bin";
  model_->UpdateGridRow(done);
  EXPECT_EQ(model_->Cell(1, kColumnFileName), "renamed.bin");
  EXPECT_EQ(model_->Cell(1, kColumnSavePath), "/d/");

  other.Count = 2 * kMiB;
  other.Left = "00:00:05";
  model_->UpdateGridRow(running);
  EXPECT_EQ(Row(2), (Cells{"c.bin", "Downloading", "2.00 Mb of 3.00 Mb", "00:00:05", "12.5", "/d/", "about /d/c.bin"}));
  model_->UpdateGridRow(running);  // nothing new: no notification
  EXPECT_EQ(changed, (std::vector<int>{0, 0, 0, 1, 2}));

  model_->UnbindDownloader(&other);
  model_->UpdateGridRow(running);
  EXPECT_EQ(model_->Cell(2, kColumnSize), "2 kb of 3.00 Mb");
  EXPECT_EQ(model_->Cell(2, kColumnRate), "");
}

TEST_F(DownloadListModelTest, SortsIgnoringCaseInTheDirectionStoredInTheSettings) {
  for (const char* name : {"beta", "Alpha", "gamma", "alpha", "ALPHA2"}) Make(std::string("/d/") + name, TDownloadState::Paused);
  WriteInteger(kOptionsSection, "StringGrid_Downloads_SortByColumn", 0);
  WriteBool(kOptionsSection, "StringGrid_Downloads_SortDirectionAscending", false);
  model_ = NewModel();
  EXPECT_EQ(model_->SortColumn(), 0);
  EXPECT_FALSE(model_->SortAscending());
  Populate();
  // "Alpha" and "alpha" are equal and keep their list order in both directions.
  EXPECT_EQ(Column(kColumnFileName), (std::vector<std::string>{"gamma", "beta", "ALPHA2", "Alpha", "alpha"}));
  model_->SetSort(kColumnFileName, true);
  EXPECT_EQ(Column(kColumnFileName), (std::vector<std::string>{"Alpha", "alpha", "ALPHA2", "beta", "gamma"}));

  model_->SetSort(kColumnDescription, false);
  model_->SaveSortSettings();
  EXPECT_EQ(ReadInteger(kOptionsSection, "StringGrid_Downloads_SortByColumn", -1), kColumnDescription);
  EXPECT_FALSE(ReadBool(kOptionsSection, "StringGrid_Downloads_SortDirectionAscending", true));

  for (int stored : {-1, 7, 1000}) {
    WriteInteger(kOptionsSection, "StringGrid_Downloads_SortByColumn", stored);
    EXPECT_EQ(NewModel()->SortColumn(), 0) << stored;
  }
}

TEST_F(DownloadListModelTest, SizeTimeLeftAndRateSortByValueAndRowsWithoutOneLast) {
  struct Case {
    const char* Name;
    int64_t Size;
    const char* Left;
    const char* Rate;
  };
  const std::vector<Case> cases = {{"a", 100 * 1024, "00:00:09", "293.0"},
                                   {"b", 3 * kMiB, "10:00:00", "N/A"},
                                   {"c", 293 * 1024, "N/A", "2.9"},
                                   {"d", -1, "00:01:00", "100.5"}};
  std::map<TLocalDownloadinfo*, std::unique_ptr<FakeProgress>> running;
  for (const Case& c : cases) {
    auto progress = std::make_unique<FakeProgress>();
    progress->Count = 50 * 1024;
    progress->Left = c.Left;
    progress->Rate = c.Rate;
    running.emplace(Make(std::string("/d/") + c.Name, TDownloadState::Downloading, c.Size), std::move(progress));
  }
  model_->PopulateGrid(list_, [&](TLocalDownloadinfo* record) { return running.at(record).get(); });
  const auto names = [&] {
    std::string order;
    for (const std::string& name : Column(kColumnFileName)) order += name;
    return order;
  };
  struct Sort {
    int Column;
    bool Ascending;
    const char* Order;
  };
  for (const Sort& sort : {Sort{kColumnSize, true, "acbd"}, Sort{kColumnSize, false, "bcad"},
                           Sort{kColumnTimeLeft, true, "adbc"}, Sort{kColumnTimeLeft, false, "bdac"},
                           Sort{kColumnRate, true, "cdab"}, Sort{kColumnRate, false, "adcb"}}) {
    model_->SetSort(sort.Column, sort.Ascending);
    EXPECT_EQ(names(), sort.Order) << sort.Column << " " << sort.Ascending;
  }

  // Held, a refill keeps the rows in place (a new one last) until released.
  model_->HoldOrder();
  running.begin()->second->Rate = "0.1";
  TLocalDownloadinfo* e = Make("/d/e", TDownloadState::Paused);
  model_->PopulateGrid(list_, [&](TLocalDownloadinfo* record) {
    return running.contains(record) ? running.at(record).get() : nullptr;
  });
  EXPECT_EQ(names(), "adcbe");
  model_->SetSort(kColumnRate, true);
  EXPECT_EQ(names(), "adcbe");
  model_->ReleaseOrder();
  EXPECT_EQ(names(), "acdeb");  // without a rate: by text
  EXPECT_EQ(model_->Record(3), e);
}

TEST_F(DownloadListModelTest, SelectionFollowsTheRecordsWhenTheRowsAreSortedOrRefilled) {
  Make("/d/a", TDownloadState::Paused);
  TLocalDownloadinfo* b = Make("/d/b", TDownloadState::Paused);
  TLocalDownloadinfo* c = Make("/d/c", TDownloadState::Paused);
  TLocalDownloadinfo* d = Make("/d/d", TDownloadState::Paused);
  Populate();
  int notified = 0;
  model_->OnSelectionChanged = [&] { ++notified; };
  model_->SetSelected(1, true);
  model_->SetSelected(3, true);
  model_->SetCurrentRow(3);
  EXPECT_EQ(Items(model_->GetSelectedFromStringGrid()), (Records{b, d}));

  model_->SetSort(kColumnFileName, false);
  EXPECT_EQ(Items(model_->GetSelectedFromStringGrid()), (Records{d, b}));
  EXPECT_EQ(model_->Record(model_->CurrentRow()), d);

  // A new row taking the current row's place stays unselected; a record
  // hidden by a refill is not selected when it comes back.
  TLocalDownloadinfo* e = Make("/d/e", TDownloadState::Paused);
  list_.Remove(b);
  Populate();
  EXPECT_EQ(model_->Record(0), e);
  EXPECT_EQ(Items(model_->GetSelectedFromStringGrid()), (Records{d}));
  EXPECT_EQ(model_->Record(model_->CurrentRow()), d);
  list_.Add(b);
  Populate();
  EXPECT_EQ(Items(model_->GetSelectedFromStringGrid()), (Records{d}));
  EXPECT_EQ(notified, 3);

  model_->RemoveFromStringGrid(c);
  EXPECT_EQ(model_->AssociatedRow(c), -1);
  model_->PopulateGrid(TLDIList(), nullptr);
  EXPECT_EQ(model_->CurrentRow(), -1);
  Populate();
  EXPECT_EQ(model_->GetSelectedFromStringGrid().Count(), 0);
  EXPECT_EQ(model_->Record(model_->CurrentRow()), nullptr);
}

TEST_F(DownloadListModelTest, PopulateBindsDownloadersSortsAndNotifiesOnce) {
  TLocalDownloadinfo* z = Make("/d/z", TDownloadState::Downloading);
  TLocalDownloadinfo* y = Make("/d/y", TDownloadState::Paused);
  int rowsChanged = 0;
  model_->OnRowsChanged = [&] {
    ++rowsChanged;
    throw std::runtime_error("the view's fault");  // must not escape the model
  };
  test::ErrorReports reports;
  Populate(z, &progress_);
  EXPECT_EQ(rowsChanged, 1);
  EXPECT_EQ(reports.Lines(), std::vector<std::string>{"TDownloadListModel.OnRowsChanged: the view's fault"});
  EXPECT_EQ(Column(kColumnFileName), (std::vector<std::string>{"y", "z"}));
  EXPECT_EQ(model_->Downloader(1), &progress_);
  EXPECT_EQ(model_->Downloader(0), nullptr);
  EXPECT_EQ(model_->AssociatedLDI(&progress_), z);
  model_->BindDownloader(y, &progress_);
  EXPECT_EQ(model_->Downloader(0), &progress_);
  EXPECT_EQ(model_->AddRow(y, nullptr), 0);  // already shown: rebound, not added
  EXPECT_EQ(model_->RowCount(), 2);
  EXPECT_EQ(model_->Downloader(0), nullptr);
  EXPECT_EQ(model_->Cell(5, 0), "");
}

class ProgressBarsTest : public DownloadListModelTest {
 protected:
  TProgressBars Bars(const TCellRect& cell, int rowHeight = 17) {
    return model_->DrawProgress(kColumnStatus, 0, cell, rowHeight);
  }
  void Start(int64_t size, std::vector<TPartProgress> parts, int64_t count) {
    record_ = Make("/d/big.iso", TDownloadState::Downloading, size);
    progress_.PartList = std::move(parts);
    progress_.Count = count;
    model_->AddRow(record_, &progress_);
  }
  TLocalDownloadinfo* record_ = nullptr;
};

TEST_F(ProgressBarsTest, FourPartsInProportionalSegments) {
  // Inner width 10: each 250-byte part is 2.5 wide and rounds to even (2);
  // the last part, over 99% done, fills to the right edge.
  Start(1000, {{0, 250, 250}, {250, 500, 150}, {500, 750, 0}, {750, 1000, 248}}, 623);
  const TProgressBars bars = Bars({100, 40, 114, 57});
  ASSERT_TRUE(bars.Drawn);
  EXPECT_EQ(bars.UpperFrame, (TCellRect{101, 42, 113, 47}));
  EXPECT_EQ(bars.UpperInner, (TCellRect{102, 43, 112, 46}));
  EXPECT_EQ(bars.LowerFrame, (TCellRect{101, 50, 113, 55}));
  EXPECT_EQ(bars.LowerInner, (TCellRect{102, 51, 112, 54}));
  EXPECT_EQ(bars.UpperSegments,
            (std::vector<TBarSegment>{{102, 2, 2}, {104, 2, 2}, {106, 2, 0}, {108, 2, 4}}));
  EXPECT_EQ(bars.LowerFillWidth, 6);

  // A part with an empty range ends the walk.
  progress_.PartList = {{0, 500, 100}, {500, 1000, 495}, {1000, 1000, 0}, {0, 1000, 1000}};
  EXPECT_EQ(Bars({100, 40, 114, 57}).UpperSegments, (std::vector<TBarSegment>{{102, 5, 1}, {107, 5, 5}}));
  // Exactly 99% of the last part is not "over 99%".
  progress_.PartList = {{0, 250, 0}, {250, 500, 0}, {500, 700, 0}, {700, 1000, 297}};
  EXPECT_EQ(Bars({100, 40, 114, 57}).UpperSegments.back(), (TBarSegment{108, 3, 3}));
  progress_.PartList.back().BytesReceived = 298;
  EXPECT_EQ(Bars({100, 40, 114, 57}).UpperSegments.back(), (TBarSegment{108, 3, 4}));
}

TEST_F(ProgressBarsTest, DrawnOnlyForTheStatusCellOfARunningDownloadWithAKnownSize) {
  Start(1000, {{0, 1000, 10}}, 10);
  EXPECT_TRUE(Bars({0, 0, 80, 17}).Drawn);
  EXPECT_FALSE(model_->DrawProgress(kColumnFileName, 0, {0, 0, 80, 17}, 17).Drawn);
  EXPECT_FALSE(model_->DrawProgress(kColumnStatus, 1, {0, 0, 80, 17}, 17).Drawn);
  EXPECT_FALSE(model_->DrawProgress(kColumnStatus, -1, {0, 0, 80, 17}, 17).Drawn);
  for (int64_t size : {int64_t{0}, int64_t{-1}}) {
    record_->FileSize = size;
    EXPECT_FALSE(Bars({0, 0, 80, 17}).Drawn) << size;
  }
  record_->FileSize = 1000;
  record_->SetStatus(TDownloadState::ContactingHost);
  EXPECT_FALSE(Bars({0, 0, 80, 17}).Drawn);
  record_->SetStatus(TDownloadState::Downloading);
  model_->SetDrawProgressBars(false);
  EXPECT_FALSE(Bars({0, 0, 80, 17}).Drawn);
  model_->SetDrawProgressBars(true);
  model_->UnbindDownloader(&progress_);
  EXPECT_FALSE(Bars({0, 0, 80, 17}).Drawn);
  WriteBool(kOptionsSection, "DrawProgressBars", false);
  EXPECT_FALSE(NewModel()->DrawProgressBars());
}

TEST_F(ProgressBarsTest, SizesBeyondFourGigabytesDoNotOverflow) {
  const int64_t part = 3 * kGiB / 2;
  Start(6 * kGiB, {{0, part, part}, {part, 2 * part, part / 2}, {2 * part, 3 * part, 0}, {3 * part, 4 * part, 0}},
        part + part / 2);
  TProgressBars bars = Bars({0, 0, 100, 17});  // inner width 96
  EXPECT_EQ(bars.UpperSegments, (std::vector<TBarSegment>{{2, 24, 24}, {26, 24, 12}, {50, 24, 0}, {74, 24, 0}}));
  EXPECT_EQ(bars.LowerFillWidth, 36);

  // Counts so large that inner width times bytes leaves 64 bits.
  const int64_t huge = int64_t{1} << 62;
  record_->FileSize = huge;
  progress_.PartList = {{0, huge / 2, huge / 4}, {huge / 2, huge, huge / 2}};
  progress_.Count = huge / 4 * 3;
  bars = Bars({0, 0, 100, 17});
  EXPECT_EQ(bars.UpperSegments, (std::vector<TBarSegment>{{2, 48, 24}, {50, 48, 48}}));
  EXPECT_EQ(bars.LowerFillWidth, 72);
}

TEST_F(ProgressBarsTest, TinyCellsKeepEveryRectangleInside) {
  Start(1000, {{0, 500, 500}, {500, 1000, 500}}, 1000);
  for (const auto& [cell, height] : {std::pair{TCellRect{50, 0, 50, 17}, 17}, std::pair{TCellRect{50, 0, 52, 17}, 17},
                                     std::pair{TCellRect{0, 10, 80, 12}, 2}, std::pair{TCellRect{0, 0, 80, 17}, -5}}) {
    const TProgressBars bars = Bars(cell, height);
    ASSERT_TRUE(bars.Drawn);
    for (const TCellRect& r : {bars.UpperFrame, bars.LowerFrame, bars.UpperInner, bars.LowerInner}) {
      EXPECT_TRUE(r.Left >= cell.Left && r.Left <= r.Right && r.Right <= cell.Right) << cell.Left << "," << cell.Right;
      EXPECT_TRUE(r.Top >= cell.Top && r.Top <= r.Bottom && r.Bottom <= cell.Bottom) << cell.Top << "," << height;
    }
    for (const TBarSegment& segment : bars.UpperSegments) {
      EXPECT_GE(segment.Width, 0);
      EXPECT_GE(segment.FillWidth, 0);
      EXPECT_LE(segment.Left + segment.FillWidth, bars.UpperInner.Right);
    }
    EXPECT_LE(bars.LowerInner.Left + bars.LowerFillWidth, bars.LowerInner.Right);
  }
  EXPECT_EQ(Bars({50, 0, 50, 17}).LowerFillWidth, 0);
}

}  // namespace
}  // namespace brindle
