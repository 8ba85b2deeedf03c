#include "engine/part_download_slot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/event_loop.h"
#include "core/timer.h"
#include "core/trace.h"
#include "engine/file_mirror.h"
#include "engine/part_download_slots.h"
#include "support/manual_clock.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

// A part downloader the test drives by hand.
class FakePart final : public TPartDownloader {
 public:
  using TPartDownloader::TPartDownloader;
  void Get() override { ++gets; }
  void Stop() override {}
  void Abort() override { TPartDownloader::Abort(), Report(psAborted); }
  void Pause() override { TPartDownloader::Pause(), Report(psPaused); }
  void Report(TPartDownloaderState state) { SetState(state), RaiseChange(); }
  void ReportError(int code, const std::string& text) { Fail(code, TDownloadStatus::Failure(text)), RaiseChange(); }
  void SetCount(int64_t count) { SetTransferCount(count); }
  void SetSize(int64_t size) { SetTransferSize(size); }
  int gets = 0;
};

class PartDownloadSlotTest : public ::testing::Test {
 protected:
  PartDownloadSlotTest() {
    clock_.Attach(loop_);
    SetTraceSink([this](const std::string& line) { trace_.push_back(line); });
  }
  ~PartDownloadSlotTest() override { SetTraceSink(nullptr), clock_.Detach(); }

  // A slot over a fake part for the range first..last, part file "part.<first>".
  FakePart& Attach(TPartDownloadSlot& slot, int64_t first, int64_t last) {
    slot.SetPartDownloaderStartByte(first);
    slot.SetPartDownloaderEndByte(last);
    slot.SetPartFileName(dir_.File("part." + std::to_string(first)));
    auto part = std::make_unique<FakePart>(mirror_.Url->Url, "unused", 0, 0, &loop_);
    FakePart& ref = *part;
    slot.SetPartDownloader(std::move(part));
    return ref;
  }
  void Record(TPartDownloadSlot& slot) {
    slot.OnChange = [this](TPartDownloadSlot& s, TPartDownloaderState state) {
      changes_.push_back(state), statuses_.push_back(s.Status().Text());
    };
    slot.OnUpdate = [this](TPartDownloadSlot&) { ++updates_; };
  }

  test::ManualClock clock_;
  EventLoop loop_{clock_};
  test::TempDir dir_;
  TFileMirror mirror_{"http://127.0.0.1:1/file.bin"};
  std::vector<TPartDownloaderState> changes_;
  std::vector<std::string> statuses_;
  std::vector<std::string> trace_;
  int updates_ = 0;
};

TEST_F(PartDownloadSlotTest, StatusTextsAndSpeedThroughAWholePart) {
  TPartDownloadSlot slot(&loop_);
  EXPECT_EQ(slot.Status().Text(), "Idle");
  FakePart& part = Attach(slot, 20000, 29999);
  test::WriteWholeFile(slot.PartFileName(), std::string(1000, 'x'));
  Record(slot);
  slot.Start(&mirror_, 5000);
  EXPECT_EQ(part.gets, 1);
  EXPECT_EQ((std::vector<int64_t>{part.StartByte(), part.EndByte(), part.TimeOut()}),
            (std::vector<int64_t>{20000, 29999, 5000}));
  EXPECT_EQ(part.FileName(), slot.PartFileName());
  EXPECT_EQ(slot.Status().Text(), "Contacting host");
  EXPECT_EQ(slot.InitialCount(), 1000);
  EXPECT_TRUE(slot.UpdateTimer().Enabled());

  part.Report(psConnected);
  part.SetSize(500000);
  part.Report(psGotFileSize);
  EXPECT_EQ(slot.EndByte(), 29999);  // a slot with an end keeps it
  part.Report(psDownloading);
  clock_.Advance(250);
  EXPECT_EQ(updates_, 2);
  part.SetCount(10500);  // more than the range: counted up to its end
  clock_.Advance(2250);
  part.Report(psDone);
  EXPECT_EQ(statuses_, (std::vector<std::string>{"Getting file info", "Getting file info", "Downloading", "Done"}));
  EXPECT_EQ(slot.Count(), 10000);
  EXPECT_EQ(slot.Speed(), 4500);  // 9000 bytes over 2 whole seconds
  EXPECT_FALSE(slot.UpdateTimer().Enabled());
}

TEST_F(PartDownloadSlotTest, SpeedCountsWholeSecondsAndRoundsHalvesToEven) {
  struct Case {
    int64_t elapsedMs, received, speed;
  };
  for (const Case& c : {Case{999, 5000, 0}, {1000, 5000, 5000}, {2999, 5001, 2500}, {2000, 5003, 2502}, {3000, 0, 0}}) {
    TPartDownloadSlot slot(&loop_);
    FakePart& part = Attach(slot, 0, 99999);
    slot.Start(&mirror_, 10000);
    part.SetCount(c.received);
    clock_.SetMonotonicMs(clock_.MonotonicMs() + c.elapsedMs);
    part.Report(psDone);
    EXPECT_EQ(slot.Speed(), c.speed) << c.elapsedMs << " " << c.received;
  }
}

TEST_F(PartDownloadSlotTest, ErrorMarksTheMirrorFailed) {
  TPartDownloadSlot slot(&loop_);
  FakePart& part = Attach(slot, 0, 999);
  slot.Start(&mirror_, 10000);
  part.Report(psDownloading);
  part.ReportError(1, "Lost connection to server");
  EXPECT_EQ(slot.Status().Text(), "Lost connection to server");
  EXPECT_TRUE(slot.HadError());
  EXPECT_EQ(mirror_.ErrorCode, 1);
  EXPECT_FALSE(slot.UpdateTimer().Enabled());
  EXPECT_EQ(trace_, std::vector<std::string>{"TPartDownloadSlot.OnPartdownloaderChange (Error): " + mirror_.Url->Url});
}

TEST_F(PartDownloadSlotTest, FileSizeGivesAnOpenSlotItsEnd) {
  for (int64_t size : {5000, -1, 0}) {
    TPartDownloadSlot slot(&loop_);
    FakePart& part = Attach(slot, 0, 0);
    slot.Start(&mirror_, 10000);
    part.SetSize(size);
    part.Report(psGotFileSize);
    EXPECT_EQ(slot.FileSize(), size);
    EXPECT_EQ(slot.EndByte(), size > 0 ? size - 1 : 0) << size;
    EXPECT_EQ(part.EndByte(), 0);  // the part keeps its open end
  }
}

// The range follows the attached part downloader; the count never passes its end.
TEST_F(PartDownloadSlotTest, RangeAndTransferCountFollowThePart) {
  TPartDownloadSlot slot(&loop_);
  slot.SetCount(42);
  EXPECT_EQ(slot.TransferCount(), 42);  // no part downloader: the stored count
  FakePart& part = Attach(slot, 100, 199);
  slot.SetPartDownloaderStartByte(500);
  EXPECT_EQ(slot.StartByte(), 100);  // not while a part downloader is attached
  slot.SetPartDownloaderEndByte(299);
  EXPECT_EQ(part.EndByte(), 299);
  part.SetCount(250);
  EXPECT_EQ(slot.TransferCount(), 200);
  slot.SetPartDownloaderEndByte(0);
  EXPECT_EQ(slot.TransferCount(), 250);
}

TEST_F(PartDownloadSlotTest, AbortDeletesThePartFileWithOrWithoutPartDownloader) {
  TPartDownloadSlot slot(&loop_);
  slot.SetPartFileName(dir_.File("part.0"));
  test::WriteWholeFile(slot.PartFileName(), "abc");
  slot.Abort();
  EXPECT_FALSE(test::FileExists(slot.PartFileName()));

  FakePart& part = Attach(slot, 0, 9);
  Record(slot);
  slot.Start(&mirror_, 10000);
  slot.Abort();
  EXPECT_TRUE(part.Aborted());
  EXPECT_EQ(changes_, std::vector<TPartDownloaderState>{psAborted});
  EXPECT_FALSE(slot.UpdateTimer().Enabled());
}

TEST_F(PartDownloadSlotTest, ResizePartFileOnlyCuts) {
  struct Case {
    size_t held;
    int64_t partEnd;
    size_t after;
  };
  for (const Case& c : {Case{150, 99, 100}, {100, 99, 100}, {50, 99, 50}, {150, 0, 150}}) {
    TPartDownloadSlot slot(&loop_);
    Attach(slot, 0, 99).SetEndByte(c.partEnd);
    test::WriteWholeFile(slot.PartFileName(), std::string(c.held, 'y'));
    slot.ResizePartFile();
    EXPECT_EQ(test::ReadWholeFile(slot.PartFileName()).size(), c.after) << c.held << " " << c.partEnd;
  }
}

// Reported from the loop, never inside Start; without a mirror nothing happens.
TEST_F(PartDownloadSlotTest, UnsupportedSchemeFailsFromTheLoop) {
  for (const char* url : {"file://127.0.0.1/f.bin", "gopher://127.0.0.1/f.bin", "127.0.0.1/f.bin", ""}) {
    SCOPED_TRACE(url);
    TFileMirror mirror(url);
    TPartDownloadSlot slot(&loop_);
    slot.SetPartFileName(dir_.File("p.0"));
    changes_.clear();
    Record(slot);
    slot.Start(*url ? &mirror : nullptr, 10000);
    EXPECT_EQ(slot.PartDownloader(), nullptr);
    EXPECT_TRUE(changes_.empty());
    EXPECT_EQ(slot.Status().Text(), "Idle");
    loop_.RunOnce(0);
    if (!*url) break;
    ASSERT_EQ(changes_, std::vector<TPartDownloaderState>{psError});
    EXPECT_EQ(slot.Status().Text(), "Unsupported protocol: " + mirror.Url->Protocol);
    EXPECT_EQ(mirror.ErrorCode, 4);
    EXPECT_TRUE(slot.HadError());
    EXPECT_FALSE(slot.UpdateTimer().Enabled());
  }
  EXPECT_TRUE(changes_.empty());
}

TEST_F(PartDownloadSlotTest, SlotsCollection) {
  TPartDownloadSlots slots(&loop_);
  TPartDownloadSlot* a = slots.NewSlot();
  TPartDownloadSlot* b = slots.NewSlot();
  TPartDownloadSlot* c = slots.NewSlot();
  EXPECT_TRUE(slots.AllIdle() && slots.AllAborted() && slots.AllPaused());  // no part downloaders
  FakePart& pa = Attach(*a, 0, 99);
  FakePart& pc = Attach(*c, 200, 299);
  pa.SetState(psIdle);
  pc.SetState(psIdle);
  EXPECT_TRUE(slots.AllIdle());
  pc.SetState(psPaused);
  EXPECT_FALSE(slots.AllIdle() || slots.AllPaused());

  TFileMirror other("http://127.0.0.2/file.bin");
  a->SetMirror(&mirror_);
  b->SetMirror(&other);
  c->SetMirror(&mirror_);
  EXPECT_EQ(slots.NumberOfSlotsUsingFileMirror(&mirror_), 2);
  slots.RemovePartDownloader(&pc);
  EXPECT_EQ(c->PartDownloader(), nullptr);
  EXPECT_EQ(a->PartDownloader(), &pa);

  // A retired slot stops ticking and no longer counts for its mirror.
  b->UpdateTimer().SetEnabled(true);
  b->OnUpdate = [](TPartDownloadSlot&) {};
  slots.DeleteSlot(1);
  EXPECT_EQ(slots.NumberOfSlots(), 2);
  EXPECT_EQ(slots.NumberOfRetiredSlots(), 1);
  EXPECT_EQ(slots.GetSlot(1), c);
  EXPECT_FALSE(b->UpdateTimer().Enabled() || b->OnUpdate);
  EXPECT_EQ(slots.NumberOfSlotsUsingFileMirror(&other), 0);
}

TEST_F(PartDownloadSlotTest, AbortAllSurvivesHandlersThatRetireSlots) {
  TPartDownloadSlots slots(&loop_);
  std::vector<FakePart*> parts;
  for (int i = 0; i < 3; ++i) {
    TPartDownloadSlot* slot = slots.NewSlot();
    parts.push_back(&Attach(*slot, i * 100, i * 100 + 99));
    slot->Start(&mirror_, 10000);
    // The first abort report retires the last slot, as a take-over would.
    slot->OnChange = [&slots](TPartDownloadSlot&, TPartDownloaderState) {
      if (slots.NumberOfSlots() == 3) slots.DeleteSlot(2);
    };
  }
  slots.AbortAll();
  EXPECT_TRUE(parts[0]->Aborted() && parts[1]->Aborted());
  EXPECT_FALSE(parts[2]->Aborted());  // retired on the way
  EXPECT_TRUE(slots.AllAborted());
  EXPECT_EQ(slots.NumberOfSlots(), 2);
}

}  // namespace
}  // namespace brindle
