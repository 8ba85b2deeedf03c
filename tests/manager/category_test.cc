#include "manager/category.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/paths.h"
#include "manager/category_list.h"
#include "manager/default_categories.h"
#include "support/scoped_environment.h"
#include "support/manager_test.h"

namespace brindle {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;
using Strings = std::vector<std::string>;

class CategoryTest : public test::ManagerTest {
 protected:
  std::string File() const { return temp_.File("cat.dat"); }
};

TEST_F(CategoryTest, ReadsFileLinesAndWritesThemBackTheSame) {
  WriteBool("Options", "ShowCompletedDialog", false);
  const struct {
    const char* line;
    const char* name;
    Strings extensions;
    bool autoSave;
    const char* folder;
    bool showComplete;
  } cases[] = {
      {"Archives\tzip rar\tYes\t/srv/a/\tNo", "Archives", {"zip", "rar"}, true, "/srv/a/", false},
      {"Four\tmp3\tNo\t/m", "Four", {"mp3"}, false, "/m/", false},  // completion flag keeps its default
      {"Empty\t\tyes\t\tYes", "Empty", {}, false, "", true},         // "yes" is not "Yes"
      {"More\tz\tNo\t/z/\tYes\tjunk", "More", {"z"}, false, "/z/", false},
      {"Esc\\tName\\r\\n\t\\\\b\tNo\tC:\\\\x\\r\\n/\tYes", "Esc\tName\r\n", {"\\b"}, false, "C:\\x\r\n/", true},
      {"None\t \tNo\t\tNo", "None", {""}, false, "", false},  // files without extension
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto category = TCategory::FromLine(c.line);
    ASSERT_NE(category, nullptr);
    EXPECT_EQ(category->Name(), c.name);
    EXPECT_EQ(category->Extensions(), c.extensions);
    EXPECT_EQ(category->AutoSave(), c.autoSave);
    EXPECT_EQ(category->SaveFolder(), c.folder);
    EXPECT_EQ(category->ShowCompleteDialog(), c.showComplete);
    const auto again = TCategory::FromLine(category->ToString());
    EXPECT_EQ(again->Name(), c.name);
    EXPECT_EQ(again->Extensions(), c.extensions);
    EXPECT_EQ(again->SaveFolder(), c.folder);
  }
  for (const char* junk : {"", "name only", "a\tb\tc", "\x01\x02\xff"}) EXPECT_EQ(TCategory::FromLine(junk), nullptr);
}

TEST_F(CategoryTest, ExtensionsFolderAndFlags) {
  const std::pair<const char*, Strings> cases[] = {{"zip  rar", {"zip", "rar"}}, {" zip", {"", "zip"}},
                                                   {"zip ", {"zip"}},           {"a    b c", {"a", "b", "c"}},
                                                   {"", {}},                    {"   ", {""}}};
  TCategory category;
  for (const auto& [text, expected] : cases) {
    category.SetExtensions(text);
    EXPECT_EQ(category.Extensions(), expected) << '"' << text << '"';
  }
  category.SetExtensions("zip GZ");
  EXPECT_TRUE(category.BelongsToCategory("/d/FILE.ZIP"));
  EXPECT_TRUE(category.BelongsToCategory("a.tar.gz"));
  EXPECT_FALSE(category.BelongsToCategory("zip"));
  category.SetExtensions(" exe");
  EXPECT_TRUE(category.BelongsToCategory("README"));

  category.SetSaveFolder("/home/u/Music");
  EXPECT_EQ(category.SaveFolder(), "/home/u/Music/");
  category.SetSaveFolder("");
  EXPECT_EQ(category.SaveFolder(), "");

  EXPECT_FALSE(category.AutoSave());
  EXPECT_TRUE(category.ShowCompleteDialog());
  WriteBool("Options", "ShowSaveDialog", false);
  WriteBool("Options", "ShowCompletedDialog", false);
  EXPECT_TRUE(TCategory().AutoSave());
  EXPECT_FALSE(TCategory().ShowCompleteDialog());
}

TEST_F(CategoryTest, ListLoadRewritesOldFormsAndSkipsJunk) {
  WriteWholeFile(File(), "Video\tavi\tNo\t/v/\r\n\r\njunk line\n\xff\xfe\r\nMusic\tmp3 ogg\tYes\t/m/\tNo\r\n");
  TCategoryList list(File());
  EXPECT_EQ(list.CategoryNames(), (Strings{"Video", "Music"}));
  EXPECT_EQ(ReadWholeFile(File()), "Video\tavi\tNo\t/v/\tYes\r\nMusic\tmp3 ogg\tYes\t/m/\tNo\r\n");
  EXPECT_EQ(list.GetByFileName("x.OGG"), list.Get(1));
  EXPECT_EQ(list.GetByFileName("x.txt"), nullptr);
  EXPECT_EQ(list.Get(2), nullptr);
  EXPECT_EQ(TCategoryList(temp_.File("missing.dat")).Count(), 0);
  EXPECT_FALSE(test::FileExists(temp_.File("missing.dat")));
}

TEST_F(CategoryTest, GetByNameIgnoresCaseRemoveCategoryDoesNot) {
  TCategoryList list(File());
  list.Add(std::make_unique<TCategory>())->SetName("Music");
  list.Add(std::make_unique<TCategory>())->SetName("Video");
  list.SaveToFile();
  EXPECT_EQ(list.GetByName("MUSIC"), list.Get(0));
  list.RemoveCategory("MUSIC");
  EXPECT_EQ(list.Count(), 2);
  list.RemoveCategory("Music");
  EXPECT_EQ(TCategoryList(File()).CategoryNames(), Strings{"Video"});
}

TEST_F(CategoryTest, FailedWriteKeepsOldFileAndListInMemory) {
  WriteWholeFile(File(), "Video\tavi\tNo\t/v/\tYes\r\n");
  TCategoryList list(File());
  FailWritesOf(File());
  list.Add(std::make_unique<TCategory>());
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(ReadWholeFile(File()), "Video\tavi\tNo\t/v/\tYes\r\n");
}

TEST_F(CategoryTest, ANewProfileGetsDefaultsInTheUserFoldersOnlyOnce) {
  EnsureDirectory(temp_.File("home/Music"));
  EnsureDirectory(temp_.File("home/Docs"));
  test::ScopedEnvironment env({{"HOME", temp_.File("home")},
                               {"XDG_DOWNLOAD_DIR", temp_.File("home/Downloads")},
                               {"XDG_MUSIC_DIR", "$HOME/Music"},
                               {"XDG_DOCUMENTS_DIR", temp_.File("home/Docs/")},
                               {"XDG_PICTURES_DIR", "$HOME"},  // switched off
                               {"XDG_VIDEOS_DIR", temp_.File("home/Missing")},
                               {"XDG_CONFIG_HOME", temp_.File("none")}});
  InstallDefaultCategories();
  TCategoryList list(File());
  ASSERT_EQ(list.CategoryNames(), (Strings{"Compressed", "Documents", "Music", "Pictures", "Programs", "Video"}));
  const std::string downloads = temp_.File("home/Downloads/");
  const Strings folders = {downloads, temp_.File("home/Docs/"), temp_.File("home/Music/"), downloads, downloads,
                           downloads};
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Get(i)->SaveFolder(), folders[i]) << list.Get(i)->Name();
  for (const char* file : {"a.tar.xz", "b.7Z", "c.epub", "d.flac", "e.webp", "f.AppImage", "g.deb", "h.mkv"})
    EXPECT_NE(list.GetByFileName(file), nullptr) << file;
  EXPECT_FALSE(list.Get(0)->AutoSave());
  for (const std::string& name : list.CategoryNames()) list.RemoveCategory(name);
  InstallDefaultCategories();
  EXPECT_EQ(TCategoryList(File()).Count(), 0);
}

}  // namespace
}  // namespace brindle
