#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/prompt_port.h"
#include "core/settings.h"
#include "manager/category.h"
#include "manager/category_editor.h"
#include "manager/category_list.h"
#include "manager/category_tree.h"
#include "manager/ldi_list.h"
#include "manager/local_download_info.h"
#include "support/installed.h"
#include "support/manager_test.h"
#include "support/scripted_prompt.h"

namespace brindle {
namespace {

class CategoryEditorTest : public test::ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    WriteString(kOptionsSection, "DefaultDownloadDirectory", temp_.File("downloads"));
    tree_.PopulateTreeView({});
    music_ = editor_.AddCategory({"Music", "mp3 ogg", temp_.Path(), true, false});
  }
  struct Outcome {
    bool Called = false;
    bool Ok = false;
    TCategoryFields Fields;
  };
  Outcome Validate(const TCategoryFields& fields, const TCategory* editing = nullptr) {
    Outcome outcome;
    editor_.Validate(fields, editing, [&](bool ok, const TCategoryFields& shown) {
      outcome = {true, ok, shown};
    });
    return outcome;
  }

  test::Installed<test::ScriptedPrompt, SetPrompt> prompt_;
  TCategoryList categories_{temp_.File("cat.dat")};
  TCategoryTree tree_;
  TLDIList records_;
  TCategoryEditor editor_{categories_, tree_, records_};
  TCategory* music_ = nullptr;
};

// The checks in their order: the first failure is the one shown.
TEST_F(CategoryEditorTest, ValidationFailuresInTheirOrder) {
  const std::string dir = temp_.Path();
  struct Case {
    TCategoryFields Fields;
    bool Editing;
    std::string Name;       // field after the check
    std::string Directory;  // field after the check
    std::vector<std::string> Texts;
  };
  const std::vector<Case> cases = {
      {{"  ", "", "", false, true}, false, TCategoryEditor::kNoName, "", {}},
      {{"Please type a category name!", "", dir, false, true}, false, TCategoryEditor::kNoName, dir, {}},
      {{" music ", "", "", false, true}, false, " music ", "", {"A category named music already exists."}},
      {{"Video", "", "", false, true}, false, "Video", TCategoryEditor::kNoDirectory, {}},
      // Editing may keep its own name.
      {{"Music", "", "", false, true}, true, "Music", TCategoryEditor::kNoDirectory, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Fields.Name);
    prompt_.texts.clear();
    const Outcome outcome = Validate(c.Fields, c.Editing ? music_ : nullptr);
    ASSERT_TRUE(outcome.Called);
    EXPECT_FALSE(outcome.Ok);
    EXPECT_EQ(outcome.Fields.Name, c.Name);
    EXPECT_EQ(outcome.Fields.Directory, c.Directory);
    EXPECT_EQ(prompt_.texts, c.Texts);
  }
  // A new category may not take the name of another either when renamed.
  TCategory* video = editor_.AddCategory({"Video", "", dir, false, true});
  EXPECT_FALSE(Validate({"MUSIC", "", dir, false, true}, video).Ok);
  EXPECT_TRUE(Validate({"Music", "", dir, false, true}, music_).Ok);
}

TEST_F(CategoryEditorTest, MissingFolderIsCreatedUnderTheDownloadFolderOnYes) {
  prompt_.yes = false;
  Outcome outcome = Validate({"Films", "", "Films/New", false, true});
  EXPECT_FALSE(outcome.Ok);
  EXPECT_EQ(outcome.Fields.Directory, "Films/New");
  const std::string created = temp_.File("downloads") + "/Films/New";
  EXPECT_EQ(prompt_.texts, std::vector<std::string>{"Directory " + created +
                                                    " doesn't exist. Do you want to create it?"});
  EXPECT_FALSE(test::FileExists(created));

  prompt_.yes = true;
  outcome = Validate({"Films", "", "Films/New/", false, true});
  EXPECT_TRUE(outcome.Ok);
  EXPECT_EQ(outcome.Fields.Directory, created);
  EXPECT_TRUE(test::FileExists(created));

  // A folder under a plain file cannot be made, whoever runs the test.
  test::WriteWholeFile(temp_.File("plain"), "x");
  outcome = Validate({"Films", "", temp_.File("plain") + "/sub", false, true});
  EXPECT_FALSE(outcome.Ok);
  EXPECT_EQ(outcome.Fields.Directory, TCategoryEditor::kCannotCreate);
  EXPECT_EQ(TCategoryEditor::ResolveDirectory("~/Music"), std::string(getenv("HOME")) + "/Music");
  EXPECT_EQ(TCategoryEditor::ResolveDirectory("/srv/x/"), "/srv/x");
}

TEST_F(CategoryEditorTest, AcceptedExtensionsJoinTheMonitoredList) {
  const std::string defaults = kDefaultExtensionList;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ogg", defaults + " ogg"},
      {"mp3", defaults},
      {"MP3", defaults + " mp3"},  // a new word before lower-casing
      {"mp", defaults},            // found inside mp3
      {"  ogg   flac ", defaults + " ogg flac"},
  };
  for (const auto& [typed, expected] : cases) {
    SCOPED_TRACE(typed);
    EXPECT_EQ(TCategoryEditor::AddExtensions(defaults, typed), expected);
  }
  ASSERT_TRUE(Validate({"Films", "MKV", temp_.Path(), false, true}).Ok);
  EXPECT_EQ(ReadString(kOptionsSection, "Extensions", ""), defaults + " mkv");
}

// Every change reaches the list file, the records and the tree at once.
TEST_F(CategoryEditorTest, ChangesReachListFileRecordsAndTree) {
  auto record = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>("http://h/a.mp3"), "", nullptr);
  record->Category = music_;
  record->Save();
  records_.Add(record.get());
  const auto stored = [&] { return TLocalDownloadinfo(nullptr, record->TempFileName, &categories_).Category; };
  EXPECT_EQ(stored(), music_);

  editor_.EditCategory(*music_, {"Songs", "mp3", temp_.Path(), false, true});
  EXPECT_EQ(TCategoryList(temp_.File("cat.dat")).CategoryNames(), std::vector<std::string>{"Songs"});
  EXPECT_NE(tree_.IndexOf("Categories", "Songs"), -1);
  EXPECT_EQ(tree_.IndexOf("Categories", "Music"), -1);
  EXPECT_EQ(stored(), music_);  // the record file carries the new name
  EXPECT_EQ(TCategoryEditor::GridRow(*music_),
            (std::vector<std::string>{"Songs", "mp3", "No", "Yes", temp_.Path()}));

  test::WriteWholeFile(temp_.File("song.mp3"), "kept");
  record->LocalFileName = temp_.File("song.mp3");
  editor_.DeleteCategory("songs");
  EXPECT_EQ(record->Category, nullptr);
  EXPECT_EQ(stored(), nullptr);
  EXPECT_EQ(categories_.Count(), 0);
  EXPECT_EQ(TCategoryList(temp_.File("cat.dat")).Count(), 0);
  EXPECT_EQ(tree_.IndexOf("Categories", "Songs"), -1);
  EXPECT_EQ(test::ReadWholeFile(temp_.File("song.mp3")), "kept");
}

}  // namespace
}  // namespace brindle
