#include "manager/download_complete_model.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "core/launcher_port.h"
#include "core/presentation.h"
#include "manager/category.h"
#include "support/crafted_zip.h"
#include "support/fake_launcher.h"
#include "support/installed.h"
#include "support/manager_test.h"
#include "support/scripted_prompt.h"

namespace brindle {
namespace {

using test::FileExists;
using test::ReadWholeFile;
using test::WriteWholeFile;
using Strings = std::vector<std::string>;
using TAfter = TDownloadCompleteModel::TAfter;

class DownloadCompleteModelTest : public test::ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    env_.Set("TMPDIR", temp_.Path() + "/");
  }
  // A finished download named name holding the bytes of a stored test archive.
  std::string Downloaded(const std::string& name, const std::string& archive) {
    const std::string path = temp_.File(name);
    WriteWholeFile(path, ReadWholeFile(std::string(BRINDLE_TEST_DATA) + "/zip/" + archive));
    return path;
  }
  TDownloadCompleteModel Model(const std::string& path) {
    return TDownloadCompleteModel("http://localhost/x", path, [this] { ++released_; });
  }

  test::Installed<test::FakeLauncher, SetLauncher> launcher_;
  test::Installed<test::ScriptedPrompt, SetPrompt> prompt_;
  int released_ = 0;
};

TEST_F(DownloadCompleteModelTest, ArchiveButtonsFollowTheNameAndTheProbe) {
  const struct {
    const char* name;
    const char* archive;  // nullptr: a text file
    bool unZip;
    bool install;
  } cases[] = {
      {"report.ZIP", "infozip-installer.zip", true, true},  // the name test ignores case
      {"notes.zip", "infozip-comment.zip", true, false},     // an archive without installer
      {"archive.zip.txt", "infozip-installer.zip", false, false},
      {"old.zip.zip", "infozip-installer.zip", false, false},  // only the first ".zip" counts
      {".zip", nullptr, false, false},                          // named like one, no archive
      {"setup.exe.zip", "infozip-installer.zip", false, false},  // never a self-extracting program
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = temp_.File(c.name);
    if (c.archive) path = Downloaded(c.name, c.archive);
    else WriteWholeFile(path, "PK but not an archive");
    const TDownloadCompleteModel model = Model(path);
    EXPECT_EQ(model.UnZipShown(), c.unZip);
    EXPECT_EQ(model.InstallShown(), c.install);
    EXPECT_EQ(model.SizeText(), BytesToPresentableString(std::filesystem::file_size(path)));
  }
}

TEST_F(DownloadCompleteModelTest, InstallRunsTheEntryFromANewPrivateDirectoryWithoutMakingItExecutable) {
  TDownloadCompleteModel model = Model(Downloaded("pack.zip", "infozip-installer.zip"));
  ASSERT_EQ(model.UnZipAndInstall(), TAfter::Closes);
  ASSERT_TRUE(launcher_.started.empty());
  ASSERT_EQ(launcher_.opened.size(), 1u);
  const std::filesystem::path run = launcher_.opened[0];
  const std::filesystem::path directory = run.parent_path().parent_path().parent_path();
  EXPECT_EQ(directory.parent_path().string(), temp_.Path());
  EXPECT_TRUE(directory.filename().string().starts_with("brindle-install-"));
  EXPECT_EQ(run.lexically_relative(directory).string(), "installer/disk1/SETUP.EXE");
  EXPECT_EQ(ReadWholeFile(run.string()).size(), 3072u);
  struct stat info {};
  ASSERT_EQ(stat(directory.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(run.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0111, 0u);
  EXPECT_TRUE(prompt_.texts.empty());

  // A second install gets a directory of its own.
  ASSERT_EQ(model.UnZipAndInstall(), TAfter::Closes);
  ASSERT_EQ(launcher_.opened.size(), 2u);
  EXPECT_NE(launcher_.opened[1], launcher_.opened[0]);
}

TEST_F(DownloadCompleteModelTest, ASetupThatCannotStartTakesItsFolderAlongAndAStopKeepsWhatWasWritten) {
  TDownloadCompleteModel model = Model(Downloaded("pack.zip", "infozip-installer.zip"));
  launcher_.fails = true;
  EXPECT_EQ(model.UnZipAndInstall(), TAfter::Stays);
  EXPECT_TRUE(launcher_.opened.empty());
  for (const auto& entry : std::filesystem::directory_iterator(temp_.Path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with("brindle-install-")) << entry.path();
  EXPECT_EQ(prompt_.texts, Strings{TDownloadCompleteModel::CouldNotStart("installer/disk1/SETUP.EXE")});

  // Stopped at the third input block: the entries written so far stay.
  TDownloadCompleteModel big = Model(Downloaded("big.zip", "infozip-stored-and-deflated.zip"));
  int blocks = 0;
  SetIdleRoutine([&] {
    if (++blocks == 3) big.Stop();
  });
  prompt_.texts.clear();
  launcher_.opened.clear();
  const std::string folder = temp_.File("stopped");
  EXPECT_EQ(big.UnZip(folder), TAfter::Stays);
  SetIdleRoutine({});
  EXPECT_FALSE(big.Extracting());
  int written = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) written += entry.is_regular_file();
  EXPECT_GT(written, 0);
  EXPECT_EQ(prompt_.texts, Strings{TDownloadCompleteModel::Stopped(written, folder)});
  EXPECT_TRUE(launcher_.opened.empty());
  big.Stop();  // nothing runs: no effect on the next extraction
  EXPECT_EQ(big.UnZip(temp_.File("whole")), TAfter::Closes);
}

TEST_F(DownloadCompleteModelTest, CommandsOpenWhatTheyNameAndFailuresKeepTheWindow) {
  const std::string archive = Downloaded("data.zip", "infozip-comment.zip");
  TDownloadCompleteModel model = Model(archive);
  EXPECT_EQ(model.OpenRun(), TAfter::Closes);
  EXPECT_EQ(model.OpenFolder(), TAfter::Closes);
  const std::string folder = temp_.File("out/new");
  EXPECT_EQ(model.UnZip(folder), TAfter::Closes);
  EXPECT_EQ(launcher_.opened, (Strings{archive, temp_.Path(), folder}));
  EXPECT_TRUE(FileExists(folder + "/file.txt"));
  EXPECT_EQ(model.UnZip(""), TAfter::Stays);  // the chooser was cancelled

  EXPECT_EQ(model.UnZipAndInstall(), TAfter::Stays);
  EXPECT_EQ(prompt_.texts, Strings{TDownloadCompleteModel::kNoInstaller});

  // An entry that would leave the folder fails; the good one stays extracted.
  const std::string hostile = Downloaded("hostile.zip", "hostile-dotdot.zip");
  TDownloadCompleteModel refused = Model(hostile);
  launcher_.opened.clear();
  prompt_.texts.clear();
  EXPECT_EQ(refused.UnZip(temp_.File("h")), TAfter::Stays);
  EXPECT_TRUE(FileExists(temp_.File("h/good.txt")));
  EXPECT_FALSE(FileExists(temp_.File("evil.txt")));
  EXPECT_EQ(prompt_.texts, Strings{"Couldn't extract " + hostile});
  EXPECT_TRUE(launcher_.opened.empty());
  EXPECT_EQ(released_, 0);
}

// An archive whose directory declares more than the disk can take is
// refused with the sizes; one that declares far more than its own size is
// extracted only when the user says yes, and then goes on through the
// window's runner. Installing weighs the temporary folder.
TEST_F(DownloadCompleteModelTest, ArchivesDeclaringTooMuchAreRefusedOrConfirmedFirst) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  std::vector<test::TestEntry> entries{test::Stored("setup.exe", "MZ")};
  entries.back().directory_size = 3 * kGiB;  // its directory lies; its data is whole
  const std::string archive = temp_.File("bomb.zip");
  WriteWholeFile(archive, test::BuildArchive(entries));
  const std::string folder = temp_.File("out");
  std::vector<TAfter> confirmed;
  TDownloadCompleteModel model = Model(archive);
  model.SetRunner([&](TDownloadCompleteModel::TCommand command) { confirmed.push_back(command()); });
  const auto messageHas = [this](const std::string& part) {
    return !prompt_.texts.empty() && prompt_.texts.back().find(part) != std::string::npos;
  };

  setenv("BRINDLE_FREE_SPACE", std::to_string(2 * kGiB).c_str(), 1);
  EXPECT_EQ(model.UnZip(folder), TAfter::Stays);
  EXPECT_EQ(prompt_.messages.size(), 1u);
  EXPECT_TRUE(messageHas("Couldn't extract " + archive + ": its entries declare 3.00 Gb, but " + folder +
                         " has only 2.00 Gb free"))
      << prompt_.texts.back();
  EXPECT_EQ(model.UnZipAndInstall(), TAfter::Stays);
  EXPECT_TRUE(messageHas(temp_.Path() + " has only")) << prompt_.texts.back();

  setenv("BRINDLE_FREE_SPACE", std::to_string(100 * kGiB).c_str(), 1);
  prompt_.yes = false;
  EXPECT_EQ(model.UnZip(folder), TAfter::Stays);
  EXPECT_EQ(prompt_.questions.size(), 1u);
  EXPECT_TRUE(messageHas("times the archive's own size")) << prompt_.texts.back();
  EXPECT_TRUE(confirmed.empty());
  EXPECT_FALSE(FileExists(folder));

  prompt_.yes = true;
  EXPECT_EQ(model.UnZip(folder), TAfter::Stays);  // the runner goes on
  EXPECT_EQ(confirmed, std::vector<TAfter>{TAfter::Closes});
  EXPECT_EQ(ReadWholeFile(folder + "/setup.exe"), "MZ");
  EXPECT_EQ(model.UnZipAndInstall(), TAfter::Stays);
  EXPECT_EQ(confirmed, (std::vector<TAfter>{TAfter::Closes, TAfter::Closes}));
  EXPECT_EQ(launcher_.opened.size(), 2u);
  EXPECT_EQ(prompt_.questions.size(), 3u);
  unsetenv("BRINDLE_FREE_SPACE");
}

TEST_F(DownloadCompleteModelTest, DoNotShowAgainStopsTheDialogOnlyForDownloadsWithoutCategory) {
  TCategory shows;
  shows.SetShowCompleteDialog(true);
  TCategory hides;
  hides.SetShowCompleteDialog(false);
  EXPECT_TRUE(TDownloadCompleteModel::Wanted(nullptr));
  EXPECT_FALSE(TDownloadCompleteModel::Wanted(&hides));

  TDownloadCompleteModel unticked = Model(temp_.File("a.txt"));
  unticked.Closed(false);
  EXPECT_TRUE(TDownloadCompleteModel::Wanted(nullptr));
  TDownloadCompleteModel ticked = Model(temp_.File("b.txt"));
  ticked.Closed(true);
  ticked.Closed(true);  // a window closes once
  EXPECT_EQ(released_, 2);
  EXPECT_FALSE(TDownloadCompleteModel::Wanted(nullptr));
  EXPECT_TRUE(TDownloadCompleteModel::Wanted(&shows));
}

}  // namespace
}  // namespace brindle
