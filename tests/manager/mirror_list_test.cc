#include "engine/mirror_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/url.h"
#include "engine/file_mirror.h"
#include "manager/mirror_list_file.h"
#include "core/text_file.h"
#include "support/manager_test.h"

namespace brindle {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;
using Strings = std::vector<std::string>;

// The URLs of a list, which is then freed.
Strings TakeUrls(std::unique_ptr<TMirrorList> list) {
  Strings urls;
  for (int i = 0; i < list->Count(); ++i) urls.push_back(list->Get(i)->Url->Url);
  list->DeleteAndFreeAllMirrors();
  return urls;
}

TEST(MirrorListTest, InsertSortedAndGetMirror) {
  auto list = std::make_unique<TMirrorList>();
  for (const auto& [url, ping] : {std::pair{"http://a/", 50}, {"http://b/", 90}, {"http://c/", 50}, {"http://d/", 10}}) {
    auto* mirror = new TFileMirror(url);
    mirror->PingTime = ping;
    list->InsertSorted(mirror);  // equal times: the newest first
  }
  EXPECT_EQ(list->GetMirror("http://a/"), list->Get(2));
  EXPECT_EQ(list->GetMirror("HTTP://a/"), nullptr);
  EXPECT_EQ(list->Get(4), nullptr);
  EXPECT_EQ(TakeUrls(std::move(list)), (Strings{"http://d/", "http://c/", "http://a/", "http://b/"}));
}

TEST(MirrorListFileTest, MatchingRules) {
  struct Case {
    const char* name;
    const char* list;
    const char* url;
    Strings expected;
  };
  const Case cases[] = {
      {"example", "t1,t2,7,http://x/pub/\r\nt3,t4,7,ftp://y/mirror/\r\n", "http://x/pub/a/f.zip",
       {"http://x/pub/a/f.zip", "ftp://y/mirror/a/f.zip"}},
      {"no match", "a,b,1,http://x/\nc,d,1,http://y/\n", "http://z/f", {}},
      {"group text is case-sensitive", "a,b,g,http://x/\nc,d,G,http://y/\ne,f,g,http://w/\n", "http://y/f",
       {"http://y/f"}},
      {"indented comment is a server", "  //,c,1,http://x/\n//a,b,1,http://y/\na,b,1,http://z/\n", "http://z/f",
       {"http://x/f", "http://z/f"}},
      {"only a prefix matches", "a,b,1,http://x/\nc,d,1,http://y/\n", "ahttp://x/f", {}},
      {"later match replaces earlier", "a,b,1,http://x/\nc,d,2,http://x/pub/\ne,f,2,http://m/\n",
       "http://x/pub/f", {"http://x/pub/f", "http://m/f"}},
      {"fourth field keeps commas", "a,b,1,http://x/a,b/\nc,d,1,http://y/\n", "http://x/a,b/f",
       {"http://x/a,b/f", "http://y/f"}},
      {"missing commas", "http://x/\nonly,http://y/\nc,d,,http://z/\na,b,1,http://w/\n", "http://z/f",
       {"http://x/f", "http://y/f", "http://z/f"}},
      {"empty base never matches", "a,b,1,\nc,d,1,http://y/\n", "http://q/f", {}},
      {"blank lines and control characters", " \t\x01\n\r\na,b,1,http://x/\r\nc,d,1,http://y/", "http://y/f",
       {"http://x/f", "http://y/f"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TakeUrls(GetMirrorsFromText(c.list, c.url)), c.expected);
  }
  auto list = GetMirrorsFromText("Berlin,Fast,7,http://x/\nParis,Slow,7,http://y/\n", "http://y/f");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Get(0)->Location, "Berlin");
  EXPECT_EQ(list->Get(1)->Description, "Slow");
  EXPECT_EQ(list->Get(1)->PingTime, 9999);
  list->DeleteAndFreeAllMirrors();
}

class MirrorListInstallTest : public test::ManagerTest {};

TEST_F(MirrorListInstallTest, GetMirrorsReadsTheFileInTheDataDirectory) {
  EXPECT_EQ(TakeUrls(GetMirrors("http://x/f")), Strings{});
  WriteWholeFile(MirrorListFile(), "a,b,1,http://x/\nc,d,1,http://y/\n");
  EXPECT_EQ(TakeUrls(GetMirrors("http://x/f")), (Strings{"http://x/f", "http://y/f"}));
}

TEST_F(MirrorListInstallTest, DefaultListIsInstalledOnlyWhenMissing) {
  setenv("BRINDLE_HOME", temp_.File("new/home").c_str(), 1);
  ASSERT_TRUE(InstallDefaultMirrorList());
  EXPECT_EQ(ReadWholeFile(MirrorListFile()), DefaultMirrorListText());
  WriteWholeFile(MirrorListFile(), "mine");
  ASSERT_TRUE(InstallDefaultMirrorList());
  EXPECT_EQ(ReadWholeFile(MirrorListFile()), "mine");
}

TEST(DefaultMirrorListTest, IsTheShippedFileAndEveryServerMirrorsItsGroup) {
  // Not from __FILE__: a compiler cache with a base directory makes it relative.
  const std::string shipped = std::string(BRINDLE_TEST_DATA) + "/../../src/manager/data/mirrors.lst";
  EXPECT_EQ(DefaultMirrorListText(), ReadWholeFile(shipped));

  int servers = 0;
  for (const std::string_view line : SplitLines(DefaultMirrorListText())) {
    if (line.empty() || line.substr(0, 2) == "//") continue;
    ++servers;
    const std::string base(line.substr(line.rfind(',') + 1));
    SCOPED_TRACE(base);
    EXPECT_TRUE(base.rfind("http://", 0) == 0 || base.rfind("ftp://", 0) == 0);
    EXPECT_EQ(base.back(), '/');
    const Strings urls = TakeUrls(GetMirrorsFromText(DefaultMirrorListText(), base + "dir/file.tar.gz"));
    EXPECT_GE(urls.size(), 3u);
    EXPECT_NE(std::find(urls.begin(), urls.end(), base + "dir/file.tar.gz"), urls.end());
  }
  EXPECT_GE(servers, 9);
}

}  // namespace
}  // namespace brindle
