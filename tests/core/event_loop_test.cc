#include "core/event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/liveness_check.h"
#include "core/log_error.h"
#include "support/manual_clock.h"
#include "support/error_reports.h"

namespace brindle {
namespace {

using ::testing::ElementsAre;
using test::ManualClock;

// A non-blocking pipe whose read end is readable while it holds bytes.
struct Pipe {
  explicit Pipe(bool filled = false) {
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    if (filled) Fill();
  }
  Pipe(const Pipe&) = delete;
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
  void Fill() { ASSERT_EQ(write(fds[1], "x", 1), 1); }
  void Drain() {
    char buffer[256];
    while (read(fds[0], buffer, sizeof buffer) > 0) continue;
  }
  int fds[2] = {-1, -1};
};

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

// Heap-allocated by std::string, so reading a destroyed capture trips ASan.
const std::string kLongText = "a capture that lives on the heap, not in the small buffer";

class EventLoopTest : public ::testing::Test {
 protected:
  EventLoopTest() { clock.Attach(loop); }
  int64_t Elapsed() const { return clock.MonotonicMs() - start; }
  EventLoop::WatchId Watch(const Pipe& pipe, std::function<void(unsigned)> fn, const char* name = "watch") {
    return loop.AddWatch(pipe.fds[0], EventLoop::kReadable, std::move(fn), name);
  }

  ManualClock clock;
  EventLoop loop{clock};
  const int64_t start = clock.MonotonicMs();
};

TEST_F(EventLoopTest, TimersRunInDeadlineThenCreationOrderAndPeriodicSkipsMissedTicks) {
  std::vector<std::pair<std::string, int64_t>> fired;
  auto record = [&](std::string name) { return [&, name] { fired.emplace_back(name, Elapsed()); }; };
  const int64_t wall0 = clock.WallMs();
  loop.CallLater(300, record("c"), "c");
  loop.CallLater(100, record("a"), "a");
  loop.CallLater(-50, record("now"), "now");  // a negative delay means now
  // Created first, so its second tick goes before the others due at 200.
  loop.AddTimer(100, 100, record("periodic"), "periodic");
  for (int i = 0; i < 5; ++i) loop.CallLater(200, record("same" + std::to_string(i)), "same");
  loop.CallLater(1001, record("late"), "late");
  EXPECT_EQ(loop.NextTimerDeadline(), start);
  clock.Advance(150);
  loop.CallLater(50, record("later"), "later");  // the same deadline, created last
  clock.Advance(50);
  using P = std::pair<std::string, int64_t>;
  EXPECT_THAT(fired, ElementsAre(P("now", 0), P("a", 100), P("periodic", 100), P("periodic", 200), P("same0", 200),
                                 P("same1", 200), P("same2", 200), P("same3", 200), P("same4", 200),
                                 P("later", 200)));
  EXPECT_EQ(clock.WallMs() - wall0, 200);
  clock.Advance(800);
  EXPECT_EQ(fired.size(), 10u + 8u + 1u);  // periodic ticks 300..1000, and c
  EXPECT_EQ(loop.NextTimerDeadline(), start + 1001);

  // A late loop: the periodic timer re-arms from its deadline, once.
  fired.clear();
  clock.SetMonotonicMs(start + 1020);
  loop.RunOnce(0);  // "late"
  for (auto [at, next] : {std::pair{1130, 1200}, {1290, 1300}, {2050, 2100}}) {
    clock.SetMonotonicMs(start + at);
    EXPECT_TRUE(loop.RunOnce(0));
    EXPECT_FALSE(loop.RunOnce(0)) << "missed ticks run at " << at;
    EXPECT_EQ(loop.NextTimerDeadline(), start + next) << at;
  }
  EXPECT_EQ(fired.size(), 1u + 3u);
}

TEST_F(EventLoopTest, CancelInsideAPassStaleIdsAndCancelsFromTheMiddle) {
  std::vector<std::string> fired;
  EventLoop::TimerId a = 0, b = 0, once = 0;
  bool onceActive = true, periodicActive = false;
  a = loop.AddTimer(100, 100, [&, text = kLongText] {
    periodicActive = loop.TimerActive(a);
    loop.CancelTimer(a);
    loop.CancelTimer(b);
    fired.push_back("a:" + text.substr(0, 1));  // its own callback is still alive
  }, "a");
  b = loop.CallLater(100, [&] { fired.push_back("b"); }, "b");
  once = loop.CallLater(100, [&] { onceActive = loop.TimerActive(once); }, "once");
  clock.Advance(1000);
  EXPECT_THAT(fired, ElementsAre("a:a"));
  EXPECT_TRUE(periodicActive);
  EXPECT_FALSE(onceActive);
  EXPECT_FALSE(loop.TimerActive(a) || loop.TimerActive(b) || loop.NextTimerDeadline());

  // Cancelling releases the captures; a stale id (or 0) spares the slot's new timer.
  auto token = std::make_shared<int>(0);
  EventLoop::TimerId stale = loop.CallLater(100, [token] {}, "t");
  loop.CancelTimer(stale);
  EXPECT_EQ(token.use_count(), 1);
  int ran = 0;
  EXPECT_NE(stale, loop.CallLater(10, [&] { ++ran; }, "reused"));
  loop.CancelTimer(stale);
  loop.CancelTimer(0);
  clock.Advance(10);
  EXPECT_EQ(ran, 1);

  std::vector<EventLoop::TimerId> ids;  // removal from the middle of the heap
  std::vector<int> order;
  for (int i = 0; i < 200; ++i)
    ids.push_back(loop.CallLater(i * 37 % 101, [&order, i] { order.push_back(i * 37 % 101); }, "t"));
  for (size_t i = 0; i < ids.size(); i += 3) loop.CancelTimer(ids[i]);
  clock.Advance(200);
  EXPECT_EQ(order.size(), 200u - 67u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(EventLoopTest, WorkAddedByHandlersWaitsForTheEndOfThePassOrTheNext) {
  EXPECT_FALSE(loop.RunOnce(0));
  std::vector<std::string> order;
  loop.CallLater(10, [&] {
    order.push_back("a");
    loop.Post([&] { order.push_back("posted"); });
    loop.CallLater(0, [&] { order.push_back("timer"); }, "added");
  }, "a");
  loop.CallLater(10, [&] { order.push_back("b"); }, "b");
  loop.CallLater(60000, [] {}, "far");
  clock.SetMonotonicMs(start + 10);
  // With a manual clock RunOnce waits neither for due timers nor for later ones.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(loop.RunOnce(20000));
  EXPECT_THAT(order, ElementsAre("a", "b", "posted"));
  EXPECT_TRUE(loop.RunOnce(20000));
  EXPECT_THAT(order, ElementsAre("a", "b", "posted", "timer"));
  EXPECT_FALSE(loop.RunOnce(0));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

TEST_F(EventLoopTest, PostFromFourThreadsLosesNothingAndKeepsEachThreadsOrder) {
  constexpr int kThreads = 4, kPerThread = 5000;
  std::vector<std::pair<int, int>> seen;  // touched on the loop thread only
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) loop.Post([&seen, t, i] { seen.emplace_back(t, i); });
    });
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (seen.size() < size_t(kThreads * kPerThread) && std::chrono::steady_clock::now() < giveUp) loop.RunOnce(100);
  for (auto& thread : threads) thread.join();
  loop.RunOnce(0);
  ASSERT_EQ(seen.size(), size_t(kThreads * kPerThread));
  std::vector<int> next(kThreads, 0);
  for (auto [t, i] : seen) ASSERT_EQ(i, next[size_t(t)]++) << "thread " << t;
}

TEST_F(EventLoopTest, TasksPostedByTasksWaitForTheNextPassAndQuitEndsRun) {
  Pipe pipe(true);
  int reads = 0, tasks = 0;
  std::function<void()> again = [&] {
    if (++tasks < 5) loop.Post(again);
  };
  loop.Post(again);
  EventLoop::WatchId reader = Watch(pipe, [&](unsigned) { ++reads; });
  for (int pass = 1; pass <= 5; ++pass) {
    if (pass == 3) loop.RemoveWatch(reader);  // from now on only the chain keeps PollFd readable
    ASSERT_TRUE(Readable(loop.PollFd(), 0)) << pass;
    EXPECT_TRUE(loop.RunOnce(0));
    EXPECT_EQ(tasks, pass);
    EXPECT_EQ(reads, std::min(pass, 2));  // I/O is not starved by the chain
  }
  EXPECT_FALSE(Readable(loop.PollFd(), 0));

  std::thread quitter([&] {
    loop.Post([&] { ++tasks; });
    loop.Quit();
  });
  loop.Run();
  quitter.join();
  loop.RunOnce(0);
  EXPECT_EQ(tasks, 6);
  loop.Post([&] { loop.Quit(); });
  loop.Post([&] { ++tasks; });  // Quit from a handler lets the pass end first
  loop.Run();
  EXPECT_EQ(tasks, 7);
}

struct Connection {
  Connection(EventLoop& loop, const Pipe& pipe, bool* destroyed) : loop(loop), destroyed(destroyed) {
    watch = loop.AddWatch(pipe.fds[0], EventLoop::kReadable, [this](unsigned) {
      if (OnData) OnData();
      label += "!";  // still alive: the owner only handed it to DeleteLater
    }, "Connection");
  }
  ~Connection() {
    loop.RemoveWatch(watch);
    *destroyed = true;
  }

  EventLoop& loop;
  bool* destroyed;
  EventLoop::WatchId watch = 0;
  std::string label = kLongText;
  std::function<void()> OnData;
};

TEST_F(EventLoopTest, DeleteLaterRunsRightAfterTheHandlerOrOnTheNextPassWakingPollFd) {
  Pipe pipe, idle;
  bool destroyed = false, aliveDuringHandler = false;
  auto owned = std::make_unique<Connection>(loop, pipe, &destroyed);
  owned->OnData = [&] {
    loop.DeleteLater(std::move(owned));
    aliveDuringHandler = !destroyed;
  };
  pipe.Fill();
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(aliveDuringHandler);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(loop.RunOnce(0));  // the watch went with it

  // Deletion precedes the pass's next handler: the destructor cancels a timer due now.
  struct Worker {
    EventLoop& loop;
    EventLoop::TimerId timer = 0;
    ~Worker() { loop.CancelTimer(timer); }
  };
  int workerRan = 0;
  std::unique_ptr<Worker> worker(new Worker{loop});
  loop.CallLater(10, [&] { loop.DeleteLater(std::move(worker)); }, "owner");
  worker->timer = loop.CallLater(10, [&] { ++workerRan; }, "worker");
  clock.Advance(10);
  EXPECT_EQ(workerRan, 0);
  EXPECT_FALSE(worker);

  destroyed = false;
  loop.DeleteLater(std::make_unique<Connection>(loop, idle, &destroyed));
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(Readable(loop.PollFd(), 0));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
}

TEST(EventLoopLifetime, PendingObjectsAndCallbacksDieSafelyWithTheLoop) {
  ManualClock clock;
  bool first = false, second = false;
  Pipe pipe, other;
  auto loop = std::make_unique<EventLoop>(clock);
  loop->DeleteLater(std::make_unique<Connection>(*loop, pipe, &first));
  // Its destructor hands another object to DeleteLater while the loop dies.
  struct Chain {
    EventLoop& loop;
    std::unique_ptr<Connection> next;
    ~Chain() { loop.DeleteLater(std::move(next)); }
  };
  loop->DeleteLater(std::unique_ptr<Chain>(new Chain{*loop, std::make_unique<Connection>(*loop, other, &second)}));
  // Callbacks own an object whose destructor cancels a timer of the loop.
  struct CancelsOnDestruction {
    EventLoop& loop;
    EventLoop::TimerId other;
    ~CancelsOnDestruction() { loop.CancelTimer(other); }
  };
  std::shared_ptr<CancelsOnDestruction> owner(new CancelsOnDestruction{*loop, loop->CallLater(100, [] {}, "x")});
  loop->CallLater(100, [owner] {}, "owner");
  loop->Post([owner] {});
  owner.reset();
  EXPECT_FALSE(first);
  loop.reset();
  EXPECT_TRUE(first && second);
}

TEST_F(EventLoopTest, ThrowingHandlersAreReportedByNameAndTheLoopGoesOn) {
  test::ErrorReports errors;
  Pipe pipe(true);
  int reads = 0, ticks = 0, later = 0;
  Watch(pipe, [&](unsigned) { throw std::runtime_error(std::to_string(++reads)); }, "PipeReader");
  loop.AddTimer(10, 10, [&] { throw ++ticks; }, "Ticker");  // not even a std::exception
  struct Throws {
    ~Throws() noexcept(false) { throw std::runtime_error("dtor"); }
  };
  bool nested = true;
  loop.Post([] { throw std::logic_error("posted"); });
  loop.Post([&] { loop.DeleteLater(std::make_unique<Throws>()); });
  loop.Post([&] { nested = loop.RunOnce(0); });  // never re-entrant
  loop.Post([&] { ++later; });
  clock.SetMonotonicMs(start + 10);
  EXPECT_TRUE(loop.RunOnce(0));
  // Each with its routine and the exception's own text.
  EXPECT_THAT(errors.Lines(), ElementsAre("PipeReader: 1", "Ticker: unknown exception", "EventLoop::Post: posted",
                                  "EventLoop::DeleteLater: dtor", "EventLoop::RunOnce: called from inside a handler"));
  EXPECT_FALSE(nested);
  EXPECT_EQ(later, 1);
  clock.SetMonotonicMs(start + 20);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(reads, 2);  // the watch and the periodic timer survived
  EXPECT_EQ(ticks, 2);
}

// Two watches ready in one pass: the first to run spoils the other's reported readiness.
TEST_F(EventLoopTest, WatchSpoiledByAnEarlierCallbackOfThePassDoesNotFire) {
  enum Way { kRemoveAndReuseSlot, kDisable, kDeleteOwner };
  for (Way way : {kRemoveAndReuseSlot, kDisable, kDeleteOwner}) {
    SCOPED_TRACE(way);
    Pipe pipes[2] = {Pipe(true), Pipe(way != kDisable)}, third(true);
    if (way == kDisable) close(std::exchange(pipes[1].fds[1], -1));  // nor may a hangup get through
    std::vector<int> fired;
    EventLoop::WatchId extra = 0;
    bool destroyed[2] = {false, false};
    std::unique_ptr<Connection> owned[2];
    for (int i : {0, 1}) owned[i] = std::make_unique<Connection>(loop, pipes[i], &destroyed[i]);
    for (int i : {0, 1})
      owned[i]->OnData = [&, i, other = owned[1 - i]->watch] {
        pipes[i].Drain();
        fired.push_back(i);
        if (way == kDeleteOwner) loop.DeleteLater(std::move(owned[1 - i]));
        if (way == kDisable) loop.SetWatchEvents(other, 0);
        if (way != kRemoveAndReuseSlot) return;
        loop.RemoveWatch(other);
        extra = Watch(third, [&](unsigned) { fired.push_back(3); });
      };
    loop.RunOnce(0);
    ASSERT_EQ(fired.size(), 1u) << fired.back();
    EXPECT_EQ(loop.RunOnce(0), way == kRemoveAndReuseSlot);
    EXPECT_EQ(fired.back(), way == kRemoveAndReuseSlot ? 3 : fired.front());
    loop.RemoveWatch(extra);
  }
}

TEST_F(EventLoopTest, CallbackSurvivesGrowingTheWatchTableAndRemovingItsWatch) {
  Pipe pipe(true);
  auto token = std::make_shared<int>(0);
  std::vector<std::unique_ptr<Pipe>> pipes;
  std::string seen;
  int calls = 0;
  EventLoop::WatchId id = 0;
  id = Watch(pipe, [&, token, text = kLongText](unsigned) {
    if (++calls == 2) loop.RemoveWatch(id);
    for (int i = 0; calls == 1 && i < 100; ++i) {
      pipes.push_back(std::make_unique<Pipe>());
      Watch(*pipes.back(), [](unsigned) {});
    }
    seen = text;  // the captures are still alive
  });
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(loop.RunOnce(0));  // the callback was kept through the growth
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(seen, kLongText);
  EXPECT_EQ(token.use_count(), 1);  // released once it returned
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST_F(EventLoopTest, WatchEventsHangupTakeOverAndRefusedDescriptors) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  std::vector<unsigned> ready;
  EventLoop::WatchId id = loop.AddWatch(fds[0], EventLoop::kWritable, [&](unsigned r) { ready.push_back(r); }, "s");
  EXPECT_TRUE(loop.RunOnce(0));
  loop.SetWatchEvents(id, EventLoop::kReadable);
  EXPECT_FALSE(loop.RunOnce(0));
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(loop.RunOnce(0));
  loop.SetWatchEvents(id, EventLoop::kReadable | EventLoop::kWritable);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_THAT(ready, ElementsAre(EventLoop::kWritable, EventLoop::kReadable, 3u));  // 3: both
  // No events: not even the hangup is reported, nor does it wake the loop.
  loop.SetWatchEvents(id, 0);
  close(fds[1]);
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
  EXPECT_FALSE(loop.RunOnce(0));
  // A writer whose peer went away learns it through kReadable.
  loop.SetWatchEvents(id, EventLoop::kWritable);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(ready.back() & EventLoop::kReadable);

  // A second watch on the same fd takes it over; removing the old id spares it.
  int newFired = 0;
  loop.AddWatch(fds[0], EventLoop::kReadable, [&](unsigned) { ++newFired; }, "new");
  loop.RemoveWatch(id);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(ready.size(), 4u);

  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);  // epoll refuses it like a regular file
  ASSERT_GE(fd, 0);
  EXPECT_THROW(loop.AddWatch(fd, EventLoop::kReadable, [](unsigned) {}, "null"), std::system_error);
  close(fd);
  EXPECT_THROW(loop.AddWatch(-1, EventLoop::kReadable, [](unsigned) {}, "none"), std::invalid_argument);
  EXPECT_TRUE(loop.RunOnce(0));  // the loop is unharmed
  EXPECT_EQ(newFired, 2);
  close(fds[0]);
}

// The test build's watch over running downloads: asked after each pass
// that ran a handler, a stuck answer ends the process with its text.
TEST_F(EventLoopTest, LivenessCheckRunsAfterEachDispatchAndEndsAStuckProcess) {
  std::string state = "fine";
  int asked = 0;
  {
    TLivenessCheck check(loop, [&] {
      ++asked;
      return state == "fine" ? std::string() : state;
    });
    EXPECT_FALSE(loop.RunOnce(0));  // nothing ran: not asked
    loop.Post([] {});
    EXPECT_TRUE(loop.RunOnce(0));
    EXPECT_EQ(asked, 1);
    state = "f.bin stays \"Downloading\"";
    EXPECT_DEATH(
        {
          loop.Post([] {});
          loop.RunOnce(0);
        },
        "nothing pending will move this on: f.bin stays \"Downloading\"");
  }
  loop.Post([] {});
  loop.RunOnce(0);
  EXPECT_EQ(asked, 1);  // gone with the check
}

TEST(EventLoopSystemClock, PollFdBecomesReadableWhenATimerIsDue) {
  SystemClock system;
  EventLoop loop(system);
  int fired = 0;
  loop.CallLater(3600 * 1000, [] {}, "far");
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
  // Each timer adds the next with no delay, often within the millisecond the
  // timerfd just expired at: it must be armed again when the pass ends.
  std::function<void()> next = [&] {
    if (++fired < 20) loop.CallLater(0, next, "next");
  };
  loop.CallLater(0, next, "next");
  while (fired < 20) {
    ASSERT_TRUE(Readable(loop.PollFd(), 1000)) << "after " << fired;
    loop.RunOnce(0);
  }
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
}

TEST(EventLoopCurrent, TheInnermostLiveLoopOfTheThreadIsCurrent) {
  ManualClock clock;
  auto outer = std::make_unique<EventLoop>(clock);
  auto inner = std::make_unique<EventLoop>(clock);
  EventLoop* elsewhere = inner.get();
  std::thread([&] { elsewhere = EventLoop::Current(); }).join();
  EXPECT_EQ(elsewhere, nullptr);
  EXPECT_EQ(EventLoop::Current(), inner.get());
  inner.reset();
  EXPECT_EQ(EventLoop::Current(), outer.get());
}

}  // namespace
}  // namespace brindle
