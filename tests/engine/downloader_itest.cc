#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/checksum.h"
#include "core/event_loop.h"
#include "core/settings.h"
#include "core/download_status.h"
#include "engine/download_record.h"
#include "engine/downloader.h"
#include "engine/file_mirror.h"
#include "engine/http_part_downloader.h"
#include "engine/part_download_slot.h"
#include "engine/part_download_slots.h"
#include "engine/speed_limit_group.h"
#include "engine/speed_limit_lane.h"
#include "engine/speed_limiter.h"
#include "support/fault_ftp_server.h"
#include "support/fault_http_server.h"
#include "support/part_downloader_test.h"
#include "support/test_certificates.h"
#include "support/test_content.h"

namespace brindle {
namespace {

using test::HttpReply;
using test::HttpRequest;

using test::MakeContent;

class TestRecord : public TDownloadRecord {
 public:
  using TDownloadRecord::TDownloadRecord;
  bool Save(TDurability) const override { return ++saves > 0; }
  mutable int saves = 0;
};

// Nothing is sent until Release(): the answer waits, head included.
HttpReply Held(HttpReply reply) {
  const int64_t head = static_cast<int64_t>(reply.Head.size());
  return HttpReply{.Head = "", .Body = reply.Head + reply.Body, .StallAt = {0, head + 1}};
}

HttpReply StallBody(HttpReply reply, int64_t at) {
  reply.StallAt = {at};
  return reply;
}

HttpReply CloseAfter(HttpReply reply, int64_t at) {
  reply.CloseAfter = at;
  return reply;
}

int64_t RangeStart(const HttpRequest& request) {
  const auto range = request.Range();
  return range ? range->first : 0;
}

// A downloader's world: the part downloaders' (support/part_downloader_test.h),
// a main server and a mirror.
class DownloaderITest : public test::PartDownloaderTest {
 protected:
  DownloaderITest() {
    WriteBool(kOptionsSection, "UseHTTPProxy", false);
    http_.AddFile("/f.bin", content_);
    mirror_.AddFile("/f.bin", content_);
    record_.LocalFileName = dir_.File("out.bin");
  }
  void Make(int parts = 4, std::vector<std::string> mirrors = {}) {
    TDownloaderOptions options;
    options.SplitParts = parts;
    options.Loop = &loop_;
    options.LocalMirrors = [mirrors](const TUrl&, TMirrorList& list) {
      for (const std::string& url : mirrors) list.Add(new TFileMirror(url));
    };
    // The mirror server is reached as "localhost", the main one by address.
    options.Ping = [this](const std::string& host, int, int) {
      return TPingOutcome{1, host == "localhost" ? mirrorPing_ : 100};
    };
    downloader_ = std::make_unique<TDownloader>(record_, std::move(options));
    TDownloader& d = *downloader_;
    d.OnAllPartsDone = [this](TDownloader&) { ++done_; };
    d.OnDownloadError = [this](TDownloader&) { ++errors_; };
    d.OnAbort = [this](TDownloader&) { ++aborts_; };
    d.OnPause = [this](TDownloader&) { ++pauses_; };
    d.OnPingedMirror = [this](TDownloader&, TFileMirror& mirror, int index) {
      ++pinged_;
      pingedAt_.emplace_back(mirror.Url->Host, index);
    };
    d.OnSlotDelete = [this](TDownloader&, TPartDownloadSlot&) { ++slotDeletes_; };
    d.OnSlotChange = [this](TDownloader&, TPartDownloadSlot& slot) {
      if (slot.Status() == TDownloadState::Done) doneStarts_.insert(slot.StartByte());
    };
    d.StartDownload();
  }
  bool Run(const std::function<bool()>& until, int64_t ms = 10000) { return test::RunUntil(loop_, until, ms); }

  // Until the gate opens every answer holds after its first body byte, so
  // that no part reaches its end before all parts have data (loopback is
  // fast enough for slot 0 to take over every other part otherwise).
  HttpReply Gated(HttpReply reply) {
    if (gate_) reply.StallAt.insert(reply.StallAt.begin(), 1);
    return reply;
  }
  void GateAll() {
    http_.SetHandler([this](const HttpRequest& r) { return Gated(http_.Serve(r)); });
    mirror_.SetHandler([this](const HttpRequest& r) { return Gated(mirror_.Serve(r)); });
  }
  // Waits until n slots hold data, then lets every answer go on.
  void OpenGateWhenFlowing(int n = 4) {
    ASSERT_TRUE(Run([this, n] {
      if (downloader_->Slots().NumberOfSlots() != n) return false;
      for (int i = 0; i < n; ++i)
        if (downloader_->Slots().GetSlot(i)->TransferCount() < 1) return false;
      return true;
    }));
    gate_ = false;
    http_.Release();
    mirror_.Release();
  }
  int Parked() const {
    int parked = 0;
    for (int i = 0; i < downloader_->Slots().NumberOfSlots(); ++i)
      if (auto* p = downloader_->Slots().GetSlot(i)->PartDownloader(); p && p->State() == psIdle) ++parked;
    return parked;
  }
  bool RunToEnd() { return Run([this] { return done_ + errors_ > 0; }); }
  // Runs to the end and expects the one success with the whole file joined.
  void ExpectWhole() {
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(done_, 1);
    EXPECT_EQ(errors_, 0);
    EXPECT_EQ(Joined(), content_);
  }
  // Four gated parts, one mirror; the main server's first answer waits until
  // both pings are in, so that ChooseMirror sees both times.
  void StartWithMirror(std::vector<std::string> mirrors = {}) {
    GateAll();
    http_.Script([this](const HttpRequest& r) { return Held(http_.Serve(r)); });
    mirrors.push_back(MirrorUrl());
    Make(4, mirrors);
    ASSERT_TRUE(Run([this] { return pinged_ == 2 && http_.StalledConnections() == 1; }));
  }

  // The part files joined along their chain.
  std::string Joined() const {
    std::string all;
    for (;;) {
      const std::string name = record_.TempFileName + "." + std::to_string(all.size());
      if (!test::FileExists(name)) return all;
      const std::string part = test::ReadWholeFile(name);
      if (part.empty()) return all;
      all += part;
    }
  }
  std::string MirrorUrl() const { return "http://localhost:" + std::to_string(mirror_.Port()) + "/f.bin"; }
  std::string Part(int64_t start) const { return record_.TempFileName + "." + std::to_string(start); }
  static std::multiset<int64_t> Starts(const test::FaultHttpServer& server, size_t from = 0) {
    std::multiset<int64_t> starts;
    for (size_t i = from; i < server.Requests().size(); ++i) starts.insert(RangeStart(server.Requests()[i]));
    return starts;
  }

  test::FaultHttpServer http_{loop_};
  test::FaultHttpServer mirror_{loop_};
  TestRecord record_{std::make_unique<TUrl>(http_.Url("/f.bin")), dir_.File("rec")};
  std::unique_ptr<TDownloader> downloader_;
  bool gate_ = true;
  int mirrorPing_ = 300;
  std::vector<std::pair<std::string, int>> pingedAt_;  // host and place after each ping answer
  int done_ = 0, errors_ = 0, aborts_ = 0, pauses_ = 0, pinged_ = 0, slotDeletes_ = 0;
  std::set<int64_t> doneStarts_;
};

// Four parts from one server. HTTP reports resume support before the size,
// FTP (SIZE, then REST) the size first: the parts are made once, at
// whichever report comes second.
class DownloaderReportOrderITest : public DownloaderITest, public ::testing::WithParamInterface<bool> {};

TEST_P(DownloaderReportOrderITest, PartsAreMadeOnceAtTheSecondOfSizeAndResume) {
  const bool ftp = GetParam();
  test::FaultFtpServer ftpServer(loop_);
  ftpServer.AddFile("/f.bin", content_);
  ftpServer.StallAt = {1};
  if (ftp) record_.Url = std::make_unique<TUrl>(ftpServer.Url("/f.bin"));
  GateAll();
  Make();
  std::vector<std::string> reports;
  int slots = 1;
  const auto report = [this, &reports](const std::string& what) {
    reports.push_back(what + std::to_string(downloader_->Slots().NumberOfSlots()));
  };
  downloader_->OnFileSizeRequestDone = [&report](TDownloader&) { report("size@"); };
  downloader_->OnResume = [&report](TDownloader&) { report("resume@"); };
  bool createdEmpty = true;
  downloader_->OnSlotChange = [this, &reports, &slots, &createdEmpty](TDownloader& d, TPartDownloadSlot&) {
    if (d.Slots().NumberOfSlots() == slots) return;
    slots = d.Slots().NumberOfSlots();
    reports.push_back("slots@" + std::to_string(slots));
    for (const int64_t start : {50000, 100000, 150000})
      createdEmpty = createdEmpty && test::FileExists(Part(start)) && test::ReadWholeFile(Part(start)).empty();
  };
  OpenGateWhenFlowing();
  ftpServer.Release();
  ExpectWhole();
  EXPECT_EQ(reports, ftp ? (std::vector<std::string>{"size@1", "resume@1", "slots@4"})
                         : (std::vector<std::string>{"resume@1", "size@1", "slots@4"}));
  EXPECT_TRUE(createdEmpty);
  EXPECT_EQ(record_.NumOfParts, 4);
  EXPECT_EQ(record_.FileSize, 200000);
  EXPECT_GE(record_.saves, 1);
  EXPECT_EQ(downloader_->ResumeText(), "Yes");
  EXPECT_EQ(downloader_->TransferCount(), 200000);
  if (ftp) {
    std::set<std::string> rest;
    int retrieved = 0;
    for (const std::string& command : ftpServer.Commands()) {
      if (command.rfind("REST ", 0) == 0) rest.insert(command);
      retrieved += command.rfind("RETR ", 0) == 0;
    }
    EXPECT_EQ(rest, (std::set<std::string>{"REST 0", "REST 50000", "REST 100000", "REST 150000"}));
    EXPECT_EQ(retrieved, 4);
  } else {
    EXPECT_EQ(Starts(http_), (std::multiset<int64_t>{0, 50000, 100000, 150000}));
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, DownloaderReportOrderITest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Ftp" : "Http"); });

TEST_F(DownloaderITest, SplitBoundariesAfterReceivedBytesRoundHalvesToEven) {
  content_ = MakeContent(1000000);
  http_.AddFile("/f.bin", content_);
  test::WriteWholeFile(Part(0), content_.substr(0, 100000));
  GateAll();
  Make();
  OpenGateWhenFlowing();
  ExpectWhole();
  // Slot 0 asks for a first piece while the size is unknown, then the rest.
  EXPECT_EQ(Starts(http_), (std::multiset<int64_t>{100000, 202400, 325000, 550000, 775000}));
  for (const int64_t start : {0, 325000, 550000, 775000})
    EXPECT_EQ(test::ReadWholeFile(Part(start)).size(), start == 0 ? 325000u : 225000u) << start;
}

// Every part holds at least one byte: where the rounded part size would
// leave the last parts past the end, fewer parts are made.
TEST_F(DownloaderITest, PartSizeRoundsHalvesToEven) {
  WriteInteger(kOptionsSection, "SmallestSplitSize", 0);
  // 10 / 4 = 2.5 -> 2 (the last part takes the rest); 14 / 4 = 3.5 -> 4;
  // 6 / 4 = 1.5 -> 2 would start a fourth part at byte 6: three of 2. Slot
  // 0 cannot be 0..0 (an end of 0 is none): 3 bytes make two parts.
  for (const auto& [size, bounds] : std::vector<std::pair<size_t, std::vector<int64_t>>>{
           {10, {0, 1, 2, 3, 4, 5, 6, 9}}, {14, {0, 3, 4, 7, 8, 11, 12, 13}}, {6, {0, 1, 2, 3, 4, 5}},
           {3, {0, 1, 2, 2}}}) {
    SCOPED_TRACE(size);
    content_ = MakeContent(size);
    http_.SetHandler([this](const HttpRequest& r) { return StallBody(test::FileReply(r, content_), 0); });
    downloader_.reset();
    for (int64_t start = 0; start < 14; ++start) std::remove(Part(start).c_str());
    record_.FileSize = 0;
    record_.NumOfParts = -1;
    done_ = 0;
    Make();
    const int slots = static_cast<int>(bounds.size() / 2);
    ASSERT_TRUE(Run([this, slots] { return downloader_->Slots().NumberOfSlots() == slots; }));
    std::vector<int64_t> got;
    for (int i = 0; i < slots; ++i) {
      got.push_back(downloader_->Slots().GetSlot(i)->StartByte());
      got.push_back(downloader_->Slots().GetSlot(i)->EndByte());
    }
    EXPECT_EQ(got, bounds);
    ASSERT_TRUE(Run([this, slots] { return http_.StalledConnections() == slots; }));
    // A range taken over is asked for anew.
    http_.SetHandler([this](const HttpRequest& r) { return test::FileReply(r, content_); });
    http_.Release();
    ExpectWhole();
  }
}

struct UnsplitCase {
  const char* name;
  size_t size;
  test::FileReplyOptions options;
  int64_t fileSize;
  int numOfParts;
  size_t requests = 1;
};

class DownloaderUnsplitITest : public DownloaderITest, public ::testing::WithParamInterface<UnsplitCase> {};

TEST_P(DownloaderUnsplitITest, OneSlotFetchesTheWholeFile) {
  const UnsplitCase& c = GetParam();
  content_ = MakeContent(c.size);
  http_.SetHandler([this, &c](const HttpRequest& r) { return test::FileReply(r, content_, c.options); });
  Make();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(done_, 1);
  EXPECT_EQ(downloader_->Slots().NumberOfSlots(), 1);
  EXPECT_EQ(http_.Requests().size(), c.requests);
  EXPECT_EQ(record_.FileSize, c.fileSize);
  EXPECT_EQ(record_.NumOfParts, c.numOfParts);
  EXPECT_TRUE(test::FileExists(Part(0)) && test::ReadWholeFile(Part(0)) == content_);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloaderUnsplitITest,
    ::testing::Values(UnsplitCase{"SmallFile", 100 * 1024, {}, 100 * 1024, 1},
                      UnsplitCase{"NoResume", 200000, {.IgnoreRange = true, .AcceptRanges = false}, 200000, -1},
                      // Without a size, a first piece that ends where it was
                      // asked to says nothing of the rest, which is asked for.
                      UnsplitCase{"SizeUnknown", 200000, {.NoLength = true}, -1, 1, 2},
                      // A Range request for an empty file meets 416 with "bytes */0",
                      // which says the whole file is empty; a server ignoring the
                      // range says so with its length.
                      UnsplitCase{"EmptyFile", 0, {}, 0, 1},
                      UnsplitCase{"EmptyFileRangeIgnored", 0, {.IgnoreRange = true}, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloaderITest, ReachedEndTakesOverAPartStillConnecting) {
  bool held = false;
  http_.SetHandler([this, &held](const HttpRequest& r) {
    const int64_t start = RangeStart(r);
    // The taker asks for the range anew; only the first request waits.
    if (start == 150000 && !std::exchange(held, true)) return Held(http_.Serve(r));
    if (start < 100000) return StallBody(http_.Serve(r), 0);
    return http_.Serve(r);
  });
  Make();
  ASSERT_TRUE(Run([this] { return doneStarts_.count(100000) > 0; }));
  EXPECT_EQ(slotDeletes_, 1);
  EXPECT_EQ(downloader_->Slots().NumberOfSlots(), 3);
  EXPECT_EQ(downloader_->SplitParts(), 3);
  EXPECT_EQ(record_.NumOfParts, 3);
  EXPECT_FALSE(test::FileExists(Part(150000)));
  EXPECT_EQ(test::ReadWholeFile(Part(100000)), content_.substr(100000));
  http_.Release();
  ExpectWhole();
}

// A local list entry for the own address is not a second mirror.
TEST_F(DownloaderITest, ChooseMirrorLoadsTheFasterMirrorUntilItsLoadPassesTheSlower) {
  StartWithMirror({http_.Url("/f.bin")});
  EXPECT_EQ(downloader_->Mirrors().Count(), 2);
  EXPECT_EQ(downloader_->Mirrors().Get(0)->PingTime, 100);
  EXPECT_EQ(downloader_->Mirrors().Get(1)->PingTime, 300);
  http_.Release();
  OpenGateWhenFlowing();
  ExpectWhole();
  // (1+1)x100 <= 300, (2+1)x100 <= 300, (3+1)x100 > 300.
  EXPECT_EQ(Starts(http_), (std::multiset<int64_t>{0, 50000, 100000}));
  EXPECT_EQ(Starts(mirror_), (std::multiset<int64_t>{150000}));
}

TEST_F(DownloaderITest, FasterMirrorMovesAheadWhenItsPingAnswers) {
  mirrorPing_ = 50;
  StartWithMirror();
  EXPECT_EQ(downloader_->Mirrors().Get(0)->Url->Url, MirrorUrl());
  ASSERT_EQ(pingedAt_.size(), 2u);
  EXPECT_EQ(std::count(pingedAt_.begin(), pingedAt_.end(), std::pair<std::string, int>{"localhost", 0}), 1);
  http_.Release();
  OpenGateWhenFlowing();
  ExpectWhole();
  // (1+1)x50, (2+1)x50 and (3+1)x50 all stay within the main server's (1+1)x100.
  EXPECT_EQ(Starts(mirror_), (std::multiset<int64_t>{50000, 100000, 150000}));
}

TEST_F(DownloaderITest, PartFailingOnAMirrorMovesToTheOtherMirror) {
  StartWithMirror();
  mirror_.SetHandler([this](const HttpRequest& r) { return CloseAfter(mirror_.Serve(r), 1000); });
  http_.Release();
  // Slot 3 fails on the mirror and asks the main server from byte 151000.
  ASSERT_TRUE(Run([this] { return http_.Requests().size() == 4; }));
  OpenGateWhenFlowing();
  ExpectWhole();
  EXPECT_EQ(Starts(mirror_), (std::multiset<int64_t>{150000}));
  EXPECT_EQ(Starts(http_), (std::multiset<int64_t>{0, 50000, 100000, 151000}));
  EXPECT_NE(downloader_->Mirrors().Get(1)->ErrorCode, 0);
}

TEST_F(DownloaderITest, OnlyMirrorFailingParksPartsAndFailsOnlyWhenAllAreParked) {
  http_.SetHandler([this](const HttpRequest& r) {
    HttpReply reply = http_.Serve(r);
    reply.CloseAfter = 100;
    if (RangeStart(r) == 0) reply.StallAt = {50};
    return reply;
  });
  Make();
  ASSERT_TRUE(Run([this] { return http_.Requests().size() == 4 && http_.OpenConnections() == 1 && http_.StalledConnections() == 1; }));
  ASSERT_TRUE(Run([this] { return Parked() == 3; }));
  EXPECT_EQ(errors_, 0);
  http_.Release();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(done_, 0);
  EXPECT_EQ(downloader_->Status(), TDownloadState::LostConnection);
  EXPECT_EQ(record_.Status(), TDownloadState::LostConnection);
  loop_.RunOnce(0);
  EXPECT_EQ(errors_, 1);
}

TEST_F(DownloaderITest, FinishedPartHandsItsConnectionToAParkedPart) {
  int failures = 3;
  http_.SetHandler([this, &failures](const HttpRequest& r) {
    HttpReply reply = http_.Serve(r);
    if (RangeStart(r) == 0) {
      reply.StallAt = {10};
    } else if (failures > 0) {
      --failures;
      reply.CloseAfter = 100;
    }
    return reply;
  });
  Make();
  ASSERT_TRUE(Run([this] { return Parked() == 3; }));
  http_.Release();
  ExpectWhole();
  EXPECT_EQ(Starts(http_, 4), (std::multiset<int64_t>{50100, 100100, 150100}));
}

// The update timer samples the byte count every 100 ms for the rate; a part
// that ends reports its server's average speed over whole seconds.
TEST_F(DownloaderITest, UpdateTimerFeedsTheSpeedMeterAndDonePartsReportServerSpeed) {
  std::vector<std::pair<std::string, int64_t>> speeds;
  int updates = 0;
  http_.SetHandler([this](const HttpRequest& r) {
    HttpReply reply = http_.Serve(r);
    reply.StallAt = {10000, 20000};
    return reply;
  });
  Make();
  downloader_->OnServerSpeed = [&speeds](const std::string& host, int64_t speed) { speeds.emplace_back(host, speed); };
  downloader_->OnUpdate = [&updates](TDownloader&) { ++updates; };
  ASSERT_TRUE(Run([this] { return downloader_->TransferCount() == 40000; }));
  clock_.Advance(TDownloader::kUpdateIntervalMs);
  EXPECT_EQ(downloader_->TransferRate(), "N/A");
  http_.Release();
  ASSERT_TRUE(Run([this] { return downloader_->TransferCount() == 80000; }));
  clock_.Advance(TDownloader::kUpdateIntervalMs);
  EXPECT_EQ(updates, 2);
  EXPECT_EQ(downloader_->TransferRate(), "390.6");  // 40000 bytes in 100 ms
  EXPECT_NE(downloader_->TimeLeft(), "N/A");
  clock_.Advance(1000);
  http_.Release();
  ExpectWhole();
  EXPECT_EQ(speeds, (std::vector<std::pair<std::string, int64_t>>(4, {"127.0.0.1", 50000})));
}

// A retry after the download failed: every part not done starts again from
// the end of its part file; a done part is not asked for again.
TEST_F(DownloaderITest, RestartDownloadResumesEveryUnfinishedPart) {
  http_.SetHandler([this](const HttpRequest& r) {
    HttpReply reply = Gated(http_.Serve(r));
    if (RangeStart(r) != 50000) reply.StallAt.push_back(1000), reply.CloseAfter = 1000;
    return reply;
  });
  Make();
  OpenGateWhenFlowing();
  ASSERT_TRUE(Run([this] { return doneStarts_.count(50000) > 0; }));
  http_.Release();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(Parked(), 3);

  const size_t before = http_.Requests().size();
  gate_ = true;
  GateAll();
  downloader_->RestartDownload();
  EXPECT_EQ(downloader_->RetryCount(), 1);
  EXPECT_EQ(record_.Status(), TDownloadState::ContactingHost);
  // The first data after the restart says so, as after the first start.
  ASSERT_TRUE(Run([this] { return record_.Status() == TDownloadState::Downloading; }));
  gate_ = false;
  http_.SetHandler([this](const HttpRequest& r) { return http_.Serve(r); });
  http_.Release();
  ASSERT_TRUE(Run([this] { return done_ > 0; }));
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(Joined(), content_);
  EXPECT_EQ(Starts(http_, before), (std::multiset<int64_t>{1000, 101000, 151000}));
}

// A first contact that fails marks the server failed; the retry's answer
// clears a mark that time mends, and the parts split as on a first start.
class DownloaderRetryITest : public DownloaderITest, public ::testing::WithParamInterface<HttpReply> {};

TEST_P(DownloaderRetryITest, FailedFirstContactSplitsOnceTheRetryGetsThrough) {
  const HttpReply failure = GetParam();
  http_.Script([failure](const HttpRequest&) { return failure; });
  GateAll();
  Make();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(downloader_->RetryAfter(), failure.CloseAtOnce ? -1 : 7);
  EXPECT_FALSE(downloader_->PermanentFailure());
  errors_ = 0;
  downloader_->RestartDownload();
  OpenGateWhenFlowing();
  ExpectWhole();
  EXPECT_EQ(Starts(http_, 1), (std::multiset<int64_t>{0, 50000, 100000, 150000}));
}

INSTANTIATE_TEST_SUITE_P(All, DownloaderRetryITest,
                         ::testing::Values(HttpReply{.CloseAtOnce = true},
                                           test::StatusReply(503, "Busy", "", {"Retry-After: 7"})));

// Another whole size on the download's own server is another version: the
// download starts over, once a run, so that a server changing the file
// again and again cannot loop it; answers of yet another version are
// refused. Either way no bytes of two versions are mixed.
TEST_F(DownloaderITest, FileChangedSizeOnItsServerStartsOverOncePerRun) {
  // Every answer drops after one byte, which parks every part.
  http_.SetHandler([this](const HttpRequest& r) { return CloseAfter(http_.Serve(r), 1); });
  Make();
  ASSERT_TRUE(RunToEnd());
  ASSERT_EQ(record_.NumOfParts, 4);
  downloader_.reset();

  // The next run meets a new version of another size.
  content_ = MakeContent(250000, 7);
  http_.SetHandler([this](const HttpRequest& r) { return test::FileReply(r, content_); });
  int startOvers = 0;
  errors_ = 0;
  Make();
  downloader_->OnStartOver = [&startOvers](TDownloader&) { ++startOvers; };
  ExpectWhole();
  EXPECT_EQ(startOvers, 1);
  EXPECT_EQ(record_.FileSize, 250000);

  // A server whose every answer is another version.
  downloader_.reset();
  record_.FileSize = 0;
  record_.NumOfParts = -1;
  std::vector<std::string> versions;
  http_.SetHandler([&versions](const HttpRequest& r) {
    versions.push_back(MakeContent(300000 + versions.size(), static_cast<int>(versions.size())));
    return test::FileReply(r, versions.back());
  });
  done_ = errors_ = startOvers = 0;
  Make();
  downloader_->OnStartOver = [&startOvers](TDownloader&) { ++startOvers; };
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(startOvers, 1);
  // The parts hold the start of the one version slot 0 took after starting
  // over: all of it when slot 0 took every refused part's range over.
  const std::string held = Joined();
  const auto same = std::find_if(versions.begin(), versions.end(),
                                 [&held](const std::string& v) { return v.compare(0, held.size(), held) == 0; });
  ASSERT_FALSE(held.empty());
  ASSERT_NE(same, versions.end());
  EXPECT_EQ(done_ == 1, held == *same);
}

// A file replaced on the server that answers for the download's address
// (itself, or the one it redirects to) is fetched anew, once.
TEST_F(DownloaderITest, ChangedETagOnTheOwnServerStartsOverOnce) {
  for (const bool redirected : {false, true}) {
    SCOPED_TRACE(redirected ? "behind a redirector" : "direct");
    int answers = 0, startOvers = 0;
    const std::string first = MakeContent(200000, 5);
    http_.SetHandler([this, &answers, &first](const HttpRequest& r) {
      // The file is replaced (same size, new tag) once the first answer went out.
      const bool old = ++answers == 1;
      const std::string& version = old ? first : content_;
      return Gated(test::FileReply(r, version, {.ExtraHeaders = {old ? "ETag: \"v1\"" : "ETag: \"v2\"",
                                                                 test::ReprDigestLine(version)}}));
    });
    if (redirected) {
      record_.Url = std::make_unique<TUrl>(mirror_.Url("/r.bin"));
      record_.TempFileName = dir_.File("redirected");
      record_.FileSize = 0;
      record_.NumOfParts = -1;
      record_.ClearValidators();
      record_.ServerDigest.reset();
      mirror_.SetHandler([this](const HttpRequest&) { return test::RedirectReply(302, http_.Url("/f.bin")); });
    }
    gate_ = true;
    done_ = errors_ = 0;
    Make();
    downloader_->OnStartOver = [&startOvers](TDownloader&) { ++startOvers; };
    OpenGateWhenFlowing();
    ExpectWhole();
    EXPECT_EQ(startOvers, 1);
    ASSERT_NE(record_.Validators(TDownloadRecord::ServerKey(TUrl(http_.Url("/f.bin")))), nullptr);
    EXPECT_EQ(record_.Validators(TDownloadRecord::ServerKey(TUrl(http_.Url("/f.bin"))))->ETag, "\"v2\"");
    // The old version's digest went with it; the join checks the new one's.
    ASSERT_TRUE(record_.ServerDigest);
    EXPECT_EQ(record_.ServerDigest->Hex, HexOf(test::DigestOf("sha256", content_)));
    downloader_.reset();
  }
}

// A redirector that sends each request to one of two servers with equal
// bytes but their own ETags: each server's answers are compared with its
// own, the two by size only, so nothing starts over.
TEST_F(DownloaderITest, ServersBehindARedirectorKeepTheirOwnValidators) {
  int redirections = 0, startOvers = 0;
  record_.Url = std::make_unique<TUrl>(http_.Url("/r.bin"));
  http_.SetHandler([this, &redirections](const HttpRequest& r) {
    if (r.Target == "/r.bin") return test::RedirectReply(302, ++redirections % 2 ? MirrorUrl() : http_.Url("/f.bin"));
    return Gated(http_.Serve(r, {.ExtraHeaders = {"ETag: \"a\""}}));
  });
  mirror_.SetHandler([this](const HttpRequest& r) { return Gated(mirror_.Serve(r, {.ExtraHeaders = {"ETag: \"b\""}})); });
  Make();
  downloader_->OnStartOver = [&startOvers](TDownloader&) { ++startOvers; };
  OpenGateWhenFlowing();
  ExpectWhole();
  EXPECT_EQ(startOvers, 0);
  EXPECT_EQ(record_.AllValidators().size(), 2u);
}

TEST_F(DownloaderITest, ChangedETagOnAMirrorDropsThatMirror) {
  int answers = 0;
  record_.SetValidators(TDownloadRecord::ServerKey(TUrl(MirrorUrl())), {"\"old\"", ""});
  StartWithMirror();
  mirror_.SetHandler([this, &answers](const HttpRequest& r) {
    return test::FileReply(r, content_, {.ExtraHeaders = {++answers == 1 ? "ETag: \"a\"" : "ETag: \"b\""}});
  });
  http_.Release();
  OpenGateWhenFlowing();
  ExpectWhole();
  EXPECT_EQ(mirror_.Requests().size(), 1u);
  EXPECT_NE(downloader_->Mirrors().Get(1)->ErrorCode, 0);
  EXPECT_EQ(Starts(http_), (std::multiset<int64_t>{0, 50000, 100000, 150000}));
}

TEST_F(DownloaderITest, AbortDeletesPartFilesPauseKeepsThemEachReportedOnce) {
  for (const bool abort : {true, false}) {
    SCOPED_TRACE(abort ? "abort" : "pause");
    http_.StallFilesAt(1000);
    Make();
    ASSERT_TRUE(Run([this] {
      for (const int64_t start : {0, 50000, 100000, 150000})
        if (!test::FileExists(Part(start)) || test::ReadWholeFile(Part(start)).size() != 1000) return false;
      return true;
    }));
    aborts_ = pauses_ = 0;
    abort ? downloader_->Abort() : downloader_->Pause();
    ASSERT_TRUE(Run([this, abort] {
      return abort ? downloader_->Slots().AllAborted() : downloader_->Slots().AllPaused();
    }));
    loop_.RunOnce(0);
    EXPECT_EQ(aborts_, abort ? 1 : 0);
    EXPECT_EQ(pauses_, abort ? 0 : 1);
    for (const int64_t start : {0, 50000, 100000, 150000}) EXPECT_EQ(test::FileExists(Part(start)), !abort);
    EXPECT_EQ(done_ + errors_, 0);
    downloader_.reset();
    record_.NumOfParts = -1;
    record_.FileSize = 0;
  }
}

// ---- Slots ----

class PartDownloadSlotITest : public DownloaderITest, public ::testing::WithParamInterface<const char*> {};

// What an earlier run (or anybody else) left at the part file's name: a
// file longer than its range is cut to it; a link, a second name of another
// file or a FIFO is not Brindle's part file and is replaced, never written
// through, read or waited on. The same over both part downloaders.
TEST_P(PartDownloadSlotITest, LeftoversAtThePartFileNameAreCutOrReplaced) {
  WriteBool(kOptionsSection, "UseFTPProxy", false);
  WriteBool(kOptionsSection, "PassiveMode", true);
  test::FaultFtpServer ftp(loop_);
  ftp.AddFile("/f.bin", content_);
  TFileMirror mirror(std::string(GetParam()) == "ftp" ? ftp.Url("/f.bin") : http_.Url("/f.bin"));
  test::TempDir elsewhere;
  const std::string outside = elsewhere.File("outside");
  const std::string users = "the user's own bytes";
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> cases = {
      {"longer than its range", [&](const std::string& part) { test::WriteWholeFile(part, Slice(1000, 6999)); }},
      {"a link", [&](const std::string& part) { std::filesystem::create_symlink(outside, part); }},
      {"a second name", [&](const std::string& part) { std::filesystem::create_hard_link(outside, part); }},
      {"a FIFO", [](const std::string& part) { ASSERT_EQ(mkfifo(part.c_str(), 0644), 0); }},
  };
  for (const auto& [name, leave] : cases) {
    SCOPED_TRACE(name);
    test::WriteWholeFile(outside, users);
    TPartDownloadSlot slot(&loop_);
    slot.SetPartDownloaderStartByte(1000);
    slot.SetPartDownloaderEndByte(4999);
    slot.SetPartFileName(dir_.File("base.1000"));
    std::filesystem::remove(slot.PartFileName());
    leave(slot.PartFileName());
    states_.clear();
    slot.OnChange = [this](TPartDownloadSlot&, TPartDownloaderState state) { states_.push_back(state); };
    slot.Start(&mirror, 10000);
    ASSERT_TRUE(test::RunUntil(loop_, [&] { return !states_.empty() && test::Final(states_.back()); }));
    ASSERT_EQ(states_.back(), psDone) << slot.Status().Text();
    EXPECT_EQ(slot.TransferCount(), 4000);
    slot.ResizePartFile();
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(slot.PartFileName())));
    EXPECT_EQ(test::ReadWholeFile(slot.PartFileName()), Slice(1000, 4999));
    EXPECT_EQ(test::ReadWholeFile(outside), users);
  }
}

INSTANTIATE_TEST_SUITE_P(Schemes, PartDownloadSlotITest, ::testing::Values("http", "ftp"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// ---- Speed limits ----

constexpr int64_t kKiB = 1024;

// Limited downloads from the in-process server, timed by the manual clock:
// the bytes counted are those the parts received while the simulated time
// passed, so no wall-clock speed is ever measured.
class SpeedLimitITest : public DownloaderITest {
 protected:
  SpeedLimitITest() { http_.AddFile("/f.bin", MakeContent(6'000'000)); }

  TDownloader& Start(int64_t ownLimitKiB = 0) {
    const std::string name = "d" + std::to_string(records_.size());
    auto record = std::make_unique<TestRecord>(std::make_unique<TUrl>(http_.Url("/f.bin")), dir_.File(name));
    record->LocalFileName = dir_.File(name + ".out");
    record->SpeedLimit = ownLimitKiB;
    TDownloaderOptions options;
    options.SplitParts = 4;
    options.Loop = &loop_;
    options.Limiter = &limiter_;
    options.Ping = [](const std::string&, int, int) { return TPingOutcome{1, 10}; };
    records_.push_back(std::move(record));
    downloaders_.push_back(std::make_unique<TDownloader>(*records_.back(), std::move(options)));
    downloaders_.back()->StartDownload();
    return *downloaders_.back();
  }
  // Simulated time in refill steps; the loop runs until quiet after each.
  void Pass(int64_t ms) {
    for (int64_t t = 0; t < ms; t += TSpeedLimiter::kRefillIntervalMs) {
      clock_.Advance(TSpeedLimiter::kRefillIntervalMs);
      for (int i = 0; i < 30; ++i) loop_.RunOnce(0);
    }
  }
  static std::vector<int64_t> PartBytes(const TDownloader& d) {
    std::vector<int64_t> bytes;
    for (int i = 0; i < d.Slots().NumberOfSlots(); ++i) {
      const TPartDownloader* part = d.Slots().GetSlot(i)->PartDownloader();
      bytes.push_back(part && part->Lane() ? part->Lane()->LimitedBytes() : 0);
    }
    return bytes;
  }

  TSpeedLimiter limiter_{&loop_};
  std::vector<std::unique_ptr<TestRecord>> records_;
  std::vector<std::unique_ptr<TDownloader>> downloaders_;
};

TEST_F(SpeedLimitITest, ADownloadKeepsToItsCapOverFourFairParts) {
  TDownloader& d = Start(100);
  Pass(2000);  // size learned, parts split and running
  ASSERT_EQ(d.Slots().NumberOfSlots(), 4);
  const int64_t before = d.TransferCount();
  const std::vector<int64_t> partsBefore = PartBytes(d);
  Pass(20000);
  const double rate = static_cast<double>(d.TransferCount() - before) / 20.0;
  EXPECT_NEAR(rate, 100.0 * kKiB, 5.0 * kKiB);
  const std::vector<int64_t> partsAfter = PartBytes(d);
  for (size_t i = 0; i < partsAfter.size(); ++i)
    EXPECT_GE(partsAfter[i] - partsBefore[i], 100 * kKiB * 20 / 4 / 4) << "part " << i;

  // Lifted while running: the next refill step is no longer capped.
  const int64_t capped = d.TransferCount();
  d.SetSpeedLimit(0);
  Pass(100);
  EXPECT_GT(d.TransferCount() - capped, 100 * kKiB);
}

TEST_F(SpeedLimitITest, TimeHeldBackIsNotAStall) {
  // A few bytes a second over a 2-second stall time-out: a header line alone
  // takes longer than that to arrive, all of it held back.
  WriteInteger(kOptionsSection, "StallTimeOut", 2);
  TSpeedLimitGroup group(limiter_);
  group.SetRate(8);
  THTTPPartDownloader part(http_.Url("/f.bin"), dir_.File("p"), 0, 999, &loop_);
  std::vector<TPartDownloaderState> states;
  part.OnChange = [&](TPartDownloader&, TPartDownloaderState s) { states.push_back(s); };
  part.SetSpeedLimitGroup(&group);
  part.Get();
  Pass(30000);
  EXPECT_NE(part.State(), psError) << part.ErrorStatus().Text();
  EXPECT_GT(part.Lane()->LimitedBytes(), 200);
  EXPECT_LE(part.Lane()->LimitedBytes(), 8 * 30 + 2);
  // Lifted, the rest comes at once and the part completes.
  group.SetRate(0);
  ASSERT_TRUE(test::RunUntil(loop_, [&] { return part.State() == psDone; }));
  EXPECT_EQ(part.TransferCount(), 1000);
}

// ---- The main server speaks TLS ----

class HttpsDownloaderITest : public DownloaderITest {
 protected:
  HttpsDownloaderITest() {
    http_.EnableTls(certs_.Good, certs_.Key);
    expired_.EnableTls(certs_.Expired, certs_.Key);
    expired_.AddFile("/f.bin", content_);
    record_.Url = std::make_unique<TUrl>(http_.Url("/f.bin"));
  }
  // The server's file as a mirror reached by name.
  static std::string Local(const test::FaultHttpServer& server) {
    return "https://localhost:" + std::to_string(server.Port()) + "/f.bin";
  }

  const test::TestCertificates& certs_ = test::SharedTestCertificates();
  test::TrustTestAuthority trust_{certs_};
  test::FaultHttpServer expired_{loop_};
};

// An https download never takes an http mirror, and a mirror whose
// certificate does not verify is never asked again. The main server holds
// its answers until that mirror has failed.
TEST_F(HttpsDownloaderITest, UsesHttpsMirrorsOnly) {
  GateAll();
  Make(4, {MirrorUrl(), Local(expired_)});
  ASSERT_EQ(downloader_->Mirrors().Count(), 2);
  const TFileMirror* mirror = downloader_->Mirrors().GetMirror(Local(expired_));
  ASSERT_TRUE(Run([&] { return mirror->ErrorCode != 0; }));
  gate_ = false;
  http_.Release();
  ExpectWhole();
  EXPECT_EQ(mirror->ErrorCode, kPartErrCertificate);
  EXPECT_TRUE(expired_.Requests().empty());
  EXPECT_EQ(mirror_.Accepted(), 0);
}

// Waiting cannot fix a certificate: without another mirror the download
// cannot be retried; with one, the retry moves there.
TEST_F(HttpsDownloaderITest, UntrustedCertificateFailsItsMirrorForGood) {
  record_.Url = std::make_unique<TUrl>(expired_.Url("/f.bin"));
  Make();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(record_.Status(), TDownloadState::CertificateNotTrusted);
  EXPECT_EQ(record_.ErrorDetail, "certificate has expired");
  EXPECT_FALSE(downloader_->CanRetry());

  errors_ = 0;
  Make(4, {Local(http_)});
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(record_.Status(), TDownloadState::CertificateNotTrusted);
  ASSERT_TRUE(downloader_->CanRetry());
  const int tried = expired_.Accepted();
  downloader_->RestartDownload();
  ASSERT_TRUE(Run([this] { return done_ > 0; }));
  EXPECT_EQ(Joined(), content_);
  EXPECT_EQ(expired_.Accepted(), tried);
}

// Under a speed limit a part reads TLS records piece by piece. The server
// stops sending (without closing) after 100000 bytes: every one of them
// still arrives, and no faster than the rate.
TEST_F(HttpsDownloaderITest, LimitedPartOverTlsGetsEveryByteSentAtTheRate) {
  TSpeedLimiter limiter(&loop_);
  TSpeedLimitGroup group(limiter);
  group.SetRate(20 * 1024);
  http_.StallFilesAt(100000);
  THTTPPartDownloader part(http_.Url("/f.bin"), dir_.File("l"), 0, 0, &loop_);
  part.SetSpeedLimitGroup(&group);
  part.Get();
  ASSERT_TRUE(Run([this] { return http_.StalledConnections() == 1; }));
  for (int step = 0; step < 80 && part.TransferCount() < 100000; ++step) {
    clock_.Advance(TSpeedLimiter::kRefillIntervalMs);
    for (int i = 0; i < 20; ++i) loop_.RunOnce(0);
  }
  EXPECT_EQ(part.TransferCount(), 100000);
  EXPECT_LE(part.Lane()->LimitedBytes(), 20 * 1024 * 8 + 20 * 1024 / 4);  // never above the rate
  part.Abort();
}

}  // namespace
}  // namespace brindle
