#include "engine/ping_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/event_loop.h"
#include "engine/file_mirror.h"
#include "engine/mirror_list.h"
#include "engine/mirror_ping.h"
#include "net/name_resolver.h"
#include "net/socket_errors.h"
#include "support/fault_http_server.h"
#include "support/manual_clock.h"

namespace brindle {
namespace {

// The echo the workers call: each call waits until the test answers its
// host. Shared with the workers, which may outlive a test's objects.
class EchoGate {
 public:
  TPingFunction Function(const std::shared_ptr<EchoGate>& self) {
    return [self](const std::string& host, int timeOutMs, int ttl) { return self->Echo(host, timeOutMs, ttl); };
  }
  void Answer(const std::string& host, TPingOutcome outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[host] = outcome, changed_.notify_all();
  }
  // Every waiting and later call gets no reply.
  void ReleaseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    releaseAll_ = true, changed_.notify_all();
  }
  // Real time here is a safety net, not a time-out under test.
  bool WaitStarted(size_t n) { return WaitFor([&] { return started_.size() >= n; }); }
  bool WaitAllReturned() { return WaitFor([&] { return returned_ == started_.size(); }); }
  bool WaitReturned(size_t n) { return WaitFor([&] { return returned_ >= n; }); }
  std::vector<std::string> Started(bool sorted = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto started = started_;
    if (sorted) std::sort(started.begin(), started.end());
    return started;
  }
  std::pair<int, int> FirstSettings() {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_.front();
  }

 private:
  TPingOutcome Echo(const std::string& host, int timeOutMs, int ttl) {
    std::unique_lock<std::mutex> lock(mutex_);
    started_.push_back(host);
    settings_.emplace_back(timeOutMs, ttl);
    changed_.notify_all();
    changed_.wait(lock, [&] { return releaseAll_ || answers_.count(host) > 0; });
    ++returned_;
    changed_.notify_all();
    return answers_.count(host) ? answers_[host] : TPingOutcome{};
  }
  template <class Pred>
  bool WaitFor(Pred pred) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), pred);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, TPingOutcome> answers_;
  std::vector<std::string> started_;
  std::vector<std::pair<int, int>> settings_;
  size_t returned_ = 0;
  bool releaseAll_ = false;
};

class PingSystemTest : public ::testing::Test {
 protected:
  PingSystemTest() { clock_.Attach(loop_); }
  ~PingSystemTest() override {
    // No worker is left waiting when the test ends.
    gate_->ReleaseAll();
    EXPECT_TRUE(gate_->WaitAllReturned());
    clock_.Detach();
  }

  TFileMirror* Mirror(const std::string& host) {
    mirrors_.push_back(std::make_unique<TFileMirror>("http://" + host + "/file.zip"));
    return mirrors_.back().get();
  }
  std::unique_ptr<TPingSystem> MakeSystem(int maxSimPings) {
    auto system = std::make_unique<TPingSystem>(maxSimPings, &loop_, gate_->Function(gate_));
    system->OnPingedMirror = [this](TFileMirror& m) { reported_.push_back(m.Url->Host); };
    return system;
  }
  bool WaitReported(size_t n) { return test::RunUntil(loop_, [&] { return reported_.size() >= n; }); }
  void Settle() {
    for (int i = 0; i < 10; ++i) loop_.RunOnce(5);
  }

  test::ManualClock clock_;
  EventLoop loop_{clock_};
  std::shared_ptr<EchoGate> gate_ = std::make_shared<EchoGate>();
  std::vector<std::unique_ptr<TFileMirror>> mirrors_;
  std::vector<std::string> reported_;
};

TEST_F(PingSystemTest, PingTimeFromTheOutcome) {
  struct Case {
    TPingOutcome outcome;
    int pingTime;
  };
  for (const Case& c : {Case{{1, 37}, 37}, {{1, 0}, 5}, {{1, 1000}, 1000}, {{1, 1001}, 9999}, {{0, 50}, 9999}}) {
    TFileMirror* mirror = Mirror("127.0.0.1");
    mirror->PingTime = 120;  // measured before: a failed ping forgets it
    const auto outcome = c.outcome;
    int replies = -1;
    TMirrorPing ping(mirror, loop_, [outcome](const std::string&, int, int) { return outcome; });
    ping.OnPingReply = [&](TMirrorPing& p) { replies = p.Replies(); };
    ASSERT_TRUE(test::RunUntil(loop_, [&] { return replies >= 0; }));
    EXPECT_EQ(mirror->PingTime, c.pingTime) << c.outcome.Replies << " " << c.outcome.RoundTripMs;
    EXPECT_EQ(replies, c.outcome.Replies);
  }
}

TEST_F(PingSystemTest, TwentyMirrorsEightPlacesInOrder) {
  auto system = MakeSystem(8);
  TMirrorList list;
  for (int i = 0; i < 20; ++i) list.Add(Mirror("m" + std::to_string(i)));
  system->AddMirrors(list);
  ASSERT_TRUE(gate_->WaitStarted(8));
  EXPECT_EQ(system->RunningPings(), 8);
  EXPECT_EQ(system->Queue().Count(), 20);
  EXPECT_EQ(gate_->Started(true), (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4", "m5", "m6", "m7"}));
  EXPECT_EQ(gate_->FirstSettings(), (std::pair<int, int>{1000, 255}));

  // Each answer, in whatever order, starts the next queued mirror.
  const std::vector<std::string> order = {"m3", "m0", "m7", "m1"};
  for (size_t i = 0; i < order.size(); ++i) {
    gate_->Answer(order[i], {1, 10 + static_cast<int64_t>(i)});
    ASSERT_TRUE(WaitReported(i + 1));
    ASSERT_TRUE(gate_->WaitStarted(9 + i));
    EXPECT_EQ(gate_->Started().back(), "m" + std::to_string(8 + i));
    EXPECT_EQ(system->RunningPings(), 8);
  }
  EXPECT_EQ(reported_, order);
  EXPECT_EQ(system->Queue().Count(), 16);
  EXPECT_EQ(mirrors_[3]->PingTime, 10);
  EXPECT_EQ(mirrors_[1]->PingTime, 13);
  EXPECT_EQ(mirrors_[2]->PingTime, 9999);  // still being pinged
}

TEST_F(PingSystemTest, MirrorsAddedByTheHandlerStartInQueueOrder) {
  auto system = MakeSystem(3);
  system->AddMirror(Mirror("a"));
  system->AddMirror(Mirror("b"));
  TFileMirror* c = Mirror("c");
  TFileMirror* d = Mirror("d");
  system->OnPingedMirror = [&](TFileMirror& m) {
    reported_.push_back(m.Url->Host);
    system->AddMirror(c);
    system->AddMirror(d);
  };
  gate_->Answer("a", {1, 20});
  ASSERT_TRUE(WaitReported(1));
  ASSERT_TRUE(gate_->WaitStarted(4));
  EXPECT_EQ(gate_->Started(true), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(system->RunningPings(), 3);
}

TEST_F(PingSystemTest, UnresolvableHostReleasesItsPlace) {
  struct NoNames final : TNameResolver {
    int Resolve(const std::string&, std::vector<std::string>&) override { return kSocketErrHostNotFound; }
  };
  SetNameResolver(std::make_shared<NoNames>());
  {
    // The system's echo: the lookup fails, so nothing is ever sent.
    TPingSystem system(1, &loop_);
    system.OnPingedMirror = [this](TFileMirror& m) { reported_.push_back(m.Url->Host); };
    system.AddMirror(Mirror("nowhere.test"));
    system.AddMirror(Mirror("nothing.test"));
    ASSERT_TRUE(WaitReported(2));
    EXPECT_EQ(reported_, (std::vector<std::string>{"nowhere.test", "nothing.test"}));
    EXPECT_EQ(mirrors_[0]->PingTime, 9999);
    EXPECT_EQ(system.RunningPings(), 0);
    EXPECT_EQ(system.Queue().Count(), 0);
  }
  SetNameResolver(nullptr);
}

TEST_F(PingSystemTest, RemovedMirrorIsNeverWrittenAndFreesItsPlace) {
  auto system = MakeSystem(2);
  for (const char* host : {"a", "b", "c", "d"}) system->AddMirror(Mirror(host));
  ASSERT_TRUE(gate_->WaitStarted(2));
  system->RemoveMirror(mirrors_[2].get());  // queued
  system->RemoveMirror(mirrors_[0].get());  // being pinged
  mirrors_[0].reset();
  mirrors_[2].reset();
  ASSERT_TRUE(gate_->WaitStarted(3));
  EXPECT_EQ(gate_->Started().back(), "d");
  EXPECT_EQ(gate_->Started().size(), 3u);
  EXPECT_EQ(system->Queue().Count(), 2);
  gate_->Answer("a", {1, 5});
  gate_->Answer("b", {1, 6});
  ASSERT_TRUE(WaitReported(1));
  ASSERT_TRUE(gate_->WaitReturned(2));
  Settle();
  EXPECT_EQ(reported_, std::vector<std::string>{"b"});
}

// A handler lets the ping system go through DeleteLater; the pings still
// running report nothing afterwards.
TEST_F(PingSystemTest, HandlerMayLetThePingSystemGo) {
  auto system = MakeSystem(4);
  for (int i = 0; i < 6; ++i) system->AddMirror(Mirror("m" + std::to_string(i)));
  system->OnPingedMirror = [&](TFileMirror& m) {
    reported_.push_back(m.Url->Host);
    loop_.DeleteLater(std::move(system));
  };
  ASSERT_TRUE(gate_->WaitStarted(4));
  gate_->Answer("m0", {1, 20});
  ASSERT_TRUE(WaitReported(1));
  for (const char* host : {"m1", "m2", "m3"}) gate_->Answer(host, {host[1] == '1' ? 0 : 1, 5});
  ASSERT_TRUE(gate_->WaitReturned(4));
  Settle();
  EXPECT_EQ(reported_, std::vector<std::string>{"m0"});
}

}  // namespace
}  // namespace brindle
