#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "core/prompt_port.h"
#include "core/settings.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "engine/downloader.h"
#include "manager/category_tree.h"
#include "manager/list_commands.h"
#include "manager/list_window_port.h"
#include "manager/local_download_info.h"
#include "manager/properties_model.h"
#include "support/download_system_test.h"
#include "support/fake_launcher.h"
#include "support/installed.h"
#include "support/scripted_prompt.h"

namespace brindle {
namespace {

class FakeWindows : public TListWindowPort, public test::FakeLauncher {
 public:
  void ShowProperties(std::shared_ptr<TPropertiesModel> shown) override { properties = shown; }
  void ViewFile(const std::string& path, const std::string& shown) override { viewed = path + ": " + shown; }
  std::shared_ptr<TPropertiesModel> properties;
  std::string viewed;
};

class ListCommandsITest : public test::DownloadSystemTest {
 protected:
  void SetUp() override {
    DownloadSystemTest::SetUp();
    WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 5);
    WriteInteger(kOptionsSection, "RetryDelay", 30);
    http_.AddFile("/file.bin", std::string(50000, 'x'));
    // Nothing is answered but for /missing: downloads stay "Contacting host".
    http_.SetHandler([this](const test::HttpRequest& r) {
      return r.Target == "/missing" ? test::StatusReply(404, "Not Found") : Held(http_.Serve(r));
    });
  }
  void TearDown() override {
    commands_.reset();
    DownloadSystemTest::TearDown();
  }

  // A record on disk before the system starts; "Done" ones have their file,
  // the others a part file.
  void Stored(const std::string& name, TDownloadState status) {
    TLocalDownloadinfo record(std::make_unique<TUrl>(http_.Url("/file.bin")), "", nullptr);
    record.LocalFileName = temp_.File(name);
    record.FileSize = 50000;
    record.SetStatus(status);
    record.Save();
    if (status == TDownloadState::Done) test::WriteWholeFile(record.LocalFileName, "finished");
    else test::WriteWholeFile(record.TempFileName + ".0", "part");
  }
  void MakeSystem() {
    DownloadSystemTest::MakeSystem();
    commands_ = std::make_unique<TListCommands>(*system_, *model_, &launcher_);
  }
  TLocalDownloadinfo* Running(const std::string& name, const std::string& path = "/file.bin") { return Add(path, name); }
  TLocalDownloadinfo* Find(const std::string& name) const {
    for (int i = 0; i < system_->DownloadList().Count(); ++i)
      if (system_->DownloadList().Get(i)->LocalFileName == temp_.File(name)) return system_->DownloadList().Get(i);
    return nullptr;
  }
  void Select(const std::vector<std::string>& names) {
    model_->ClearSelection();
    for (const std::string& name : names) {
      const int row = model_->AssociatedRow(Find(name));
      ASSERT_GE(row, 0) << name;
      model_->SetSelected(row, true);
      model_->SetCurrentRow(row);
    }
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (int i = 0; i < system_->DownloadList().Count(); ++i) {
      const std::string& path = system_->DownloadList().Get(i)->LocalFileName;
      names.insert(path.substr(path.rfind('/') + 1));
    }
    return names;
  }
  std::string Status(const std::string& name) const { return Find(name) ? Find(name)->Status().Text() : "gone"; }
  bool Runs(const std::string& name) const { return system_->AssociatedDownloader(Find(name)) != nullptr; }

  test::Installed<test::ScriptedPrompt, SetPrompt> prompt_;
  test::Installed<FakeWindows, SetLauncher> launcher_;
  std::unique_ptr<TListCommands> commands_;
};

TEST_F(ListCommandsITest, DeleteAsksOnceForUnfinishedRowsAndNeverDeletesFinishedFiles) {
  Stored("done1", TDownloadState::Done);
  Stored("done2", TDownloadState::Done);
  Stored("paused", TDownloadState::Paused);
  MakeSystem();
  const std::string pausedBase = Find("paused")->TempFileName;
  Running("running");
  ASSERT_TRUE(Runs("running"));

  Select({"done1", "done2"});
  commands_->Delete();
  EXPECT_TRUE(prompt_.texts.empty());
  EXPECT_EQ(Names(), (std::set<std::string>{"paused", "running"}));
  EXPECT_EQ(test::ReadWholeFile(temp_.File("done1")), "finished");
  EXPECT_EQ(test::ReadWholeFile(temp_.File("done2")), "finished");

  prompt_.yes = false;
  Select({"paused", "running"});
  commands_->Delete();
  EXPECT_EQ(prompt_.texts, std::vector<std::string>{TListCommands::kDeleteQuestion});
  EXPECT_EQ(Names(), (std::set<std::string>{"paused", "running"}));
  EXPECT_TRUE(Runs("running"));

  prompt_.yes = true;
  prompt_.texts.clear();
  commands_->Delete();
  EXPECT_EQ(prompt_.texts.size(), 1u);
  EXPECT_TRUE(Names().empty());
  EXPECT_EQ(model_->RowCount(), 0);
  EXPECT_TRUE(TDownloadSystem::GetDatFileNames().empty());
  EXPECT_FALSE(test::FileExists(pausedBase + ".0"));
}

TEST_F(ListCommandsITest, PauseAndResumeOnIdleRunningAndRetryWaitingRows) {
  WriteInteger(kOptionsSection, "RetryTimes", 5);
  Stored("paused", TDownloadState::Paused);
  Stored("done", TDownloadState::Done);
  MakeSystem();
  Running("running");
  TLocalDownloadinfo* waiting = Running("waiting", "/missing");
  ASSERT_TRUE(Run([waiting] { return waiting->RetryTimer != nullptr; }));
  TDownloader* waitingDownloader = system_->AssociatedDownloader(waiting);
  TDownloader* runningDownloader = system_->AssociatedDownloader(Find("running"));

  // Resume restarts only what waits to retry, and at once.
  Select({"running", "waiting", "done"});
  commands_->Resume();
  EXPECT_EQ(waiting->RetryTimer, nullptr);
  EXPECT_EQ(system_->AssociatedDownloader(waiting), waitingDownloader);
  EXPECT_EQ(waiting->Status(), TDownloadState::ContactingHost);
  EXPECT_EQ(system_->AssociatedDownloader(Find("running")), runningDownloader);
  EXPECT_FALSE(Runs("done"));

  Select({"paused", "running", "waiting", "done"});
  commands_->Pause();
  for (const char* name : {"paused", "running", "waiting"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Status(name), StatusText(TDownloadState::Paused));
    EXPECT_EQ(StoredStatus(*Find(name)), TDownloadState::Paused);
    EXPECT_FALSE(Runs(name));
  }
  EXPECT_EQ(Status("done"), StatusText(TDownloadState::Done));

  commands_->Resume();
  for (const char* name : {"paused", "running", "waiting"}) EXPECT_TRUE(Runs(name)) << name;
  EXPECT_FALSE(Runs("done"));
}

TEST_F(ListCommandsITest, ScheduleStopsAtTheFirstFinishedRow) {
  Stored("a", TDownloadState::Paused);
  Stored("c", TDownloadState::Done);
  Stored("d", TDownloadState::Paused);
  MakeSystem();
  Running("b");
  model_->SetSort(kColumnFileName, true);
  Select({"a", "b", "c", "d"});
  commands_->Schedule();
  EXPECT_EQ(Status("a"), StatusText(TDownloadState::Scheduled));
  EXPECT_EQ(Status("b"), StatusText(TDownloadState::Scheduled));
  EXPECT_FALSE(Runs("b"));
  EXPECT_EQ(StoredStatus(*Find("b")), TDownloadState::Scheduled);
  EXPECT_EQ(Status("c"), StatusText(TDownloadState::Done));
  EXPECT_EQ(Status("d"), StatusText(TDownloadState::Paused));
}

// Re-Download asks first and keeps the finished file until the new one is
// whole: the download is marked to replace it at the join.
TEST_F(ListCommandsITest, ReDownloadAsksAndKeepsTheFinishedFileUntilTheNewOneIsWhole) {
  Stored("done", TDownloadState::Done);
  Stored("paused", TDownloadState::Paused);
  MakeSystem();
  const std::string path = temp_.File("done");
  prompt_.yes = false;
  Select({"done", "paused"});
  commands_->ReDownload();
  EXPECT_EQ(prompt_.texts, (std::vector<std::string>{"Re-download and replace " + path + "?"}));
  EXPECT_EQ(Status("done"), StatusText(TDownloadState::Done));
  EXPECT_EQ(Find("done")->FileSize, 50000);
  EXPECT_FALSE(Runs("done"));
  EXPECT_TRUE(Runs("paused"));  // no finished file: nothing to ask
  EXPECT_FALSE(Find("paused")->ReplaceFile);

  prompt_.yes = true;
  Select({"done"});
  Find("done")->ServerDigest = TChecksum{TDigestAlgorithm::Md5, std::string(32, '0')};
  commands_->ReDownload();
  EXPECT_TRUE(test::FileExists(path));
  EXPECT_TRUE(Runs("done"));
  EXPECT_TRUE(Find("done")->ReplaceFile);
  EXPECT_EQ(Find("done")->FileSize, 0);
  EXPECT_EQ(Find("done")->NumOfParts, -1);
  EXPECT_FALSE(Find("done")->ServerDigest);  // the new file's comes with its answer
}

TEST_F(ListCommandsITest, AllCommandsAndClearingDoneAndErrenousRows) {
  WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 1);
  Stored("done", TDownloadState::Done);
  Stored("scheduled", TDownloadState::Scheduled);
  Stored("paused", TDownloadState::Paused);
  MakeSystem();
  Running("running");
  Running("queued");
  ASSERT_EQ(Status("queued"), StatusText(TDownloadState::Queued));

  commands_->PauseAll();
  for (const char* name : {"running", "queued", "scheduled", "paused"}) EXPECT_EQ(Status(name), StatusText(TDownloadState::Paused)) << name;
  commands_->ResumeAll();
  int running = 0;
  for (const char* name : {"running", "queued", "scheduled", "paused"}) running += Runs(name);
  EXPECT_EQ(running, 1);
  EXPECT_EQ(Status("done"), StatusText(TDownloadState::Done));

  commands_->PauseAll();
  Find("running")->SetStatus(TDownloadState::Timeout);
  Find("queued")->SetStatus(TDownloadState::FileNotFound);
  Find("scheduled")->SetStatus(TDownloadState::CouldNotConnect);
  system_->RefreshList();
  commands_->ClearAllDoneAndErrenous();
  EXPECT_EQ(prompt_.texts.size(), 1u);
  EXPECT_EQ(Names(), (std::set<std::string>{"running", "paused"}));
  EXPECT_EQ(test::ReadWholeFile(temp_.File("done")), "finished");

  Running("again");
  commands_->DeleteAll();
  EXPECT_EQ(prompt_.texts.size(), 2u);
  EXPECT_TRUE(Names().empty());
  EXPECT_TRUE(TDownloadSystem::GetDatFileNames().empty());
  EXPECT_EQ(model_->CurrentRow(), -1);
}

TEST_F(ListCommandsITest, AddPropertiesViewOpenAndTheTreeFilter) {
  Stored("done", TDownloadState::Done);
  Stored("paused", TDownloadState::Paused);
  MakeSystem();
  EXPECT_EQ(commands_->Add("gopher://localhost/x"), nullptr);
  TLocalDownloadinfo* added = commands_->Add(" " + http_.Url("/file.bin") + " ");
  ASSERT_NE(added, nullptr);
  EXPECT_NE(system_->AssociatedDownloader(added), nullptr);

  TCategoryTree tree;
  tree.SetChoosenCategory(tree.IndexOf("Status", "Paused"));
  Select({"paused", "done"});
  tree.PopulateStringGrid(*system_, *model_, true);
  ASSERT_EQ(model_->RowCount(), 1);
  EXPECT_EQ(model_->Record(0), Find("paused"));
  EXPECT_TRUE(model_->IsSelected(0));
  tree.PopulateStringGrid(*system_, *model_, false);
  EXPECT_FALSE(model_->IsSelected(0));

  Select({"paused"});
  commands_->Properties();
  ASSERT_NE(launcher_.properties, nullptr);
  EXPECT_TRUE(launcher_.properties->PathEditable());
  EXPECT_EQ(launcher_.properties->Caption(), "Properties - paused");
  EXPECT_EQ(launcher_.properties->SizeText(), "4 bytes of 49 kb");
  EXPECT_TRUE(launcher_.properties->Ok(temp_.File("renamed"), "notes"));
  const TLocalDownloadinfo stored(nullptr, Find("renamed")->TempFileName, nullptr);
  EXPECT_EQ(stored.LocalFileName, temp_.File("renamed"));
  EXPECT_EQ(stored.Description, "notes");

  tree.SetChoosenCategory(0);
  tree.PopulateStringGrid(*system_, *model_, false);
  Select({"done"});
  commands_->Properties();
  EXPECT_FALSE(launcher_.properties->PathEditable());
  EXPECT_TRUE(launcher_.properties->Ok(temp_.File("elsewhere"), "kept"));
  EXPECT_EQ(Find("done")->Description, "kept");
  commands_->ViewFile();
  EXPECT_EQ(launcher_.viewed, temp_.File("done") + ": finished");
  commands_->Open();
  EXPECT_EQ(launcher_.opened, std::vector<std::string>{temp_.File("done")});
  // The window of a record deleted meanwhile changes nothing.
  std::shared_ptr<TPropertiesModel> properties = launcher_.properties;
  commands_->Delete();
  EXPECT_FALSE(properties->Ok("x", "y"));
  EXPECT_FALSE(properties->PathEditable());

  Select({"renamed"});
  commands_->Open();
  EXPECT_TRUE(Runs("renamed"));
}

}  // namespace
}  // namespace brindle
