#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/date_folder.h"
#include "core/event_loop.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/download_status.h"
#include "core/timer.h"
#include "engine/downloader.h"
#include "manager/after_downloads.h"
#include "manager/category.h"
#include "manager/category_list.h"
#include "manager/download_forms.h"
#include "manager/modem_connection.h"
#include "net/http_date.h"
#include "support/download_system_test.h"
#include "support/fake_dial_up.h"
#include "support/fake_power.h"
#include "support/installed.h"
#include "support/scripted_prompt.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::HttpReply;
using test::HttpRequest;

class DownloadSystemITest : public test::DownloadSystemTest {
 protected:
  void SetUp() override {
    DownloadSystemTest::SetUp();
    WriteInteger(kOptionsSection, "SmallestSplitSize", 0);
    prompt_.yes = false;
    for (int i = 0; i < 5; ++i) http_.AddFile("/f" + std::to_string(i) + ".bin", Content(i));
  }
  static std::string Content(int i) { return test::MakeContent(40000 + 1000 * i, 1234567u + i); }

  void MakeSystem(bool retryPermanentErrors = true) {
    TDownloadSystemServices services;
    services.AfterDownloads = &after_;
    services.RetryPermanentErrors = retryPermanentErrors;
    DownloadSystemTest::MakeSystem(services);
    system_->OnDownloadDone = [this](TLocalDownloadinfo&) { ++done_; };
    system_->OnDownloadFailed = [this](TLocalDownloadinfo&) { ++failed_; };
    after_.OnCloseApplication = [this] { ++closes_; };
  }
  TLocalDownloadinfo* Add(int i) {
    return DownloadSystemTest::Add("/f" + std::to_string(i) + ".bin", "out" + std::to_string(i) + ".bin");
  }
  // A download of path with no file name yet, which the system chooses.
  TLocalDownloadinfo* AddUnnamed(const std::string& path, bool allowDialog = false) {
    return system_->AddDownload(
        std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(http_.Url(path)), "", nullptr), allowDialog);
  }

  test::Installed<test::ScriptedPrompt, SetPrompt> prompt_;
  test::Installed<test::FakeDialUp, SetDialUp> dialUp_;
  test::Installed<test::FakePower, SetPower> power_;
  TModemConnection modem_;
  TAfterDownloadsActions after_{modem_};
  int done_ = 0;
  int failed_ = 0;
  int closes_ = 0;
};

TEST_F(DownloadSystemITest, FourthDownloadQueuesStartsWithANewDownloaderWhenOnePausesAndStaysQueuedOnExit) {
  HoldEveryAnswer();
  MakeSystem();
  std::vector<TLocalDownloadinfo*> records;
  for (int i = 0; i < 4; ++i) records.push_back(Add(i));
  EXPECT_EQ(system_->ActiveList().size(), 3u);
  EXPECT_EQ(records[3]->Status(), TDownloadState::Queued);
  EXPECT_EQ(StoredStatus(*records[3]), TDownloadState::Queued);
  EXPECT_EQ(system_->AssociatedDownloader(records[3]), nullptr);
  EXPECT_EQ(model_->Cell(model_->AssociatedRow(records[3]), kColumnStatus), StatusText(TDownloadState::Queued));
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);
  EXPECT_EQ(system_->FormsCount(), 3);  // the queued one's downloader is gone

  system_->PauseDownload(records[0]);
  EXPECT_EQ(records[0]->Status(), TDownloadState::Paused);
  EXPECT_EQ(StoredStatus(*records[0]), TDownloadState::Paused);
  ASSERT_NE(system_->AssociatedDownloader(records[3]), nullptr);
  EXPECT_EQ(records[3]->Status(), TDownloadState::ContactingHost);
  EXPECT_EQ(system_->ActiveList().size(), 3u);

  // Quitting pauses what runs; queued and scheduled records stay so, as
  // nothing starts any more.
  TLocalDownloadinfo* queued = Add(4);
  ASSERT_EQ(StoredStatus(*queued), TDownloadState::Queued);
  records[0]->SetStatus(TDownloadState::Scheduled);
  records[0]->Save();
  system_->PauseForExit();
  EXPECT_TRUE(system_->ActiveList().empty());
  for (int i = 1; i < 4; ++i) EXPECT_EQ(StoredStatus(*records[i]), TDownloadState::Paused) << i;
  EXPECT_EQ(StoredStatus(*queued), TDownloadState::Queued);
  system_->AddDownload(records[0]);  // the scheduler's start, too late
  EXPECT_EQ(StoredStatus(*records[0]), TDownloadState::Scheduled);
  EXPECT_EQ(closes_ + dialUp_.hangUps + power_.powerOffs, 0);
}

TEST_F(DownloadSystemITest, NoRetriesEndsAtTheFirstErrorAndSavesPaused) {
  WriteInteger(kOptionsSection, "RetryTimes", 0);
  MakeSystem();
  TLocalDownloadinfo* record = AddUnnamed("/missing.bin");
  ASSERT_TRUE(Run([this] { return failed_ == 1; }));
  EXPECT_EQ(record->Status(), TDownloadState::FileNotFound);
  EXPECT_EQ(record->RetryTimer, nullptr);
  EXPECT_TRUE(system_->ActiveList().empty());
  EXPECT_EQ(StoredStatus(*record), TDownloadState::Paused);
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);
  EXPECT_EQ(system_->FormsCount(), 0);
  // A final error is no completion.
  loop_.RunOnce(0);
  EXPECT_EQ(closes_ + dialUp_.hangUps + power_.powerOffs, 0);
}

TEST_F(DownloadSystemITest, RetryCountsDownRestartsAndDoesNotHoldAPlace) {
  WriteInteger(kOptionsSection, "RetryTimes", 2);
  WriteInteger(kOptionsSection, "RetryDelay", 3);
  WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 1);
  http_.Script([](const HttpRequest&) { return test::StatusReply(404, "Not Found"); });
  MakeSystem();
  TLocalDownloadinfo* record = Add(0);
  TDownloader* downloader = system_->AssociatedDownloader(record);
  ASSERT_TRUE(Run([record] { return record->RetryTimer != nullptr; }));
  EXPECT_EQ(record->RetryCountdown, 3);
  EXPECT_EQ(model_->Cell(model_->AssociatedRow(record), kColumnStatus), "File not found (3)");

  // Waiting to retry does not count against the limit of one.
  http_.SetHandler([this](const HttpRequest& r) {
    return r.Target == "/f1.bin" ? Held(http_.Serve(r)) : http_.Serve(r);
  });
  TLocalDownloadinfo* other = Add(1);
  EXPECT_EQ(other->Status(), TDownloadState::ContactingHost);

  clock_.Advance(1000);
  EXPECT_EQ(record->RetryCountdown, 2);
  EXPECT_EQ(model_->Cell(model_->AssociatedRow(record), kColumnStatus), "File not found (2)");
  clock_.Advance(2000);
  EXPECT_EQ(record->RetryTimer, nullptr);
  EXPECT_EQ(system_->AssociatedDownloader(record), downloader);
  EXPECT_EQ(downloader->RetryCount(), 1);
  ASSERT_TRUE(Run([record] { return record->Status() == TDownloadState::Done; }));
  EXPECT_TRUE(test::ReadWholeFile(record->LocalFileName) == Content(0));
  EXPECT_EQ(StoredStatus(*record), TDownloadState::Done);
}

// A busy server may set the wait, up to ten retry delays. Without retries
// for what no wait mends, a missing file or a refused login at the first
// contact ends the download at once; anything else is still retried.
TEST_F(DownloadSystemITest, BusyServersSetTheWaitAndPermanentErrorsMayFailAtOnce) {
  WriteInteger(kOptionsSection, "RetryDelay", 3);
  const std::string inTwentySeconds = HttpDateText(clock_.WallMs() / 1000 + 20);
  const struct {
    int status;
    std::string retryAfter;
    bool retryPermanentErrors;
    int countdown;  // 0: failed at once
  } cases[] = {
      {503, "5", true, 5},
      {429, "100", true, 30},
      {503, inTwentySeconds, false, 20},
      {503, "later", false, 3},
      {404, "", true, 3},
      {404, "", false, 0},
      {410, "", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.retryAfter + (c.retryPermanentErrors ? "" : " failing at once"));
    failed_ = 0;
    MakeSystem(c.retryPermanentErrors);
    http_.Script([&c](const HttpRequest&) {
      return test::StatusReply(c.status, "Refused", "",
                               c.retryAfter.empty() ? std::vector<std::string>{} : std::vector{"Retry-After: " + c.retryAfter});
    });
    TLocalDownloadinfo* record = Add(0);
    ASSERT_TRUE(Run([&] { return record->RetryTimer || failed_ > 0; }));
    EXPECT_EQ(failed_, c.countdown == 0 ? 1 : 0);
    EXPECT_EQ(record->RetryCountdown, c.countdown);
    system_->DeleteDownload(record);
  }

  // Once the file answered, its own address going missing is retried.
  failed_ = 0;
  MakeSystem(false);
  http_.Script([this](const HttpRequest& r) {
    HttpReply reply = http_.Serve(r);
    reply.CloseAfter = 1000;
    return reply;
  });
  http_.SetHandler([](const HttpRequest&) { return test::StatusReply(404, "Not Found"); });
  TLocalDownloadinfo* record = Add(0);
  ASSERT_TRUE(Run([&] { return record->RetryTimer != nullptr; }));
  clock_.Advance(3000);
  ASSERT_TRUE(Run([&] { return record->RetryTimer != nullptr || failed_ > 0; }));
  EXPECT_EQ(record->Status(), TDownloadState::FileNotFound);
  EXPECT_EQ(failed_, 0);
}

TEST_F(DownloadSystemITest, FileNamesComeFromCategoryDateFolderOrTheDialog) {
  HoldEveryAnswer();
  WriteBool(kOptionsSection, "DateFolders", true);
  WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 10);
  TCategoryList categories(temp_.File("cat.dat"));
  TCategory* category = categories.Add(std::make_unique<TCategory>());
  category->SetName("Binaries");
  category->SetExtensions("bin");
  category->SetSaveFolder(temp_.File("cat") + "/");
  category->SetAutoSave(true);
  TDownloadSystemServices services;
  services.Categories = &categories;
  DownloadSystemTest::MakeSystem(services);
  // The category's auto-save folder wins over the date folder.
  TLocalDownloadinfo* binary = AddUnnamed("/f0.bin", true);
  EXPECT_EQ(binary->LocalFileName, temp_.File("cat/f0.bin"));
  EXPECT_EQ(binary->Category, categories.Get(0));
  TLocalDownloadinfo* dated = AddUnnamed("/a%20b.txt", true);
  EXPECT_EQ(dated->LocalFileName, temp_.File("dl/" + GetDateFolderName() + "/a b.txt"));
  // Without date folders the dialog decides, unless it is forbidden.
  WriteBool(kOptionsSection, "DateFolders", false);
  TLocalDownloadinfo* quiet = AddUnnamed("/c.txt");
  EXPECT_EQ(quiet->LocalFileName, temp_.File("dl/c.txt"));
  // Addresses that name no file get the name of one without a path.
  EXPECT_EQ(AddUnnamed("/dir/.")->LocalFileName, temp_.File("dl/index.html"));
  EXPECT_EQ(AddUnnamed("/dir/..")->LocalFileName, temp_.File("dl/index(1).html"));
  EXPECT_EQ(windows_.NewDownloadDialogs(), 0);
  TLocalDownloadinfo* asked = AddUnnamed("/c.txt", true);
  EXPECT_EQ(windows_.NewDownloadDialogs(), 1);
  EXPECT_EQ(asked->LocalFileName, "");
  loop_.RunOnce(0);  // the headless dialog answers later
  EXPECT_EQ(asked->LocalFileName, temp_.File("dl/c(1).txt"));  // the first one claims c.txt
  EXPECT_EQ(asked->Status(), TDownloadState::ContactingHost);
  EXPECT_EQ(system_->ActiveList().size(), 5u + 1u);
}

TEST_F(DownloadSystemITest, LoadingPausesWhatRanAndFindsFinishedJoins) {
  struct Case {
    TDownloadState saved;
    bool partsGone;
    bool finishedFile;
    TDownloadState loaded;
  };
  const std::vector<Case> cases = {
      {TDownloadState::Downloading, false, false, TDownloadState::Paused},
      {TDownloadState::Queued, false, false, TDownloadState::Paused},
      {TDownloadState::CombiningFiles, false, false, TDownloadState::Paused},
      {TDownloadState::CombiningFiles, true, true, TDownloadState::Done},   // crashed after the rename
      {TDownloadState::Paused, false, true, TDownloadState::Paused},       // parts still there: not done
      {TDownloadState::CombiningFiles, true, false, TDownloadState::Paused},
  };
  std::vector<std::string> bases;
  for (size_t i = 0; i < cases.size(); ++i) {
    TLocalDownloadinfo record(std::make_unique<TUrl>("http://127.0.0.1:9/f" + std::to_string(i)), "", nullptr);
    record.FileSize = 10;
    record.NumOfParts = 1;
    record.LocalFileName = temp_.File("final" + std::to_string(i));
    record.SetStatus(cases[i].saved);
    ASSERT_TRUE(record.Save());
    if (!cases[i].partsGone) test::WriteWholeFile(record.TempFileName + ".0", "01234");
    if (cases[i].finishedFile) test::WriteWholeFile(record.LocalFileName, "0123456789");
    bases.push_back(record.TempFileName);
  }
  MakeSystem();
  ASSERT_EQ(system_->DownloadList().Count(), static_cast<int>(cases.size()));
  for (int i = 0; i < system_->DownloadList().Count(); ++i) {
    TLocalDownloadinfo* record = system_->DownloadList().Get(i);
    const size_t c = std::find(bases.begin(), bases.end(), record->TempFileName) - bases.begin();
    ASSERT_LT(c, cases.size());
    EXPECT_EQ(record->Status(), cases[c].loaded) << c;
    EXPECT_EQ(StoredStatus(*record), cases[c].loaded) << c;
    EXPECT_EQ(system_->AssociatedDownloader(record), nullptr);
  }
  EXPECT_EQ(model_->RowCount(), static_cast<int>(cases.size()));
}

// The partial-downloads directory is read once, when the system is made.
// Files changed behind its back afterwards never get into the download: a
// part file gone is fetched again, one it never saw is no part, a link is
// not written through; the part files the download makes are known when it
// pauses, and deleted with it.
TEST_F(DownloadSystemITest, AStaleViewOfThePartFilesNeverGetsIntoTheFile) {
  const std::string content = test::MakeContent(400000, 77u);
  http_.AddFile("/big.bin", content);
  TLocalDownloadinfo saved(std::make_unique<TUrl>(http_.Url("/big.bin")), "", nullptr);
  saved.FileSize = static_cast<int64_t>(content.size());
  saved.NumOfParts = 2;
  saved.LocalFileName = temp_.File("big.bin");
  saved.SetStatus(TDownloadState::Paused);
  ASSERT_TRUE(saved.Save());
  const std::string base = saved.TempFileName;
  test::WriteWholeFile(base + ".0", content.substr(0, 1000));
  test::WriteWholeFile(base + ".200000", content.substr(200000, 1000));
  MakeSystem();
  ASSERT_EQ(system_->DownloadList().Count(), 1);
  TLocalDownloadinfo* record = system_->DownloadList().Get(0);

  ASSERT_EQ(unlink((base + ".200000").c_str()), 0);
  test::WriteWholeFile(base + ".100000", std::string(5000, 'g'));
  const std::string victim = temp_.File("victim");
  test::WriteWholeFile(victim, "keep");
  ASSERT_EQ(symlink(victim.c_str(), (base + ".300000").c_str()), 0);
  EXPECT_EQ(system_->BytesDownloaded(base), 1000);

  http_.StallFilesAt(150000);
  system_->AddDownload(record, false);
  const auto onDisk = [&base] {
    int64_t size = 0;
    struct stat st {};
    for (const char* part : {".0", ".200000"})
      if (stat((base + part).c_str(), &st) == 0) size += st.st_size;
    return size;
  };
  ASSERT_TRUE(Run([&] { return onDisk() > 2000; }));
  system_->PauseDownload(record);
  ASSERT_TRUE(Run([&] { return system_->AssociatedDownloader(record) == nullptr; }));
  EXPECT_EQ(system_->BytesDownloaded(base), onDisk());

  http_.SetHandler([this](const HttpRequest& r) { return http_.Serve(r); });
  system_->AddDownload(record, false);
  ASSERT_TRUE(Run([this] { return done_ == 1; }));
  EXPECT_EQ(test::ReadWholeFile(temp_.File("big.bin")), content);
  EXPECT_EQ(test::ReadWholeFile(victim), "keep");

  // What it never saw is left to the clean-up at the next start.
  system_->DeleteDownload(record);
  EXPECT_EQ(test::ListFiles(DirectoryOf(base)),
            (std::vector<std::string>{NameOf(base) + ".100000", NameOf(base) + ".300000"}));
  EXPECT_EQ(test::ReadWholeFile(victim), "keep");
}

// The join claims the finished file's name when it ends: a file that took
// the name meanwhile stays, the download gets the next free name and keeps
// it in its record. Only a download asked to replace its file does so.
TEST_F(DownloadSystemITest, TheJoinNeverReplacesAFileUnlessAskedAndKeepsTheNameItGot) {
  MakeSystem();
  test::WriteWholeFile(temp_.File("out1.bin"), "the user's file");
  test::WriteWholeFile(temp_.File("out2.bin"), "the old version");
  TLocalDownloadinfo* fresh = Add(1);
  auto again = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(http_.Url("/f2.bin")), "", nullptr);
  again->LocalFileName = temp_.File("out2.bin");
  again->ReplaceFile = true;
  TLocalDownloadinfo* replacing = system_->AddDownload(std::move(again), false);
  ASSERT_TRUE(Run([this] { return done_ == 2; }));
  EXPECT_EQ(test::ReadWholeFile(temp_.File("out1.bin")), "the user's file");
  EXPECT_EQ(fresh->LocalFileName, temp_.File("out1(1).bin"));
  EXPECT_TRUE(test::ReadWholeFile(fresh->LocalFileName) == Content(1));
  EXPECT_EQ(replacing->LocalFileName, temp_.File("out2.bin"));
  EXPECT_TRUE(test::ReadWholeFile(temp_.File("out2.bin")) == Content(2));
  EXPECT_FALSE(replacing->ReplaceFile);
  const TLocalDownloadinfo stored(nullptr, fresh->TempFileName, nullptr);
  EXPECT_EQ(stored.LocalFileName, temp_.File("out1(1).bin"));
  EXPECT_FALSE(TLocalDownloadinfo(nullptr, replacing->TempFileName, nullptr).ReplaceFile);
}

TEST_F(DownloadSystemITest, CompletionReleasesLaterAndThenRunsTheActions) {
  WriteBool(kOptionsSection, "AutoCloseAfterDownloads", true);
  MakeSystem();
  TLocalDownloadinfo* record = Add(3);
  ASSERT_TRUE(Run([this] { return done_ == 1; }));
  EXPECT_TRUE(test::ReadWholeFile(record->LocalFileName) == Content(3));
  EXPECT_EQ(test::ReadWholeFile(record->LocalFileName).size(), static_cast<size_t>(record->FileSize));
  // Released, but destroyed only by the release timer, after the notification.
  EXPECT_TRUE(system_->ActiveList().empty());
  EXPECT_EQ(system_->FormsCount(), 1);
  loop_.RunOnce(0);
  EXPECT_EQ(closes_, 1);
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);
  EXPECT_EQ(system_->FormsCount(), 0);
}

// What the download system showed in its joining windows.
struct TJoinSeen {
  int Shown = 0;
  int Alive = 0;
  std::vector<std::string> Targets;
  std::vector<std::pair<int64_t, int64_t>> Progress;
};

class RecordingCombineWindow final : public TCombineWindow {
 public:
  explicit RecordingCombineWindow(TJoinSeen& seen) : seen_(seen) { ++seen_.Alive; }
  ~RecordingCombineWindow() override { --seen_.Alive; }
  void Show() override { ++seen_.Shown; }
  void SetProgress(const std::string& target, int64_t written, int64_t total) override {
    seen_.Targets.push_back(target);
    seen_.Progress.emplace_back(written, total);
  }

 private:
  TJoinSeen& seen_;
};

TEST_F(DownloadSystemITest, TheJoiningWindowShowsTheJoinAndGoesWhenItEnds) {
  WriteInteger(kOptionsSection, "SplitParts", 4);
  TJoinSeen seen;
  windows_.CombineWindows = [&seen](TLocalDownloadinfo&) { return std::make_unique<RecordingCombineWindow>(seen); };
  MakeSystem();
  int aliveAtDone = -1;
  system_->OnDownloadDone = [&](TLocalDownloadinfo&) { aliveAtDone = seen.Alive, ++done_; };
  TLocalDownloadinfo* record = Add(4);
  ASSERT_TRUE(Run([this] { return done_ == 1; }));
  EXPECT_EQ(test::ReadWholeFile(record->LocalFileName), Content(4));
  EXPECT_EQ(seen.Shown, 1);
  EXPECT_EQ(aliveAtDone, 0);
  ASSERT_FALSE(seen.Progress.empty());
  const auto size = static_cast<int64_t>(Content(4).size());
  EXPECT_EQ(seen.Progress.front(), std::make_pair(int64_t{0}, size));
  for (size_t i = 0; i < seen.Progress.size(); ++i) {
    EXPECT_EQ(seen.Targets[i], record->LocalFileName);
    EXPECT_LE(seen.Progress[i].first, size);
    if (i > 0) {
      EXPECT_GE(seen.Progress[i].first, seen.Progress[i - 1].first);
    }
  }

  // A failed join closes its window too, and leaves the download paused
  // with its parts. A regular file where the target's directory should be:
  // the join cannot create its file.
  test::WriteWholeFile(temp_.File("blocked"), "x");
  auto fresh = std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>(http_.Url("/f2.bin")), "", nullptr);
  fresh->LocalFileName = temp_.File("blocked/out.bin");
  TLocalDownloadinfo* blocked = system_->AddDownload(std::move(fresh), false);
  ASSERT_TRUE(Run([this] { return failed_ == 1; }));
  EXPECT_EQ(seen.Shown, 2);
  EXPECT_EQ(seen.Alive, 0);
  EXPECT_EQ(blocked->Status(), TDownloadState::Paused);
  EXPECT_EQ(StoredStatus(*blocked), TDownloadState::Paused);
  ASSERT_EQ(prompt_.messages.size(), 1u);
  EXPECT_EQ(prompt_.messages[0].rfind("Couldn't", 0), 0u) << prompt_.messages[0];
  EXPECT_EQ(system_->BytesDownloaded(blocked->TempFileName), static_cast<int64_t>(Content(2).size()));
  EXPECT_EQ(done_, 1);
  loop_.RunOnce(0);
  EXPECT_EQ(closes_, 0);
}

// Three moments reach the disk: the first answer's size before a byte is in
// a part file, Paused, and Done; the saves between are left to the page
// cache, which a crash of the program does not lose.
TEST_F(DownloadSystemITest, OnlyTheFirstAnswerPausedAndDoneAreSynced) {
  std::vector<std::string> synced;  // "Status FileSize" of each synced record, "+" when a part had bytes
  SetFileFaultHook([&synced](std::string_view step, const std::string& path) {
    if (step != "fsync" || !path.ends_with(".dat")) return 0;
    const std::string text = test::ReadWholeFile(path + ".tmp");
    const auto value = [&text](const std::string& key) {
      const size_t at = text.find("\n" + key + "=") + key.size() + 2;
      return text.substr(at, text.find_first_of("\r\n", at) - at);
    };
    const std::string base = path.substr(0, path.size() - 4);
    int64_t partBytes = 0;
    for (const std::string& name : test::ListFiles(DirectoryOf(path)))
      if (const std::string file = DirectoryOf(path) + "/" + name; file.starts_with(base + ".") && !file.ends_with(".dat") &&
                                                                 !file.ends_with(".tmp"))
        partBytes += static_cast<int64_t>(test::ReadWholeFile(file).size());
    synced.push_back(value("Status") + " " + value("FileSize") + (partBytes > 0 ? "+" : ""));
    return 0;
  });
  MakeSystem();
  Add(0);
  ASSERT_TRUE(Run([this] { return done_ == 1; }));
  ASSERT_EQ(synced.size(), 2u);
  EXPECT_EQ(synced[0].substr(synced[0].find(' ')), " 40000");
  EXPECT_EQ(synced[1].substr(0, 5), "Done ");
  synced.clear();
  HoldEveryAnswer();
  TLocalDownloadinfo* held = Add(1);
  loop_.RunOnce(0);
  system_->PauseDownload(held);
  EXPECT_EQ(synced, std::vector<std::string>{"Paused 0"});
}

TEST_F(DownloadSystemITest, PausingTheOnlyDownloadRunsNoActions) {
  WriteBool(kOptionsSection, "AutoCloseAfterDownloads", true);
  HoldEveryAnswer();
  MakeSystem();
  TLocalDownloadinfo* record = Add(0);
  system_->PauseDownload(record);
  system_->PauseDownload(record);  // a second pause changes nothing
  loop_.RunOnce(0);
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);
  EXPECT_EQ(record->Status(), TDownloadState::Paused);
  EXPECT_EQ(system_->FormsCount(), 0);
  EXPECT_EQ(closes_, 0);
}

// Deleting a running download aborts it: its part files, its record file
// and its row go, and the queue moves on; a paused one goes the same way.
TEST_F(DownloadSystemITest, DeletingRemovesFilesAndRowAndMovesTheQueueOn) {
  WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 1);
  WriteBool(kOptionsSection, "AutoCloseAfterDownloads", true);
  http_.StallFilesAt(1000);
  MakeSystem();
  TLocalDownloadinfo* running = Add(0);
  TLocalDownloadinfo* queued = Add(1);
  const std::string runningBase = running->TempFileName;
  const std::string queuedBase = queued->TempFileName;
  const auto firstPart = [](const std::string& base) {
    struct stat st {};
    return stat((base + ".0").c_str(), &st) == 0 ? st.st_size : 0;
  };
  ASSERT_TRUE(Run([&] { return firstPart(runningBase) >= 1000; }));
  EXPECT_EQ(TDownloadSystem::GetDatFileNames().size(), 2u);

  system_->DeleteDownload(running);
  EXPECT_EQ(system_->BytesDownloaded(runningBase), 0);
  EXPECT_EQ(system_->DownloadList().Count(), 1);
  EXPECT_EQ(model_->RowCount(), 1);
  EXPECT_EQ(TDownloadSystem::GetDatFileNames(), std::vector<std::string>{queuedBase + ".dat"});
  EXPECT_NE(system_->AssociatedDownloader(queued), nullptr);
  ASSERT_TRUE(Run([&] { return firstPart(queuedBase) >= 1000; }));

  system_->PauseDownload(queued);
  system_->DeleteDownload(queued);
  EXPECT_EQ(system_->BytesDownloaded(queuedBase), 0);
  EXPECT_EQ(system_->DownloadList().Count(), 0);
  EXPECT_EQ(model_->RowCount(), 0);
  EXPECT_TRUE(TDownloadSystem::GetDatFileNames().empty());
  loop_.RunOnce(0);
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);
  EXPECT_EQ(system_->FormsCount(), 0);
  EXPECT_EQ(closes_, 0);  // a deletion is no completion
  EXPECT_EQ(done_ + failed_, 0);
}

// The chosen filter stays in force: the grid is refilled from it whenever a
// download changes state, with the selection kept and running rows bound to
// their downloaders.
TEST_F(DownloadSystemITest, GridFiltersRefillTheListAsDownloadsChange) {
  WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 5);
  http_.SetHandler([this](const HttpRequest& r) {
    return r.Target == "/f2.bin" ? http_.Serve(r) : Held(http_.Serve(r));
  });
  MakeSystem();
  TLocalDownloadinfo* held = Add(0);
  TLocalDownloadinfo* selected = Add(1);
  TLocalDownloadinfo* done = Add(2);
  ASSERT_TRUE(Run([this] { return done_ == 1; }));
  const auto rows = [this] {
    std::set<TLocalDownloadinfo*> records;
    for (int row = 0; row < model_->RowCount(); ++row) records.insert(model_->Record(row));
    return records;
  };
  using Rows = std::set<TLocalDownloadinfo*>;

  system_->ShowStatus(TDownloadState::Downloading);
  EXPECT_EQ(rows(), (Rows{held, selected}));
  EXPECT_NE(model_->Downloader(model_->AssociatedRow(held)), nullptr);
  model_->SetCurrentRow(model_->AssociatedRow(selected));
  model_->SetSelected(model_->AssociatedRow(selected), true);
  system_->PauseDownload(held);
  EXPECT_EQ(rows(), (Rows{selected}));
  EXPECT_TRUE(model_->IsSelected(model_->AssociatedRow(selected)));

  system_->ShowStatus(TDownloadState::Paused);
  EXPECT_EQ(rows(), (Rows{held}));
  EXPECT_EQ(model_->Downloader(0), nullptr);
  system_->ShowAllStatus();
  EXPECT_EQ(rows(), (Rows{held, selected}));
  system_->ShowHistory("24 Hours");
  EXPECT_EQ(rows(), (Rows{done}));
  system_->ShowAllCategory();
  EXPECT_EQ(model_->RowCount(), 0);
  system_->ShowAll();
  EXPECT_EQ(rows(), (Rows{held, selected, done}));
}

TEST_F(DownloadSystemITest, AfterDownloadsActionsFollowTheOptions) {
  struct Case {
    bool dialUp, disconnect, shutDown, autoClose;
    int hangUps, powerOffs, closes;
  };
  const Case cases[] = {
      {false, true, false, false, 0, 0, 0},  // nothing hung up without dial-up
      {true, true, false, false, 1, 0, 0},
      {true, false, false, false, 0, 0, 0},
      {false, false, true, true, 0, 1, 0},  // switching off wins
      {false, false, false, true, 0, 0, 1},
  };
  for (const Case& c : cases) {
    WriteBool(kOptionsSection, "ConnectUsingDialUp", c.dialUp);
    WriteBool(kOptionsSection, "DiconnectAfterDownload", c.disconnect);
    WriteBool(kOptionsSection, "ShutDownComputerAfterDownloading", c.shutDown);
    WriteBool(kOptionsSection, "AutoCloseAfterDownloads", c.autoClose);
    test::Installed<test::FakeDialUp, SetDialUp> dialUp;
    test::Installed<test::FakePower, SetPower> power;
    TModemConnection modem;
    TAfterDownloadsActions actions(modem);
    int closes = 0;
    std::vector<TAfterDownloadsActions::TAction> announced;
    actions.OnCloseApplication = [&closes] { ++closes; };
    actions.OnAnnounce = [&announced](TAfterDownloadsActions::TAction action, std::function<void()> proceed) {
      announced.push_back(action);
      proceed();
    };
    actions.Run();
    EXPECT_EQ(dialUp.hangUps, c.hangUps);
    EXPECT_EQ(power.powerOffs, c.powerOffs);
    EXPECT_EQ(closes, c.closes);
    EXPECT_EQ(announced.size(), static_cast<size_t>(c.powerOffs + c.closes));
    if (c.hangUps) {
      EXPECT_EQ(prompt_.messages.back(), "Disconnected as requested.");
    }
  }
}

// Keeps the new-download dialog's answer for the test to give.
class AnswerLaterFactory final : public TDownloadWindowFactory {
 public:
  explicit AnswerLaterFactory(EventLoop& loop) : headless_(&loop) {}
  std::unique_ptr<TNewDownloadDialog> CreateNewDownloadDialog(
      TDownloader&, TLocalDownloadinfo&, std::function<void(const TNewDownloadAnswer&)> answer) override {
    answers.push_back(std::move(answer));
    return std::make_unique<Dialog>(sizeTexts, startEnabled);
  }
  std::unique_ptr<TDownloadWindow> CreateDownloadWindow(TDownloader& downloader) override {
    return headless_.CreateDownloadWindow(downloader);
  }
  std::unique_ptr<TCompleteDialog> CreateCompleteDialog(TDownloader& downloader, TLocalDownloadinfo& record,
                                                        std::function<void()> closed) override {
    return headless_.CreateCompleteDialog(downloader, record, std::move(closed));
  }
  std::vector<std::function<void(const TNewDownloadAnswer&)>> answers;
  std::vector<std::string> sizeTexts;
  std::vector<bool> startEnabled;

 private:
  struct Dialog final : TNewDownloadDialog {
    Dialog(std::vector<std::string>& texts, std::vector<bool>& enabled) : texts_(texts), enabled_(enabled) {}
    void Show() override {}
    bool Visible() const override { return true; }
    void SetSizeText(const std::string& text, TStatusColor) override { texts_.push_back(text); }
    void SetStartEnabled(bool enabled) override { enabled_.push_back(enabled); }
    std::vector<std::string>& texts_;
    std::vector<bool>& enabled_;
  };
  THeadlessWindowFactory headless_;
};

TEST_F(DownloadSystemITest, DialogAnswersStoreTheChosenCategoryScheduleReleasesTheDownloaderAndCancelDeletes) {
  http_.SetHandler([this](const HttpRequest& r) { return Held(http_.Serve(r)); });
  WriteInteger(kOptionsSection, "MaxSimultaneousDownloads", 10);
  TCategoryList categories(temp_.File("cat.dat"));
  for (const char* name : {"Binaries", "Later"}) categories.Add(std::make_unique<TCategory>())->SetName(name);
  categories.Get(0)->SetExtensions("bin");
  AnswerLaterFactory windows(loop_);
  TDownloadSystemServices services;
  services.Windows = &windows;
  services.Categories = &categories;
  DownloadSystemTest::MakeSystem(services);
  TLocalDownloadinfo* scheduled = AddUnnamed("/f0.bin", true);
  TLocalDownloadinfo* started = AddUnnamed("/f1.bin", true);
  const std::string cancelled = AddUnnamed("/f2.bin", true)->TempFileName + ".dat";
  ASSERT_EQ(windows.answers.size(), 3u);
  EXPECT_EQ(scheduled->Category, categories.Get(0));  // found by the file name
  windows.answers[2]({TNewDownloadAnswer::TKind::Cancel, "", "", ""});
  EXPECT_EQ(system_->DownloadList().Count(), 2);
  EXPECT_FALSE(test::FileExists(cancelled));

  windows.answers[0]({TNewDownloadAnswer::TKind::Schedule, temp_.File("s.bin"), "Later", "for tonight"});
  EXPECT_EQ(scheduled->Status(), TDownloadState::Scheduled);
  EXPECT_EQ(scheduled->LocalFileName, temp_.File("s.bin"));
  EXPECT_EQ(scheduled->Category, categories.Get(1));
  EXPECT_EQ(scheduled->Description, "for tonight");
  EXPECT_EQ(system_->AssociatedDownloader(scheduled), nullptr);
  EXPECT_EQ(StoredStatus(*scheduled), TDownloadState::Scheduled);
  EXPECT_EQ(model_->Cell(model_->AssociatedRow(scheduled), kColumnStatus), StatusText(TDownloadState::Scheduled));
  const TChecksum checksum{TDigestAlgorithm::Md5, std::string(32, '0')};
  windows.answers[1]({TNewDownloadAnswer::TKind::Start, temp_.File("t.bin"), "", "now", checksum});
  EXPECT_EQ(started->Category, nullptr);  // the combo was emptied
  EXPECT_EQ(started->Description, "now");
  EXPECT_EQ(started->Checksum, checksum);
  EXPECT_NE(system_->AssociatedDownloader(started), nullptr);
  clock_.Advance(TDownloadSystem::kReleaseIntervalMs);
  EXPECT_EQ(system_->FormsCount(), 1);  // the scheduled one's downloader is gone
  EXPECT_EQ(TLocalDownloadinfo(nullptr, scheduled->TempFileName, &categories).Category, categories.Get(1));
}

TEST_F(DownloadSystemITest, TheDialogShowsTheErrorAndStartComesBackWithTheRetry) {
  WriteInteger(kOptionsSection, "RetryDelay", 2);
  http_.Script([](const HttpRequest&) { return test::StatusReply(404, "Not Found"); });
  AnswerLaterFactory windows(loop_);
  TDownloadSystemServices services;
  services.Windows = &windows;
  DownloadSystemTest::MakeSystem(services);
  TLocalDownloadinfo* record = AddUnnamed("/f0.bin", true);
  ASSERT_TRUE(Run([record] { return record->RetryTimer != nullptr; }));
  EXPECT_EQ(windows.startEnabled, (std::vector<bool>{false}));
  clock_.Advance(2000);
  ASSERT_TRUE(Run([&windows] { return windows.startEnabled.size() == 2; }));
  EXPECT_TRUE(windows.startEnabled.back());
  EXPECT_EQ(windows.sizeTexts,
            (std::vector<std::string>{"Contacting host", "Error: File not found", "39 kb"}));
}

}  // namespace
}  // namespace brindle
