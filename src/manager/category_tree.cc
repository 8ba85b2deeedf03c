#include "manager/category_tree.h"

#include "core/settings_schema.h"
#include "core/download_status.h"
#include "manager/download_list_filters.h"
#include "manager/download_list_model.h"
#include "manager/download_system.h"

namespace brindle {
namespace {

constexpr const char* kGroupAll = "All";
constexpr const char* kGroupCategories = "Categories";
constexpr const char* kGroupStatus = "Status";
constexpr const char* kGroupHistory = "History";

}  // namespace

TCategoryTree::TCategoryTree() { PopulateTreeView({}); }

void TCategoryTree::PopulateTreeView(const std::vector<std::string>& categoryNames) {
  nodes_.clear();
  nodes_.push_back({kGroupAll, 0, 0});
  nodes_.push_back({kGroupCategories, 0, 0});
  for (const std::string& name : categoryNames) nodes_.push_back({name, 1, 0});
  nodes_.push_back({kGroupStatus, 0, 0});
  nodes_.push_back({StatusText(TDownloadState::Downloading), 1, 1});
  nodes_.push_back({StatusText(TDownloadState::Paused), 1, 2});
  nodes_.push_back({StatusText(TDownloadState::Scheduled), 1, 3});
  nodes_.push_back({StatusText(TDownloadState::Queued), 1, 4});
  nodes_.push_back({kGroupHistory, 0, 0});
  nodes_.push_back({"24 Hours", 1, 5});
  nodes_.push_back({"7 Days", 1, 6});
  nodes_.push_back({"30 Days", 1, 7});
  SetChoosenCategory(choosen_);
}

int TCategoryTree::GroupIndex(const std::string& group) const {
  for (int i = 0; i < Count(); ++i)
    if (nodes_[i].Level == 0 && nodes_[i].Text == group) return i;
  return -1;
}

int TCategoryTree::IndexOf(const std::string& group, const std::string& text) const {
  const int first = GroupIndex(group);
  if (first < 0) return -1;
  for (int i = first + 1; i < Count() && nodes_[i].Level > 0; ++i)
    if (nodes_[i].Text == text) return i;
  return -1;
}

void TCategoryTree::AddCategoryToTreeView(const std::string& name) {
  // The new child goes last under "Categories", which is where "Status" is now.
  const int at = GroupIndex(kGroupStatus);
  nodes_.insert(nodes_.begin() + at, {name, 1, 0});
  // The selection stays on its node, which may have moved down.
  if (choosen_ >= at) ++choosen_;
}

void TCategoryTree::DeleteCategoryFromTreeView(const std::string& catName) {
  const int at = IndexOf(kGroupCategories, catName);
  if (at < 0) return;
  nodes_.erase(nodes_.begin() + at);
  if (choosen_ == at) SetChoosenCategory(GroupIndex(kGroupCategories));
  else if (choosen_ > at) --choosen_;
}

void TCategoryTree::ChangeCategoryInTreeView(const std::string& oldName, const std::string& newName) {
  const int at = IndexOf(kGroupCategories, oldName);
  if (at < 0) return;
  nodes_[at].Text = newName;
  if (choosen_ == at) lastFilter_ = FilterOf(at);
}

const TTreeNode* TCategoryTree::Node(int index) const {
  return index >= 0 && index < Count() ? &nodes_[index] : nullptr;
}

void TCategoryTree::SetChoosenCategory(int index) {
  choosen_ = index;
  if (HasSelection()) lastFilter_ = FilterOf(index);
}

void TCategoryTree::LoadChoosenCategory() { SetChoosenCategory(Read(setting::ChoosenCategory)); }

void TCategoryTree::SaveChoosenCategory() const { Write(setting::ChoosenCategory, choosen_); }

TTreeFilter TCategoryTree::FilterOf(int index) const {
  if (index < 0 || index >= Count()) return {};
  int group = index;
  while (group > 0 && nodes_[group].Level > 0) --group;
  const std::string& groupText = nodes_[group].Text;
  const bool child = group != index;
  const std::string& text = nodes_[index].Text;
  if (groupText == kGroupCategories)
    return child ? TTreeFilter{TTreeFilterKind::Category, text} : TTreeFilter{TTreeFilterKind::AllCategories, ""};
  if (groupText == kGroupStatus)
    return child ? TTreeFilter{TTreeFilterKind::Status, text} : TTreeFilter{TTreeFilterKind::AllStatus, ""};
  if (groupText == kGroupHistory)
    return child ? TTreeFilter{TTreeFilterKind::History, text}
                 : TTreeFilter{TTreeFilterKind::Status, StatusText(TDownloadState::Done)};
  return {};
}

void TCategoryTree::PopulateStringGrid(TDownloadSystem& system, TDownloadListModel& model, bool keepSelection) const {
  if (!keepSelection) {
    model.ClearSelection();
    model.SetCurrentRow(-1);
  }
  switch (lastFilter_.Kind) {
    case TTreeFilterKind::All: system.ShowAll(); break;
    case TTreeFilterKind::AllCategories: system.ShowAllCategory(); break;
    case TTreeFilterKind::Category: system.ShowCategory(lastFilter_.Text); break;
    case TTreeFilterKind::AllStatus: system.ShowAllStatus(); break;
    case TTreeFilterKind::Status: system.ShowStatus(TDownloadStatus::FromText(lastFilter_.Text)); break;
    case TTreeFilterKind::History: system.ShowHistory(lastFilter_.Text); break;
  }
}

TLDIList TCategoryTree::FilterRecords(const TLDIList& records, const TLDIList& activeRecords,
                                      const TCategoryList& categories, TDateTime now) const {
  switch (lastFilter_.Kind) {
    case TTreeFilterKind::All: return ShowAllRecords(records);
    case TTreeFilterKind::AllCategories: return ShowAllCategoryRecords(records);
    case TTreeFilterKind::Category: return ShowCategoryRecords(records, categories, lastFilter_.Text);
    case TTreeFilterKind::AllStatus: return ShowAllStatusRecords(records);
    case TTreeFilterKind::Status:
      return ShowStatusRecords(records, activeRecords, TDownloadStatus::FromText(lastFilter_.Text));
    case TTreeFilterKind::History: return ShowHistoryRecords(records, lastFilter_.Text, now);
  }
  return records;
}

}  // namespace brindle
