#include "core/file_names.h"
#include "core/partial_folder_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "support/temp_dir.h"

namespace brindle {
namespace {

using test::TempDir;
using test::WriteWholeFile;

TEST(FileNamesTest, ReplaceSpaceCodes) {
  const std::pair<const char*, const char*> cases[] = {
      {"a%20b%20c", "a b c"}, {"%20%20", "  "}, {"%2520", "%2520"},
      {"%%2020", "% 20"},     {"%2", "%2"},     {"%41", "%41"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ReplaceSpaceCodes(text), expected) << text;
}

TEST(FileNamesTest, ExtractFileExtTakesLastDotOfLastComponent) {
  const std::pair<const char*, const char*> cases[] = {
      {"/d/a.tar.gz", ".gz"}, {"/d.x/a", ""}, {"a.", "."}, {"/d/.bashrc", ".bashrc"}, {"name", ""},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(ExtractFileExt(path), expected) << path;
}

TEST(FileNamesTest, MakeUniqueFileNameSkipsExistingFilesAndDirectories) {
  TempDir dir;
  EXPECT_EQ(MakeUniqueFileName(dir.File("setup.exe"), nullptr), dir.File("setup.exe"));

  WriteWholeFile(dir.File("setup.exe"), "x");
  WriteWholeFile(dir.File("setup(1).exe"), "x");
  EXPECT_EQ(MakeUniqueFileName(dir.File("setup.exe"), nullptr), dir.File("setup(2).exe"));

  std::filesystem::create_directory(dir.File("README"));
  EXPECT_EQ(MakeUniqueFileName(dir.File("README"), nullptr), dir.File("README(1)"));

  std::filesystem::create_symlink(dir.File("missing"), dir.File("link.txt"));
  EXPECT_EQ(MakeUniqueFileName(dir.File("link.txt"), nullptr), dir.File("link(1).txt"));

  // A name of the longest length still gets a number that the file system
  // takes: the stem gives way, the extension and whole characters stay.
  const std::string longest = std::string(248, 'a') + "\xC3\xA9.gz";
  WriteWholeFile(dir.File(longest), "x");
  EXPECT_EQ(MakeUniqueFileName(dir.File(longest), nullptr), dir.File(std::string(248, 'a') + "(1).gz"));
  EXPECT_EQ(NumberedFileName("/d/" + std::string(255, 'b'), 12), "/d/" + std::string(251, 'b') + "(12)");
  EXPECT_EQ(NumberedFileName("/d/a.b/" + std::string(300, 'c'), 1).size(), 7u + 255u);
}

TEST(FileNamesTest, MakeUniqueFileNameHonoursNamesInUse) {
  TempDir dir;
  std::set<std::string> inUse = {dir.File("x.zip"), dir.File("x(1).zip")};
  WriteWholeFile(dir.File("x(2).zip"), "x");
  auto claimed = [&](const std::string& path) { return inUse.count(path) != 0; };
  EXPECT_EQ(MakeUniqueFileName(dir.File("x.zip"), claimed), dir.File("x(3).zip"));
}

TEST(FileNamesTest, GetTempFileNameCreatesMissingParents) {
  TempDir dir;
  std::string parent = dir.File("a/b/c");
  std::string name = GetTempFileName(parent);
  EXPECT_TRUE(std::filesystem::is_directory(parent));
  ASSERT_EQ(name.size(), parent.size() + 9);
  EXPECT_EQ(name.substr(0, parent.size() + 1), parent + "/");
  EXPECT_EQ(GetTempFileName(parent + "/").substr(0, parent.size() + 1), parent + "/");
  EXPECT_NE(GetTempFileName(parent), GetTempFileName(parent));
}

TEST(FileNamesTest, GetTempFileNameAvoidsNamesThatExistWithAnyExtension) {
  TempDir dir;
  WriteWholeFile(dir.File("AAAAAAAA.dat"), "");
  WriteWholeFile(dir.File("BBBBBBBB"), "");
  WriteWholeFile(dir.File("cccccccc.5"), "");
  WriteWholeFile(dir.File("DDDDDDDDX"), "");
  std::deque<std::string> names = {"AAAAAAAA", "BBBBBBBB", "CCCCCCCC", "DDDDDDDD", "EEEEEEEE"};
  auto next = [&] {
    std::string name = names.front();
    names.pop_front();
    return name;
  };
  EXPECT_EQ(GetTempFileName(dir.Path(), next), dir.File("DDDDDDDD"));
}

// The index of the partial-downloads directory finds a record's own files
// by name, as a listing would, and follows what it is told and what Check
// finds on disk.
TEST(FileNamesTest, PartialFolderIndexFindsARecordsOwnFilesAndFollowsTheDisk) {
  TempDir dir;
  for (const char* name : {"ABCD1234.dat", "ABCD1234.0", "ABCD1234.262144", "ABCD1234.DAT", "ABCD1234.dat.tmp",
                           "ABCD12345.0", "ABCD1234", "EFGH5678.0", "old.name.0"})
    WriteWholeFile(dir.File(name), "x");
  TPartialFolderIndex index(dir.Path());
  EXPECT_EQ(index.PartStarts(dir.File("old.name")), std::vector<int64_t>{0});
  EXPECT_TRUE(index.PartStarts(dir.File("old")).empty());
  const std::string base = dir.File("ABCD1234");
  std::vector<std::string> files = index.FilesOf(base);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{base + ".0", base + ".262144", base + ".DAT", base + ".dat.tmp"}));
  EXPECT_EQ(index.ListedRecordFiles(), std::vector<std::string>{base + ".dat"});
  EXPECT_TRUE(index.FilesOf(dir.Path() + "/other/ABCD1234").empty());

  using Starts = std::vector<int64_t>;
  EXPECT_EQ(index.PartStarts(base), (Starts{0, 262144}));
  index.Added(base + ".524288");
  index.Removed(base + ".0");
  EXPECT_EQ(index.PartStarts(base), (Starts{262144, 524288}));
  index.Check(base + ".524288");  // not on disk
  index.Check(base + ".0");       // on disk
  EXPECT_EQ(index.PartStarts(base), (Starts{0, 262144}));
}

// A name is given out only when neither the index nor the disk has it: what
// appeared behind the index's back is found, and a name once given out or
// seen is never given out again.
TEST(FileNamesTest, PartialFolderIndexGivesOutNoNameTheDiskHas) {
  TempDir dir;
  WriteWholeFile(dir.File("cccccccc.5"), "");
  TPartialFolderIndex index(dir.Path());
  WriteWholeFile(dir.File("AAAAAAAA.0"), "");
  WriteWholeFile(dir.File("BBBBBBBB.dat"), "");
  std::deque<std::string> names = {"AAAAAAAA", "BBBBBBBB", "CCCCCCCC", "DDDDDDDD", "DDDDDDDD", "AAAAAAAA", "EEEEEEEE"};
  auto next = [&] {
    std::string name = names.front();
    names.pop_front();
    return name;
  };
  EXPECT_EQ(index.NewBasePath(next), dir.File("DDDDDDDD"));
  EXPECT_EQ(index.PartStarts(dir.File("AAAAAAAA")), std::vector<int64_t>{0});
  EXPECT_EQ(index.NewBasePath(next), dir.File("EEEEEEEE"));
}

TEST(FileNamesTest, RandomAlphaNumsUseTheDocumentedAlphabet) {
  EXPECT_EQ(GenerateRandomAlphaNums(0), "");
  EXPECT_NE(GenerateRandomAlphaNums(8), GenerateRandomAlphaNums(8));

  std::map<char, int> counts;
  for (char c : GenerateRandomAlphaNums(42000)) ++counts[c];
  ASSERT_EQ(counts.size(), 35u);
  for (const auto& [c, n] : counts) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Y')) << c;
  // "A".."G" are drawn from two codes each.
  int doubled = 0, single = 0;
  for (char c = 'A'; c <= 'G'; ++c) doubled += counts[c];
  for (char c = 'H'; c <= 'Y'; ++c) single += counts[c];
  double ratio = (doubled / 7.0) / (single / 18.0);
  EXPECT_GT(ratio, 1.7);
  EXPECT_LT(ratio, 2.3);
}

TEST(FileNamesTest, HasNumericExtension) {
  const std::pair<const char*, bool> cases[] = {
      {"ABCD1234.0", true},   {"ABCD1234.1048576", true}, {"ABCD1234.", true}, {"12345", true},
      {"ABCD1234.dat", false}, {"ABCD1234.12a", false},   {"a.1.2", false},    {"abc", false},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(HasNumericExtension(name), expected) << name;
}

TEST(FileNamesTest, LimitFileNameLengthKeepsExtensionAndWholeCharacters) {
  struct Case {
    std::string Name;
    size_t Max;
    std::string Expected;
  };
  const Case cases[] = {
      {"short.zip", 255, "short.zip"},
      {"abcdef.txt", 8, "abcd.txt"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9.txt", 8, "\xC3\xA9\xC3\xA9.txt"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9.txt", 7, "\xC3\xA9.txt"},
      {"a.longext", 5, "a.lon"},
      {"abc.ab", 3, "abc"},
      {"\xE2\x82\xAC\xE2\x82\xAC", 4, "\xE2\x82\xAC"},
  };
  for (const Case& c : cases) EXPECT_EQ(LimitFileNameLength(c.Name, c.Max), c.Expected) << c.Name;

  std::string cut = LimitFileNameLength(std::string(300, 'a') + ".zip");
  EXPECT_EQ(cut.size(), 255u);
  EXPECT_TRUE(cut.ends_with(".zip"));
}

}  // namespace
}  // namespace brindle
