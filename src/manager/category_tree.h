#pragma once

#include <string>
#include <vector>

#include "core/date_time.h"
#include "manager/ldi_list.h"

namespace brindle {

class TCategoryList;
class TDownloadListModel;
class TDownloadSystem;

// What a node of the category tree shows in the download list.
enum class TTreeFilterKind { All, AllCategories, Category, AllStatus, Status, History };

struct TTreeFilter {
  TTreeFilterKind Kind = TTreeFilterKind::All;
  std::string Text;  // the category name, status text or period
  bool operator==(const TTreeFilter&) const = default;
};

// One node of the tree, in display order. Level 0 are the four groups.
struct TTreeNode {
  std::string Text;
  int Level = 0;
  int ImageIndex = 0;
};

// The category tree of the main window without any toolkit, in its fixed
// shape: "All"; "Categories" with one child per category; "Status" with
// "Downloading", "Paused", "Scheduled", "Queued"; "History" with "24 Hours",
// "7 Days", "30 Days". Nodes are addressed by their absolute index in
// display order; the selection is such an index (ChoosenCategory).
class TCategoryTree {
 public:
  // The tree with no categories and "All" selected.
  TCategoryTree();

  // Rebuilds the tree with one child of "Categories" per name, in order.
  // The selected index stays as it is.
  void PopulateTreeView(const std::vector<std::string>& categoryNames);
  void AddCategoryToTreeView(const std::string& name);
  // Nothing when no child of "Categories" has exactly that text.
  void DeleteCategoryFromTreeView(const std::string& catName);
  void ChangeCategoryInTreeView(const std::string& oldName, const std::string& newName);

  int Count() const { return static_cast<int>(nodes_.size()); }
  // nullptr beyond the tree.
  const TTreeNode* Node(int index) const;
  const std::vector<TTreeNode>& Nodes() const { return nodes_; }
  // The absolute index of the node with that text under the group, -1 if none.
  int IndexOf(const std::string& group, const std::string& text) const;

  // The selected node; -1 or an index beyond the tree (one remembered from
  // an earlier, larger tree) selects nothing.
  int ChoosenCategory() const { return choosen_; }
  bool HasSelection() const { return choosen_ >= 0 && choosen_ < Count(); }
  // Selecting nothing keeps the filter last used.
  void SetChoosenCategory(int index);
  // "ChoosenCategory" in the settings, default 0.
  void LoadChoosenCategory();
  void SaveChoosenCategory() const;

  // The filter of the node at index: its group decides, the group node
  // itself shows the whole group. All for an index beyond the tree.
  TTreeFilter FilterOf(int index) const;
  // The filter of the selected node, or of the last node selected when
  // nothing is selected (All at first).
  TTreeFilter Filter() const { return lastFilter_; }

  // Refills the download list through the system's filter for Filter(),
  // keeping the selected records selected or selecting nothing.
  void PopulateStringGrid(TDownloadSystem& system, TDownloadListModel& model, bool keepSelection) const;
  // The records Filter() shows, in list order: activeRecords are the
  // records of the running downloads, now the wall clock as a day count.
  TLDIList FilterRecords(const TLDIList& records, const TLDIList& activeRecords, const TCategoryList& categories,
                         TDateTime now) const;

 private:
  int GroupIndex(const std::string& group) const;

  std::vector<TTreeNode> nodes_;
  int choosen_ = 0;
  TTreeFilter lastFilter_;
};

}  // namespace brindle
