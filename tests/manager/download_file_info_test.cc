#include "manager/download_file_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/url.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/ignored_links.h"
#include "manager/local_download_info.h"
#include "support/manager_test.h"
#include "support/scripted_prompt.h"

namespace brindle {
namespace {

class DownloadFileInfoTest : public test::ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    dl_ = temp_.File("dl");
    WriteString(kOptionsSection, "DefaultDownloadDirectory", dl_);
    test::WriteWholeFile(temp_.File("keep"), "");
    TCategory* archives = categories_.Add(std::make_unique<TCategory>());
    archives->SetName("Archives");
    archives->SetExtensions("zip gz");
    archives->SetSaveFolder(temp_.File("arc"));
    TCategory* loose = categories_.Add(std::make_unique<TCategory>());
    loose->SetName("Loose");
    loose->SetExtensions("txt");
  }
  TDownloadFileInfo Info(const std::string& url, const std::string& proposedName = "") {
    record_ = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(url), temp_.File("rec"), nullptr);
    record_->ProposedFileName = proposedName;
    TDownloadFileInfoServices services;
    services.Categories = &categories_;
    services.FileNameInUse = [this](const std::string& name) { return inUse_.contains(name); };
    services.CreateDirectory = [this](const std::string& dir) {
      created_.push_back(dir);
      return createOk_ && EnsureDirectory(dir);
    };
    if (writeFails_) services.WriteTest = [](const std::string&) { return false; };
    return TDownloadFileInfo(*record_, services);
  }
  struct Outcome {
    bool Called = false;
    bool Ok = false;
    bool Focus = false;
  };
  Outcome Submit(const TDownloadFileInfo& info, const std::string& path) {
    Outcome outcome;
    info.SubmitedInfoCorrect(path, prompt_, [&outcome](bool ok, bool focus) {
      outcome = {true, ok, focus};
    });
    return outcome;
  }

  std::string dl_;
  TCategoryList categories_{temp_.File("cat.dat")};
  std::unique_ptr<TLocalDownloadinfo> record_;
  std::set<std::string> inUse_;
  std::vector<std::string> created_;
  bool createOk_ = true;
  bool writeFails_ = false;
  test::ScriptedPrompt prompt_;
};

TEST_F(DownloadFileInfoTest, ProposedPathsAreUniqueInTheCategoryOrDownloadFolder) {
  EnsureDirectory(dl_);
  test::WriteWholeFile(dl_ + "/file.bin", "");
  test::WriteWholeFile(dl_ + "/file(1).bin", "");
  struct Case {
    std::string url;
    std::string path;
    std::string category;
    std::string proposedName = "";  // the browser's
  };
  const std::vector<Case> cases = {
      {"http://h/dir/", dl_ + "/unknown", ""},
      {"http://h/dir/.", dl_ + "/unknown", ""},  // names no file either
      {"http://h/dir/..", dl_ + "/unknown", ""},
      {"http://h/a\x1b]0;owned\x07" "b%0a.bin", dl_ + "/a_]0;owned_b%0a.bin", ""},
      {"http://h/my%20file%41.bin", dl_ + "/my file%41.bin", ""},
      {"http://h/file.bin", dl_ + "/file(2).bin", ""},
      {"http://h/taken.bin", dl_ + "/taken(1).bin", ""},  // another record holds the name
      {"ftp://h/pub/Pack.ZIP", temp_.File("arc/Pack.ZIP"), "Archives"},
      {"http://h/notes.txt", dl_ + "/notes.txt", "Loose"},  // a category without folder
      {"http://h/get?id=7", temp_.File("arc/report.zip"), "Archives", "report.zip"},
      {"http://h/file.bin", dl_ + "/notes.txt", "Loose", "notes.txt"},
  };
  inUse_.insert(dl_ + "/taken.bin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const TDownloadFileInfo info = Info(c.url, c.proposedName);
    EXPECT_EQ(info.Url(), c.url);
    EXPECT_EQ(info.ProposedPath(), c.path);
    EXPECT_EQ(info.ProposedCategory() ? info.ProposedCategory()->Name() : "", c.category);
  }
}

TEST_F(DownloadFileInfoTest, CategoryChangeAndSaveDialogFollowTheTypedPath) {
  const TDownloadFileInfo info = Info("http://h/a.tar.gz");
  EXPECT_EQ(info.CategoryNames(), (std::vector<std::string>{"Archives", "Loose"}));
  EXPECT_EQ(info.PathForCategory("archives", "/x/y/mine.tgz"), temp_.File("arc/mine.tgz"));
  EXPECT_EQ(info.PathForCategory("Loose", "/x/y/mine.tgz"), dl_ + "/mine.tgz");
  EXPECT_EQ(info.PathForCategory("", "/x/y/mine.tgz"), "/x/y/mine.tgz");

  const auto full = info.ChangeSetup("/x/y/b.tar.gz", "/last");
  EXPECT_EQ(full.Directory, "/x/y");
  EXPECT_EQ(full.FileName, "b.tar.gz");
  EXPECT_EQ(full.Filter, "(*.gz);;All files (*)");
  EXPECT_EQ(full.DefaultSuffix, "gz");
  const auto empty = info.ChangeSetup("", "");
  EXPECT_EQ(empty.Directory, dl_);
  EXPECT_EQ(empty.FileName, "a.tar.gz");
  EXPECT_EQ(info.ChangeSetup("noext", "/last").Directory, "/last");
  EXPECT_EQ(info.ChangeSetup("noext", "/last").Filter, "");
  EXPECT_EQ(Info("http://h/").ChangeSetup("/d/", "").FileName, "unknown");
  EXPECT_EQ(Info("http://h/get?id=7", "report.zip").ChangeSetup("/d/", "").FileName, "report.zip");
}

TEST_F(DownloadFileInfoTest, SubmitedInfoCorrectRunsEveryCheckInOrder) {
  const std::string existing = temp_.File("keep");
  const std::string missing = temp_.File("new/sub");
  const std::string refused = temp_.File("other");
  const std::string failed = temp_.File("nowhere");
  const std::string locked = temp_.File("locked");
  EnsureDirectory(locked);
  SetFileFaultHook([locked](std::string_view step, const std::string& dir) {
    return step == "probe" && dir == locked ? EACCES : 0;
  });
  struct Case {
    const char* name;
    std::string path;
    bool yes;
    bool createOk;
    bool writeFails;
    bool ok;
    bool focus;
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases = {
      {"overwrite yes", existing, true, true, false, true, false, {TDownloadFileInfo::OverwriteQuestion(existing)}},
      {"overwrite no", existing, false, true, false, false, false, {TDownloadFileInfo::OverwriteQuestion(existing)}},
      {"name in use", temp_.File("used.bin"), true, true, false, false, false, {TDownloadFileInfo::kNameInUse}},
      {"empty path",
       "",
       true,
       true,
       false,
       false,
       true,
       {TDownloadFileInfo::kInvalidPath, TDownloadFileInfo::CreateQuestion(""), TDownloadFileInfo::kCannotCreate,
        TDownloadFileInfo::CannotWrite("")}},
      {"directory created", missing + "/f.bin", true, true, false, true, false,
       {TDownloadFileInfo::CreateQuestion(missing)}},
      {"directory refused",
       refused + "/g.bin",
       false,
       true,
       false,
       false,
       true,
       {TDownloadFileInfo::CreateQuestion(refused), TDownloadFileInfo::CannotWrite(refused + "/g.bin")}},
      {"write test fails", temp_.File("w.bin"), true, true, true, false, true,
       {TDownloadFileInfo::CannotWrite(temp_.File("w.bin"))}},
      {"directory takes no file", locked + "/l.bin", true, true, false, false, true,
       {TDownloadFileInfo::CannotWriteDirectory(locked, std::strerror(EACCES))}},
      {"directory creation fails", failed + "/f.bin", true, false, false, false, true,
       {TDownloadFileInfo::CreateQuestion(failed), TDownloadFileInfo::kCannotCreate,
        TDownloadFileInfo::CannotWrite(failed + "/f.bin")}},
  };
  inUse_.insert(temp_.File("used.bin"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompt_.texts.clear();
    prompt_.yes = c.yes;
    createOk_ = c.createOk;
    writeFails_ = c.writeFails;
    const Outcome outcome = Submit(Info("http://h/f.bin"), c.path);
    ASSERT_TRUE(outcome.Called);
    EXPECT_EQ(outcome.Ok, c.ok);
    EXPECT_EQ(outcome.Focus, c.focus);
    EXPECT_EQ(prompt_.texts, c.texts);
  }
  // The existing file survives the write test; the created directory is there, the failed one not.
  EXPECT_TRUE(test::FileExists(existing));
  EXPECT_EQ(created_, (std::vector<std::string>{missing, failed}));
  EXPECT_TRUE(test::FileExists(missing));
  EXPECT_FALSE(test::FileExists(failed));
}

TEST_F(DownloadFileInfoTest, AnswersCarryTheChoiceAndStartRemembersTheFolder) {
  const TDownloadFileInfo info = Info("http://h/f.bin");
  const TNewDownloadAnswer schedule = info.ScheduleAnswer("sub/f.bin", "Archives", "later");
  EXPECT_EQ(schedule.Kind, TNewDownloadAnswer::TKind::Schedule);
  EXPECT_EQ(schedule.LocalFileName, dl_ + "/sub/f.bin");  // relative to the download directory
  EXPECT_EQ(schedule.Category, "Archives");
  EXPECT_EQ(schedule.Description, "later");
  EXPECT_EQ(info.StartAnswer("/a/b/f.bin", "Archives", "").LocalFileName, "/a/b/f.bin");
  EXPECT_EQ(ReadString(kOptionsSection, "DefaultDownloadDirectory", ""), dl_);
  EXPECT_EQ(info.StartAnswer("/a/b/f.bin", "", "d").Kind, TNewDownloadAnswer::TKind::Start);
  EXPECT_EQ(ReadString(kOptionsSection, "DefaultDownloadDirectory", ""), "/a/b");
}

TEST_F(DownloadFileInfoTest, IgnoredLinksAreNumberedFromOneAndFoundExactly) {
  EXPECT_FALSE(IsIgnoredLink("http://h/a"));
  IgnoreLink("http://h/a");
  IgnoreLink("http://h/b");
  EXPECT_EQ(ReadInteger("IgnoreLinks", "count", 0), 2);
  EXPECT_EQ(ReadString("IgnoreLinks", "1", ""), "http://h/a");
  EXPECT_EQ(ReadString("IgnoreLinks", "2", ""), "http://h/b");
  EXPECT_TRUE(IsIgnoredLink("http://h/b"));
  EXPECT_FALSE(IsIgnoredLink("http://h/b/"));
  EXPECT_FALSE(IsIgnoredLink(""));
}

}  // namespace
}  // namespace brindle
