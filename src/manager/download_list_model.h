#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "manager/ldi_list.h"

namespace brindle {

class TLocalDownloadinfo;
class TRowProgress;

// The columns of the download list, in their logical order. A user may move
// them on screen; the model always speaks of these indexes.
enum TDownloadColumn : int {
  kColumnFileName = 0,
  kColumnStatus = 1,
  kColumnSize = 2,
  kColumnTimeLeft = 3,
  kColumnRate = 4,
  kColumnSavePath = 5,
  kColumnDescription = 6,
};
inline constexpr int kDownloadColumnCount = 7;

// A rectangle in window coordinates whose right and bottom edges lie just
// outside it (width = Right - Left).
struct TCellRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TCellRect&) const = default;
};

// The proportional share of one part in the upper bar.
struct TBarSegment {
  int Left = 0;
  int Width = 0;
  int FillWidth = 0;  // filled from Left
  bool operator==(const TBarSegment&) const = default;
};

inline constexpr uint32_t kUpperBarColor = 0x0000FF;  // 0x00BBGGRR: red
inline constexpr uint32_t kLowerBarColor = 0x008000;  // green

// The progress bars of a Status cell as rectangles to paint: both frames
// with the cell's pen and brush, then the fills. Every rectangle lies inside
// the cell and none is inverted, whatever the cell's size.
struct TProgressBars {
  bool Drawn = false;  // the bars replace the cell's text
  TCellRect UpperFrame;
  TCellRect LowerFrame;
  TCellRect UpperInner;
  TCellRect LowerInner;
  std::vector<TBarSegment> UpperSegments;  // in kUpperBarColor
  int LowerFillWidth = 0;                  // in kLowerBarColor, from LowerInner.Left
};

// The download list of the main window without any toolkit: rows of the
// seven column texts, each bound to its record and, while the download
// runs, to its downloader; the sort order; the selection; and the geometry
// of the progress bars. The download system writes it, the window shows it.
class TDownloadListModel {
 public:
  // Sum of the bytes in a record's part files, given its base path; shown
  // for downloads that are not running.
  using BytesDownloadedFunction = std::function<int64_t(const std::string& basePath)>;

  // Reads the sort order and the progress-bar option from the settings.
  // The download system gives the function when it is made (until then,
  // idle rows show none).
  explicit TDownloadListModel(BytesDownloadedFunction bytesDownloaded = {});
  ~TDownloadListModel();
  TDownloadListModel(const TDownloadListModel&) = delete;
  TDownloadListModel& operator=(const TDownloadListModel&) = delete;

  void SetBytesDownloaded(BytesDownloadedFunction bytesDownloaded) { bytesDownloaded_ = std::move(bytesDownloaded); }

  // "File Name", "Status", ...; empty for a column that does not exist.
  static std::string ColumnHeader(int column);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Empty for a cell that does not exist.
  const std::string& Cell(int row, int column) const;
  // nullptr for a row that does not exist.
  TLocalDownloadinfo* Record(int row) const;
  // nullptr for an idle row.
  TRowProgress* Downloader(int row) const;
  // -1 when the record is not shown.
  int AssociatedRow(const TLocalDownloadinfo* record) const;
  // The record of the first row bound to downloader, or nullptr.
  TLocalDownloadinfo* AssociatedLDI(const TRowProgress* downloader) const;

  // Clears the list and shows the records in list order, each bound to
  // downloaderOf(record) (nullptr: idle), then sorts again. The selection
  // and the current row stay with their records: a record that is still
  // shown keeps them, and no other row gets them, wherever the rows move.
  void PopulateGrid(const TLDIList& records, const std::function<TRowProgress*(TLocalDownloadinfo*)>& downloaderOf);
  // Appends a row for record and writes it; its index. A record already
  // shown keeps its row (rebound to downloader); nullptr adds nothing (-1).
  int AddRow(TLocalDownloadinfo* record, TRowProgress* downloader);
  void RemoveRow(int row);
  // Removes the record's row; false when it had none.
  bool RemoveFromStringGrid(const TLocalDownloadinfo* record);
  void Clear();

  // Binds the record's row to downloader (nullptr: the row becomes idle).
  void BindDownloader(const TLocalDownloadinfo* record, TRowProgress* downloader);
  // Every row bound to downloader becomes idle.
  void UnbindDownloader(const TRowProgress* downloader);

  // Rewrites the record's row from the record and its downloader; false
  // when the record has no row.
  bool UpdateGridRow(const TLocalDownloadinfo* record);

  int SortColumn() const { return sortColumn_; }
  bool SortAscending() const { return sortAscending_; }
  // Sorts the rows by the column's text ignoring case; Size, Time left and
  // kb/sec by the value they show (a size "of" a total by the total, then
  // by what is done), rows that show none in these columns after the rest in
  // either direction. Rows with equal keys keep their order. A column that
  // does not exist sorts by the first.
  void SetSort(int column, bool ascending);
  // Sorts again by the current column, as after rows were written.
  void Sort();
  // While the user holds a mouse button on the list, until the click is
  // handled, the rows keep their places: a refill keeps the order it found
  // (new rows last) and sorting waits for ReleaseOrder.
  void HoldOrder();
  void ReleaseOrder();
  // Stores the sort order for the next start.
  void SaveSortSettings() const;

  // -1 when there is no current row.
  int CurrentRow() const { return currentRow_; }
  void SetCurrentRow(int row);
  bool IsSelected(int row) const;
  void SetSelected(int row, bool selected);
  void ClearSelection();
  // The records of the selected rows, in row order.
  TLDIList GetSelectedFromStringGrid() const;

  bool DrawProgressBars() const { return drawProgressBars_; }
  void SetDrawProgressBars(bool draw) { drawProgressBars_ = draw; }
  // The bars of a cell, drawn for the Status column of a running row whose
  // record is "Downloading" with a known size, when the option is on; with
  // Drawn false the cell shows its text.
  TProgressBars DrawProgress(int column, int row, const TCellRect& cell, int rowHeight) const;

  // Rows were added, removed or reordered; the whole list is to be read again.
  std::function<void()> OnRowsChanged;
  // The texts or bindings of one row changed.
  std::function<void(int row)> OnRowChanged;
  // The model changed the current row or the selection itself.
  std::function<void()> OnSelectionChanged;

 private:
  struct Row {
    std::array<std::string, kDownloadColumnCount> Cells;
    TLocalDownloadinfo* Record = nullptr;
    TRowProgress* Downloader = nullptr;
    bool Selected = false;
  };

  bool WriteRow(Row& row) const;
  void SortRows();
  // Puts the row at order[i] in place i; the current row moves with its row.
  void Reorder(const std::vector<size_t>& order);
  void RowsChanged();
  void RowChanged(int row);
  void SelectionChanged();

  BytesDownloadedFunction bytesDownloaded_;
  std::vector<Row> rows_;
  int currentRow_ = -1;
  int sortColumn_ = 0;
  bool sortAscending_ = true;
  bool drawProgressBars_ = true;
  bool orderHeld_ = false;
  bool sortPending_ = false;
};

}  // namespace brindle
