#include "manager/download_list_model.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <map>
#include <numeric>
#include <set>
#include <unordered_set>
#include <utility>

#include "core/ascii_case.h"
#include "core/log_error.h"
#include "core/presentation.h"
#include "core/settings_schema.h"
#include "core/download_status.h"
#include "manager/local_download_info.h"
#include "manager/row_progress.h"

namespace brindle {
namespace {

constexpr std::array<const char*, kDownloadColumnCount> kHeaders = {
    "File Name", "Status", "Size", "Time left", "kb/sec", "Save Path", "Description"};

bool ValidColumn(int column) { return column >= 0 && column < kDownloadColumnCount; }

std::string FileNamePart(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string DirectoryPart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// width * amount / size rounded half to even, computed exactly: the share
// of a bar for amount bytes of size (size > 0), never more than the bar.
int64_t Share(int64_t width, int64_t amount, int64_t size) {
  if (width <= 0 || amount <= 0) return 0;
  const __int128 product = static_cast<__int128>(width) * amount;
  __int128 quotient = product / size;
  const __int128 twiceRest = (product % size) * 2;
  if (twiceRest > size || (twiceRest == size && (quotient & 1) != 0)) ++quotient;
  return quotient > width ? width : static_cast<int64_t>(quotient);
}

// Keeps r inside the cell and not inverted, so that a narrow or low cell
// cannot make the painter draw outside it.
TCellRect Confine(TCellRect r, const TCellRect& cell) {
  const int right = std::max(cell.Left, cell.Right);
  const int bottom = std::max(cell.Top, cell.Bottom);
  r.Left = std::clamp(r.Left, cell.Left, right);
  r.Right = std::clamp(r.Right, r.Left, right);
  r.Top = std::clamp(r.Top, cell.Top, bottom);
  r.Bottom = std::clamp(r.Bottom, r.Top, bottom);
  return r;
}

TCellRect Shrunk(const TCellRect& r) { return {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}; }

template <typename Handler, typename... Args>
void Raise(const Handler& handler, const char* name, Args... args) {
  if (!handler) return;
  try {
    handler(args...);
  } catch (...) {
    LogError(name);
  }
}

}  // namespace

TDownloadListModel::TDownloadListModel(BytesDownloadedFunction bytesDownloaded)
    : bytesDownloaded_(std::move(bytesDownloaded)) {
  const int column = Read(setting::DownloadsSortByColumn);
  sortColumn_ = ValidColumn(column) ? column : 0;
  sortAscending_ = Read(setting::DownloadsSortAscending);
  drawProgressBars_ = Read(setting::DrawProgressBars);
}

TDownloadListModel::~TDownloadListModel() = default;

std::string TDownloadListModel::ColumnHeader(int column) { return ValidColumn(column) ? kHeaders[column] : ""; }

const std::string& TDownloadListModel::Cell(int row, int column) const {
  static const std::string kEmpty;
  if (row < 0 || row >= RowCount() || !ValidColumn(column)) return kEmpty;
  return rows_[row].Cells[column];
}

TLocalDownloadinfo* TDownloadListModel::Record(int row) const {
  return row >= 0 && row < RowCount() ? rows_[row].Record : nullptr;
}

TRowProgress* TDownloadListModel::Downloader(int row) const {
  return row >= 0 && row < RowCount() ? rows_[row].Downloader : nullptr;
}

int TDownloadListModel::AssociatedRow(const TLocalDownloadinfo* record) const {
  if (record == nullptr) return -1;
  for (int i = 0; i < RowCount(); ++i) {
    if (rows_[i].Record == record) return i;
  }
  return -1;
}

TLocalDownloadinfo* TDownloadListModel::AssociatedLDI(const TRowProgress* downloader) const {
  if (downloader == nullptr) return nullptr;
  for (const Row& row : rows_) {
    if (row.Downloader == downloader) return row.Record;
  }
  return nullptr;
}

namespace {

// What a row sorts by in one column: a value where the column shows one,
// else its text.
struct TSortKey {
  bool HasValue = false;
  double Value = 0;
  double Tie = 0;
  std::string Text;
};

// "293 kb", "2.86 Mb", "12 bytes"; false for "Unknown" and the like.
bool ParseSize(const std::string& text, double& bytes) {
  const size_t blank = text.find(' ');
  if (blank == std::string::npos || blank == 0) return false;
  const std::string unit = text.substr(blank + 1);
  double scale = 0;
  if (unit == "bytes") scale = 1;
  if (unit == "kb") scale = 1024.0;
  if (unit == "Mb") scale = 1024.0 * 1024.0;
  if (unit == "Gb") scale = 1024.0 * 1024.0 * 1024.0;
  if (scale == 0) return false;
  char* end = nullptr;
  const std::string number = text.substr(0, blank);
  const double value = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size()) return false;
  bytes = value * scale;
  return true;
}

TSortKey KeyOf(int column, const std::string& text) {
  TSortKey key;
  key.Text = LowerCaseAscii(text);
  if (column == kColumnSize) {
    const size_t of = text.find(" of ");
    double done = 0;
    double total = 0;
    if (of == std::string::npos) {
      key.HasValue = ParseSize(text, total);
      done = total;
    } else {
      key.HasValue = ParseSize(text.substr(of + 4), total);
      if (!ParseSize(text.substr(0, of), done)) done = 0;
    }
    key.Value = total;
    key.Tie = done;
  } else if (column == kColumnTimeLeft) {
    key.HasValue = text.find(':') != std::string::npos && text.find_first_not_of("0123456789:") == std::string::npos;
    key.Value = static_cast<double>(TimeStringToSeconds(text));
  } else if (column == kColumnRate) {
    char* end = nullptr;
    key.Value = std::strtod(text.c_str(), &end);
    key.HasValue = !text.empty() && end == text.c_str() + text.size();
  }
  return key;
}

// Whether a goes before b in ascending order, both with a value or both
// without one.
bool Before(const TSortKey& a, const TSortKey& b) {
  if (!a.HasValue) return a.Text < b.Text;
  if (a.Value != b.Value) return a.Value < b.Value;
  return a.Tie < b.Tie;
}

}  // namespace

void TDownloadListModel::PopulateGrid(const TLDIList& records,
                                      const std::function<TRowProgress*(TLocalDownloadinfo*)>& downloaderOf) {
  try {
    std::set<const TLocalDownloadinfo*> selected;
    for (const Row& row : rows_)
      if (row.Selected) selected.insert(row.Record);
    const TLocalDownloadinfo* current = Record(currentRow_);
    std::map<const TLocalDownloadinfo*, size_t> place;
    if (orderHeld_)
      for (size_t i = 0; i < rows_.size(); ++i) place.emplace(rows_[i].Record, i);
    rows_.clear();
    rows_.reserve(static_cast<size_t>(records.Count()));
    currentRow_ = -1;
    std::unordered_set<const TLocalDownloadinfo*> added;
    for (int i = 0; i < records.Count(); ++i) {
      TLocalDownloadinfo* record = records.Get(i);
      if (record == nullptr || !added.insert(record).second) continue;
      if (record == current) currentRow_ = RowCount();
      Row& row = rows_.emplace_back();
      row.Record = record;
      row.Downloader = downloaderOf ? downloaderOf(record) : nullptr;
      row.Selected = selected.contains(record);
      WriteRow(row);
    }
    if (orderHeld_) {
      // The rows the user may be clicking stay where they were.
      std::vector<size_t> order(rows_.size());
      std::iota(order.begin(), order.end(), 0);
      const auto placeOf = [&](size_t i) {
        const auto found = place.find(rows_[i].Record);
        return found == place.end() ? place.size() : found->second;
      };
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return placeOf(a) < placeOf(b); });
      Reorder(order);
      sortPending_ = true;
    } else {
      SortRows();
    }
  } catch (...) {
    LogError("TDownloadListModel.PopulateGrid");
  }
  RowsChanged();
}

int TDownloadListModel::AddRow(TLocalDownloadinfo* record, TRowProgress* downloader) {
  if (record == nullptr) return -1;
  const int existing = AssociatedRow(record);
  if (existing >= 0) {
    rows_[existing].Downloader = downloader;
    WriteRow(rows_[existing]);
    RowChanged(existing);
    return existing;
  }
  Row& row = rows_.emplace_back();
  row.Record = record;
  row.Downloader = downloader;
  WriteRow(row);
  RowsChanged();
  return RowCount() - 1;
}

void TDownloadListModel::RemoveRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  rows_.erase(rows_.begin() + row);
  if (currentRow_ == row) currentRow_ = std::min(row, RowCount() - 1);
  else if (currentRow_ > row) --currentRow_;
  RowsChanged();
}

bool TDownloadListModel::RemoveFromStringGrid(const TLocalDownloadinfo* record) {
  const int row = AssociatedRow(record);
  if (row < 0) return false;
  RemoveRow(row);
  return true;
}

void TDownloadListModel::Clear() {
  rows_.clear();
  currentRow_ = -1;
  RowsChanged();
}

void TDownloadListModel::BindDownloader(const TLocalDownloadinfo* record, TRowProgress* downloader) {
  const int row = AssociatedRow(record);
  if (row < 0 || rows_[row].Downloader == downloader) return;
  rows_[row].Downloader = downloader;
  RowChanged(row);
}

void TDownloadListModel::UnbindDownloader(const TRowProgress* downloader) {
  if (downloader == nullptr) return;
  for (int i = 0; i < RowCount(); ++i) {
    if (rows_[i].Downloader != downloader) continue;
    rows_[i].Downloader = nullptr;
    RowChanged(i);
  }
}

bool TDownloadListModel::UpdateGridRow(const TLocalDownloadinfo* record) {
  const int row = AssociatedRow(record);
  if (row < 0) return false;
  try {
    if (WriteRow(rows_[row])) RowChanged(row);
  } catch (...) {
    LogError("TDownloadListModel.UpdateGridRow");
  }
  return true;
}

bool TDownloadListModel::WriteRow(Row& row) const {
  const TLocalDownloadinfo& record = *row.Record;
  bool changed = false;
  auto set = [&](int column, std::string text) {
    if (row.Cells[column] == text) return;
    row.Cells[column] = std::move(text);
    changed = true;
  };

  set(kColumnFileName, FileNamePart(record.LocalFileName));

  const TDownloadStatus& status = record.Status();
  const bool waitsToRetry = record.RetryTimer != nullptr;
  const std::string sizeText = record.FileSize == 0 ? "Unknown" : BytesToPresentableString(record.FileSize);
  // A finished or idle row that shows its state already stays as it is.
  if (row.Cells[kColumnStatus] == status.Text() && !(status == TDownloadState::Downloading) &&
      row.Cells[kColumnSize] == sizeText && !waitsToRetry) {
    return changed;
  }

  set(kColumnStatus, waitsToRetry ? status.Text() + " (" + std::to_string(record.RetryCountdown) + ")" : status.Text());
  if (status == TDownloadState::Done) {
    set(kColumnSize, sizeText);
    set(kColumnTimeLeft, "");
    set(kColumnRate, "");
  } else if (row.Downloader == nullptr) {
    const int64_t onDisk = bytesDownloaded_ ? bytesDownloaded_(record.TempFileName) : 0;
    set(kColumnSize, BytesToPresentableString(onDisk) + " of " + sizeText);
    set(kColumnTimeLeft, "");
    set(kColumnRate, "");
  } else {
    set(kColumnSize, BytesToPresentableString(row.Downloader->TransferCount()) + " of " + sizeText);
    set(kColumnTimeLeft, waitsToRetry ? "" : row.Downloader->TimeLeft());
    set(kColumnRate, waitsToRetry ? "" : row.Downloader->TransferRate());
  }
  set(kColumnSavePath, DirectoryPart(record.LocalFileName));
  set(kColumnDescription, record.Description);
  return changed;
}

void TDownloadListModel::SetSort(int column, bool ascending) {
  sortColumn_ = ValidColumn(column) ? column : 0;
  sortAscending_ = ascending;
  Sort();
}

void TDownloadListModel::HoldOrder() { orderHeld_ = true; }

void TDownloadListModel::ReleaseOrder() {
  orderHeld_ = false;
  if (!sortPending_) return;
  sortPending_ = false;
  Sort();
}

void TDownloadListModel::Sort() {
  if (orderHeld_) {
    sortPending_ = true;
    return;
  }
  try {
    SortRows();
  } catch (...) {
    LogError("TDownloadListModel.Sort");
  }
  RowsChanged();
}

void TDownloadListModel::SortRows() {
  std::vector<TSortKey> keys;
  keys.reserve(rows_.size());
  for (const Row& row : rows_) keys.push_back(KeyOf(sortColumn_, row.Cells[sortColumn_]));
  std::vector<size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const TSortKey& first = keys[a];
    const TSortKey& second = keys[b];
    // Rows without a value stay last whichever way the list is sorted.
    if (first.HasValue != second.HasValue) return first.HasValue;
    return sortAscending_ ? Before(first, second) : Before(second, first);
  });
  Reorder(order);
}

void TDownloadListModel::Reorder(const std::vector<size_t>& order) {
  // In place, one cycle of the permutation at a time: a sorted copy would
  // double the memory of a long list.
  std::vector<bool> placed(order.size());
  int current = -1;
  for (size_t start = 0; start < order.size(); ++start) {
    if (static_cast<int>(order[start]) == currentRow_) current = static_cast<int>(start);
    if (placed[start]) continue;
    Row held = std::move(rows_[start]);
    for (size_t i = start;; i = order[i]) {
      placed[i] = true;
      if (order[i] == start) {
        rows_[i] = std::move(held);
        break;
      }
      rows_[i] = std::move(rows_[order[i]]);
    }
  }
  currentRow_ = current;
}

void TDownloadListModel::SaveSortSettings() const {
  Write(setting::DownloadsSortByColumn, sortColumn_);
  Write(setting::DownloadsSortAscending, sortAscending_);
}

void TDownloadListModel::SetCurrentRow(int row) {
  const int current = row >= 0 && row < RowCount() ? row : -1;
  if (current == currentRow_) return;
  currentRow_ = current;
  SelectionChanged();
}

bool TDownloadListModel::IsSelected(int row) const { return row >= 0 && row < RowCount() && rows_[row].Selected; }

void TDownloadListModel::SetSelected(int row, bool selected) {
  if (row < 0 || row >= RowCount() || rows_[row].Selected == selected) return;
  rows_[row].Selected = selected;
  SelectionChanged();
}

void TDownloadListModel::ClearSelection() {
  for (Row& row : rows_) row.Selected = false;
  SelectionChanged();
}

TLDIList TDownloadListModel::GetSelectedFromStringGrid() const {
  TLDIList selected;
  for (const Row& row : rows_) {
    if (row.Selected && row.Record != nullptr) selected.Add(row.Record);
  }
  return selected;
}

TProgressBars TDownloadListModel::DrawProgress(int column, int row, const TCellRect& cell, int rowHeight) const {
  TProgressBars bars;
  if (column != kColumnStatus || !drawProgressBars_) return bars;
  const TLocalDownloadinfo* record = Record(row);
  const TRowProgress* downloader = Downloader(row);
  if (record == nullptr || downloader == nullptr || record->Status() != TDownloadState::Downloading || record->FileSize <= 0) {
    return bars;
  }
  bars.Drawn = true;
  const int half = rowHeight / 2;
  bars.UpperFrame = Confine({cell.Left + 1, cell.Top + 2, cell.Right - 1, cell.Top + half - 1}, cell);
  bars.LowerFrame = Confine({cell.Left + 1, cell.Top + half + 2, cell.Right - 1, cell.Top + rowHeight - 2}, cell);
  bars.UpperInner = Confine(Shrunk(bars.UpperFrame), bars.UpperFrame);
  bars.LowerInner = Confine(Shrunk(bars.LowerFrame), bars.LowerFrame);

  const int64_t size = record->FileSize;
  const int64_t width = bars.UpperInner.Right - bars.UpperInner.Left;
  const std::vector<TPartProgress> parts = downloader->Parts();
  int64_t offset = 0;  // from the inner left edge
  for (size_t i = 0; i < parts.size(); ++i) {
    const int64_t length = parts[i].EndByte - parts[i].StartByte;
    if (length <= 0) break;
    const int64_t room = width - offset;
    const int64_t done = parts[i].BytesReceived;
    // done / length > 0.99, exactly.
    const bool nearlyDoneLast =
        i + 1 == parts.size() && static_cast<__int128>(done) * 100 > static_cast<__int128>(length) * 99;
    const int64_t fill = nearlyDoneLast ? room : std::min(Share(width, done, size), room);
    const int64_t segment = std::min(Share(width, length, size), room);
    bars.UpperSegments.push_back({bars.UpperInner.Left + static_cast<int>(offset), static_cast<int>(segment),
                                  static_cast<int>(fill)});
    offset += segment;
  }
  const int64_t lowerWidth = bars.LowerInner.Right - bars.LowerInner.Left;
  bars.LowerFillWidth = static_cast<int>(std::min(Share(lowerWidth, downloader->TransferCount(), size), lowerWidth));
  return bars;
}

void TDownloadListModel::RowsChanged() { Raise(OnRowsChanged, "TDownloadListModel.OnRowsChanged"); }

void TDownloadListModel::RowChanged(int row) { Raise(OnRowChanged, "TDownloadListModel.OnRowChanged", row); }

void TDownloadListModel::SelectionChanged() { Raise(OnSelectionChanged, "TDownloadListModel.OnSelectionChanged"); }

}  // namespace brindle
