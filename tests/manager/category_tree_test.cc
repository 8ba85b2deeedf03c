#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/date_time.h"
#include "core/settings.h"
#include "core/download_status.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/category_tree.h"
#include "manager/local_download_info.h"
#include "support/manager_test.h"

namespace brindle {
namespace {

using Names = std::set<std::string>;

std::vector<std::string> Texts(const TCategoryTree& tree) {
  std::vector<std::string> texts;
  for (const TTreeNode& node : tree.Nodes()) texts.push_back(std::string(node.Level, '-') + node.Text);
  return texts;
}

// The nodes' texts in their order are checked with their records below.
TEST(CategoryTree, EachNodeHasItsPicture) {
  TCategoryTree tree;
  tree.PopulateTreeView({"Music", "Video"});
  std::vector<int> images;
  for (const TTreeNode& node : tree.Nodes()) images.push_back(node.ImageIndex);
  EXPECT_EQ(images, (std::vector<int>{0, 0, 0, 0, 0, 1, 2, 3, 4, 0, 5, 6, 7}));
}

// Adding, deleting and renaming a category keeps the selection on its node.
TEST(CategoryTree, CategoryChangesKeepTheSelectedNode) {
  TCategoryTree tree;
  tree.PopulateTreeView({"Music", "Video"});
  tree.SetChoosenCategory(tree.IndexOf("Status", "Paused"));
  tree.AddCategoryToTreeView("Docs");
  EXPECT_EQ(tree.IndexOf("Categories", "Docs"), 4);
  EXPECT_EQ(tree.Node(tree.ChoosenCategory())->Text, "Paused");
  tree.DeleteCategoryFromTreeView("Music");
  tree.DeleteCategoryFromTreeView("Nothing");
  EXPECT_EQ(tree.Node(tree.ChoosenCategory())->Text, "Paused");
  EXPECT_EQ(tree.IndexOf("Categories", "Music"), -1);

  tree.SetChoosenCategory(tree.IndexOf("Categories", "Video"));
  tree.ChangeCategoryInTreeView("Video", "Films");
  EXPECT_EQ(tree.Filter(), (TTreeFilter{TTreeFilterKind::Category, "Films"}));
  // Deleting the selected category selects its group.
  tree.DeleteCategoryFromTreeView("Films");
  EXPECT_EQ(tree.Node(tree.ChoosenCategory())->Text, "Categories");
  EXPECT_EQ(tree.Filter().Kind, TTreeFilterKind::AllCategories);
}

class CategoryTreeFilterTest : public test::ManagerTest {
 protected:
  struct Given {
    std::string Name;
    TDownloadState Status;
    std::string Category;  // empty: none
    double AgeDays = 0;    // of LastActivity, for "Done"
  };

  void SetUp() override {
    ManagerTest::SetUp();
    for (const char* name : {"Music", "Video", "Docs"}) categories_.Add(std::make_unique<TCategory>())->SetName(name);
    constexpr double kSecond = 1.0 / 86400;
    const std::vector<Given> specs = {
        {"contacting", TDownloadState::ContactingHost, "Music"},
        {"downloading", TDownloadState::Downloading, ""},
        {"paused", TDownloadState::Paused, "Music"},
        {"queued", TDownloadState::Queued, "Video"},
        {"scheduled", TDownloadState::Scheduled, "Docs"},
        {"timeout", TDownloadState::Timeout, ""},
        {"notfound", TDownloadState::FileNotFound, "Video"},
        {"combining", TDownloadState::CombiningFiles, ""},
        {"day", TDownloadState::Done, "Music", 1},
        {"day+", TDownloadState::Done, "", 1 + kSecond},
        {"week", TDownloadState::Done, "Docs", 7},
        {"week+", TDownloadState::Done, "", 7 + kSecond},
        {"month", TDownloadState::Done, "", 30},
        {"month+", TDownloadState::Done, "Video", 30 + kSecond},
    };
    for (const Given& spec : specs) {
      auto record = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>("http://host/" + spec.Name),
                                                         temp_.File(spec.Name), nullptr);
      record->SetStatus(spec.Status);
      record->Category = categories_.GetByName(spec.Category);
      record->LastActivity = Now() - spec.AgeDays;
      names_[record.get()] = spec.Name;
      records_.Add(record.get());
      if (spec.Status == TDownloadState::ContactingHost || spec.Status == TDownloadState::Downloading)
        active_.Add(record.get());
      owned_.push_back(std::move(record));
    }
  }

  Names Shown(const TCategoryTree& tree) {
    Names shown;
    const TLDIList list = tree.FilterRecords(records_, active_, categories_, Now());
    for (int i = 0; i < list.Count(); ++i) shown.insert(names_[list.Get(i)]);
    return shown;
  }

  TCategoryList categories_{temp_.File("cat.dat")};
  std::vector<std::unique_ptr<TLocalDownloadinfo>> owned_;
  std::map<TLocalDownloadinfo*, std::string> names_;
  TLDIList records_;
  TLDIList active_;
};

TEST_F(CategoryTreeFilterTest, EveryNodeShowsItsRecords) {
  TCategoryTree tree;
  tree.PopulateTreeView(categories_.CategoryNames());
  const Names done = {"day", "day+", "week", "week+", "month", "month+"};
  const Names notDone = {"contacting", "downloading", "paused",   "queued",
                         "scheduled",  "timeout",     "notfound", "combining"};
  Names all = done;
  all.insert(notDone.begin(), notDone.end());
  const std::vector<std::pair<std::string, Names>> expected = {
      {"All", all},
      {"Categories", {"contacting", "paused", "queued", "scheduled", "notfound", "day", "week", "month+"}},
      {"-Music", {"contacting", "paused", "day"}},
      {"-Video", {"queued", "notfound", "month+"}},
      {"-Docs", {"scheduled", "week"}},
      {"Status", notDone},
      {"-Downloading", {"contacting", "downloading"}},
      {"-Paused", {"paused"}},
      {"-Scheduled", {"scheduled"}},
      {"-Queued", {"queued"}},
      {"History", done},
      // The boundaries belong to their period.
      {"-24 Hours", {"day"}},
      {"-7 Days", {"day", "day+", "week"}},
      {"-30 Days", {"day", "day+", "week", "week+", "month"}},
  };
  ASSERT_EQ(static_cast<int>(expected.size()), tree.Count());
  int index = 0;
  for (const auto& [text, names] : expected) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Texts(tree)[index], text);
    tree.SetChoosenCategory(index);
    EXPECT_EQ(Shown(tree), names);
    ++index;
  }
}

TEST_F(CategoryTreeFilterTest, AnIndexBeyondTheTreeSelectsNothingAndKeepsTheLastFilter) {
  WriteInteger(kOptionsSection, "ChoosenCategory", 99);
  TCategoryTree tree;
  tree.PopulateTreeView(categories_.CategoryNames());
  tree.SetChoosenCategory(tree.IndexOf("Status", "Paused"));
  tree.LoadChoosenCategory();
  EXPECT_FALSE(tree.HasSelection());
  EXPECT_EQ(tree.Node(tree.ChoosenCategory()), nullptr);
  EXPECT_EQ(Shown(tree), (Names{"paused"}));
  tree.SetChoosenCategory(12);
  tree.SaveChoosenCategory();
  EXPECT_EQ(ReadInteger(kOptionsSection, "ChoosenCategory", 0), 12);
}

}  // namespace
}  // namespace brindle
