#include "core/event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/log_error.h"
#include "support/manual_clock.h"
#include "support/temp_dir.h"

namespace brindle {
namespace {

using ::testing::ElementsAre;
using test::ManualClock;

// Collects LogError reports for the life of the object.
class ErrorLog {
 public:
  ErrorLog() {
    SetErrorLogSink([this](std::string_view routine) {
      std::lock_guard<std::mutex> lock(mutex_);
      names_.emplace_back(routine);
    });
  }
  ~ErrorLog() { SetErrorLogSink({}); }
  std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> names_;
};

// A non-blocking pipe; Fill() makes the read end readable.
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  int ReadEnd() const { return fds_[0]; }
  int WriteEnd() const { return fds_[1]; }
  void Fill() { ASSERT_EQ(write(fds_[1], "x", 1), 1); }
  void Drain() {
    char buffer[256];
    while (read(fds_[0], buffer, sizeof buffer) > 0) {
    }
  }
  void CloseRead() {
    if (fds_[0] >= 0) close(fds_[0]);
    fds_[0] = -1;
  }
  void CloseWrite() {
    if (fds_[1] >= 0) close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

// Long enough that std::string keeps it on the heap, so reading a destroyed
// capture is seen by AddressSanitizer.
const std::string kLongText = "a capture that lives on the heap, not in the small buffer";

class EventLoopTest : public ::testing::Test {
 protected:
  EventLoopTest() { clock.Attach(loop); }
  int64_t Elapsed() const { return clock.MonotonicMs() - start; }

  ManualClock clock;
  EventLoop loop{clock};
  const int64_t start = clock.MonotonicMs();
};

// ---- Timers ----

TEST_F(EventLoopTest, TimersRunInDeadlineOrderEachSeeingItsOwnDeadline) {
  std::vector<std::pair<std::string, int64_t>> fired;
  const int64_t wall0 = clock.WallMs();
  std::vector<int64_t> walls;
  auto record = [&](const char* name) {
    return [&, name] {
      fired.emplace_back(name, Elapsed());
      walls.push_back(clock.WallMs() - wall0);
    };
  };
  loop.CallLater(300, record("c"), "c");
  loop.CallLater(100, record("a"), "a");
  loop.CallLater(200, record("b"), "b");
  loop.CallLater(1001, record("late"), "late");
  clock.Advance(1000);
  EXPECT_THAT(fired, ElementsAre(std::pair<std::string, int64_t>("a", 100), std::pair<std::string, int64_t>("b", 200),
                                 std::pair<std::string, int64_t>("c", 300)));
  EXPECT_THAT(walls, ElementsAre(100, 200, 300));
  EXPECT_EQ(Elapsed(), 1000);
  EXPECT_EQ(loop.NextTimerDeadline(), start + 1001);
}

TEST_F(EventLoopTest, EqualDeadlinesRunInCreationOrder) {
  std::vector<int> order;
  // A periodic timer whose second tick lands on the shared deadline; it was
  // created first, so it goes first there too.
  loop.AddTimer(50, 50, [&] { order.push_back(Elapsed() == 100 ? -1 : -2); }, "periodic");
  for (int i = 0; i < 20; ++i) loop.CallLater(100, [&order, i] { order.push_back(i); }, "same");
  clock.Advance(40);
  // Created later with the same deadline: after all the others.
  loop.CallLater(60, [&] { order.push_back(100); }, "later");
  clock.Advance(60);
  std::vector<int> expected{-2, -1};
  for (int i = 0; i < 20; ++i) expected.push_back(i);
  expected.push_back(100);
  EXPECT_EQ(order, expected);
}

TEST_F(EventLoopTest, TimerCancelsItselfAndAnotherDueTimerInTheSamePass) {
  std::vector<std::string> fired;
  EventLoop::TimerId a = 0, b = 0;
  a = loop.AddTimer(100, 100,
                    [&, text = kLongText] {
                      loop.CancelTimer(a);
                      loop.CancelTimer(b);
                      // Its own callback must still be alive here.
                      fired.push_back("a:" + text.substr(0, 1));
                    },
                    "a");
  b = loop.CallLater(100, [&] { fired.push_back("b"); }, "b");
  loop.CallLater(100, [&] { fired.push_back("c"); }, "c");
  clock.Advance(100);
  EXPECT_THAT(fired, ElementsAre("a:a", "c"));
  EXPECT_FALSE(loop.TimerActive(a));
  EXPECT_FALSE(loop.TimerActive(b));
  clock.Advance(1000);
  EXPECT_EQ(fired.size(), 2u);
  EXPECT_FALSE(loop.NextTimerDeadline());
}

TEST_F(EventLoopTest, CancelledTimerReleasesItsCallback) {
  auto token = std::make_shared<int>(0);
  EventLoop::TimerId id = loop.CallLater(100, [token] {}, "t");
  EXPECT_EQ(token.use_count(), 2);
  loop.CancelTimer(id);
  EXPECT_EQ(token.use_count(), 1);
  loop.CancelTimer(id);  // stale: nothing
  loop.CancelTimer(0);
}

TEST_F(EventLoopTest, StaleTimerIdDoesNotCancelTheTimerThatReusedItsSlot) {
  int fired = 0;
  EventLoop::TimerId first = loop.CallLater(10, [] {}, "first");
  clock.Advance(10);
  EXPECT_FALSE(loop.TimerActive(first));
  EventLoop::TimerId second = loop.CallLater(10, [&] { ++fired; }, "second");
  EXPECT_NE(first, second);
  loop.CancelTimer(first);
  EXPECT_TRUE(loop.TimerActive(second));
  clock.Advance(10);
  EXPECT_EQ(fired, 1);
}

TEST_F(EventLoopTest, OneShotIsInactiveInItsCallbackPeriodicIsActive) {
  EventLoop::TimerId once = 0, periodic = 0;
  bool onceActive = true, periodicActive = false;
  once = loop.CallLater(10, [&] { onceActive = loop.TimerActive(once); }, "once");
  periodic = loop.AddTimer(10, 10, [&] { periodicActive = loop.TimerActive(periodic); }, "periodic");
  clock.Advance(10);
  EXPECT_FALSE(onceActive);
  EXPECT_TRUE(periodicActive);
  EXPECT_TRUE(loop.TimerActive(periodic));
}

TEST_F(EventLoopTest, TimerAddedWhileTimersRunWaitsForTheNextPass) {
  std::vector<std::string> fired;
  loop.CallLater(10,
                 [&] {
                   fired.push_back("first");
                   loop.CallLater(0, [&] { fired.push_back("added"); }, "added");
                 },
                 "first");
  clock.SetMonotonicMs(start + 10);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_THAT(fired, ElementsAre("first"));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_THAT(fired, ElementsAre("first", "added"));
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST_F(EventLoopTest, OneShotTimerReArmsFromItsCallback) {
  std::vector<int64_t> times;
  std::function<void()> tick = [&] {
    times.push_back(Elapsed());
    if (times.size() < 4) loop.CallLater(100, tick, "tick");
  };
  loop.CallLater(100, tick, "tick");
  clock.Advance(1000);
  EXPECT_THAT(times, ElementsAre(100, 200, 300, 400));
}

TEST_F(EventLoopTest, PeriodicTimerFiresOncePerPeriodOverAdvance) {
  std::vector<int64_t> times;
  loop.AddTimer(100, 100, [&] { times.push_back(Elapsed()); }, "periodic");
  clock.Advance(1000);
  EXPECT_THAT(times, ElementsAre(100, 200, 300, 400, 500, 600, 700, 800, 900, 1000));
}

TEST_F(EventLoopTest, PeriodicTimerReArmsFromItsDeadlineNotFromWhenItRan) {
  int fired = 0;
  loop.AddTimer(100, 100, [&] { ++fired; }, "periodic");
  clock.SetMonotonicMs(start + 130);  // the loop is 30 ms late
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(loop.NextTimerDeadline(), start + 200);
  clock.SetMonotonicMs(start + 290);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(fired, 2);
  EXPECT_EQ(loop.NextTimerDeadline(), start + 300);
}

TEST_F(EventLoopTest, PeriodicTimerSkipsMissedTicksAfterALongJump) {
  std::vector<int64_t> times;
  loop.AddTimer(100, 100, [&] { times.push_back(Elapsed()); }, "periodic");
  clock.SetMonotonicMs(start + 1050);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_FALSE(loop.RunOnce(0));
  EXPECT_THAT(times, ElementsAre(1050));
  EXPECT_EQ(loop.NextTimerDeadline(), start + 1100);
  // Late by exactly whole periods: the next deadline must still be ahead.
  clock.SetMonotonicMs(start + 1300);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_FALSE(loop.RunOnce(0));
  EXPECT_EQ(times.size(), 2u);
  EXPECT_EQ(loop.NextTimerDeadline(), start + 1400);
}

TEST_F(EventLoopTest, NegativeDelayMeansNow) {
  int fired = 0;
  loop.CallLater(-50, [&] { ++fired; }, "t");
  EXPECT_EQ(loop.NextTimerDeadline(), start);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(fired, 1);
}

TEST_F(EventLoopTest, ManyTimersCancelledInRandomOrderKeepTheRestOrdered) {
  // Exercises removal from the middle of the timer heap.
  std::vector<EventLoop::TimerId> ids;
  std::vector<int> fired;
  for (int i = 0; i < 200; ++i) {
    int delay = (i * 37) % 101;
    ids.push_back(loop.CallLater(delay, [&fired, delay] { fired.push_back(delay); }, "t"));
  }
  for (int i = 0; i < 200; i += 3) loop.CancelTimer(ids[size_t(i)]);
  clock.Advance(200);
  EXPECT_EQ(fired.size(), 200u - 67u);
  EXPECT_TRUE(std::is_sorted(fired.begin(), fired.end()));
}

TEST_F(EventLoopTest, RunOnceWithManualClockDoesNotWaitForTimeToPass) {
  int fired = 0;
  loop.CallLater(0, [&] { ++fired; }, "due");
  loop.CallLater(60000, [&] { ++fired; }, "later");
  auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(loop.RunOnce(20000));  // the due timer: no waiting at all
  EXPECT_FALSE(loop.RunOnce(0));     // the later one is not waited for
  auto spent = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(fired, 1);
  EXPECT_LT(spent, std::chrono::seconds(5));
}

// ---- Posted tasks ----

TEST_F(EventLoopTest, PostFromFourThreadsLosesNothingAndKeepsEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 5000;
  std::vector<std::pair<int, int>> seen;  // touched on the loop thread only
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) loop.Post([&seen, t, i] { seen.emplace_back(t, i); });
    });
  }
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (seen.size() < size_t(kThreads * kPerThread) && std::chrono::steady_clock::now() < giveUp) loop.RunOnce(100);
  for (auto& thread : threads) thread.join();
  loop.RunOnce(0);
  ASSERT_EQ(seen.size(), size_t(kThreads * kPerThread));
  std::vector<int> next(kThreads, 0);
  for (auto [t, i] : seen) {
    ASSERT_EQ(i, next[size_t(t)]) << "thread " << t;
    ++next[size_t(t)];
  }
}

TEST_F(EventLoopTest, PostedTasksRunAfterTheHandlersOfThePass) {
  std::vector<std::string> order;
  loop.CallLater(10,
                 [&] {
                   loop.Post([&] { order.push_back("posted"); });
                   order.push_back("a");
                 },
                 "a");
  loop.CallLater(10, [&] { order.push_back("b"); }, "b");
  clock.SetMonotonicMs(start + 10);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_THAT(order, ElementsAre("a", "b", "posted"));
}

TEST_F(EventLoopTest, TasksPostedByTasksWaitForTheNextPassSoIoIsNotStarved) {
  Pipe pipe;
  pipe.Fill();
  int reads = 0;
  loop.AddWatch(pipe.ReadEnd(), EventLoop::kReadable, [&](unsigned) { ++reads; }, "reader");
  int tasks = 0;
  std::function<void()> again = [&] {
    ++tasks;
    loop.Post(again);
  };
  loop.Post(again);
  for (int pass = 1; pass <= 5; ++pass) {
    EXPECT_TRUE(loop.RunOnce(0));
    EXPECT_EQ(tasks, pass);
    EXPECT_EQ(reads, pass);
  }
}

TEST_F(EventLoopTest, RunOnceReportsWhetherAnythingRan) {
  EXPECT_FALSE(loop.RunOnce(0));
  loop.Post([] {});
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST_F(EventLoopTest, QuitFromAnotherThreadEndsRun) {
  int ran = 0;
  std::thread other([&] {
    loop.Post([&] { ++ran; });
    loop.Quit();
  });
  loop.Run();
  other.join();
  loop.RunOnce(0);
  EXPECT_EQ(ran, 1);
}

TEST_F(EventLoopTest, QuitFromAHandlerEndsRunAfterThePass) {
  std::vector<std::string> order;
  loop.Post([&] {
    order.push_back("quit");
    loop.Quit();
  });
  loop.Post([&] { order.push_back("same pass"); });
  loop.Run();
  EXPECT_THAT(order, ElementsAre("quit", "same pass"));
}

TEST_F(EventLoopTest, NestedDispatchIsRefusedAndReported) {
  ErrorLog log;
  bool nested = true;
  loop.Post([&] { nested = loop.RunOnce(0); });
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_FALSE(nested);
  EXPECT_THAT(log.Names(), ElementsAre("EventLoop::RunOnce"));
}

// ---- Deferred deletion ----

struct Connection {
  Connection(EventLoop& loop, int fd, bool* destroyed) : loop(loop), destroyed(destroyed) {
    watch = loop.AddWatch(fd, EventLoop::kReadable, [this](unsigned) { OnReadable(); }, "Connection");
  }
  ~Connection() {
    loop.RemoveWatch(watch);
    *destroyed = true;
  }
  void OnReadable() {
    ++reads;
    if (OnData) OnData();
    // Still alive after the event: the owner only handed it to DeleteLater.
    label += "!";
  }

  EventLoop& loop;
  bool* destroyed;
  EventLoop::WatchId watch = 0;
  int reads = 0;
  std::string label = kLongText;
  std::function<void()> OnData;
};

TEST_F(EventLoopTest, DeleteLaterFromInsideTheObjectsOwnCallback) {
  Pipe pipe;
  bool destroyed = false;
  auto owned = std::make_unique<Connection>(loop, pipe.ReadEnd(), &destroyed);
  Connection* raw = owned.get();
  bool aliveDuringHandler = false;
  raw->OnData = [&] {
    loop.DeleteLater(std::move(owned));
    aliveDuringHandler = !destroyed;
  };
  pipe.Fill();
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(aliveDuringHandler);
  EXPECT_TRUE(destroyed);
  // The watch went with it.
  pipe.Fill();
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST_F(EventLoopTest, DeletionRunsBeforeTheNextHandlerOfThePass) {
  // The object's destructor cancels its own timer, which is due in the same
  // pass: once destroyed, nothing of it may run.
  struct Worker {
    Worker(EventLoop& loop, EventLoop::TimerId timer) : loop(loop), timer(timer) {}
    EventLoop& loop;
    EventLoop::TimerId timer;
    ~Worker() { loop.CancelTimer(timer); }
  };
  int workerRan = 0;
  auto worker = std::make_unique<Worker>(loop, 0);
  loop.CallLater(10, [&] { loop.DeleteLater(std::move(worker)); }, "owner");
  worker->timer = loop.CallLater(10, [&] { ++workerRan; }, "worker");
  clock.Advance(10);
  EXPECT_EQ(workerRan, 0);
  EXPECT_FALSE(worker);
}

TEST_F(EventLoopTest, ObjectDeletedByAnotherWatchOfThePassDoesNotFire) {
  // Two connections, both readable; whichever runs first has its owner
  // delete the other, whose readiness was already reported in this pass.
  Pipe pipes[2];
  bool destroyed[2] = {false, false};
  std::unique_ptr<Connection> owned[2];
  int handled = 0;
  for (int i = 0; i < 2; ++i) {
    owned[i] = std::make_unique<Connection>(loop, pipes[i].ReadEnd(), &destroyed[i]);
    owned[i]->OnData = [&, other = 1 - i] {
      ++handled;
      loop.DeleteLater(std::move(owned[other]));
    };
    pipes[i].Fill();
  }
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(handled, 1);
  EXPECT_NE(destroyed[0], destroyed[1]);
}

TEST_F(EventLoopTest, DeleteLaterOutsideAHandlerRunsOnTheNextPassAndWakesPollFd) {
  bool destroyed = false;
  Pipe pipe;
  loop.DeleteLater(std::make_unique<Connection>(loop, pipe.ReadEnd(), &destroyed));
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(Readable(loop.PollFd(), 0));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
}

TEST(EventLoopLifetime, ObjectsPendingDeletionAreDestroyedWithTheLoop) {
  ManualClock clock;
  bool first = false, second = false;
  Pipe pipe, other;
  {
    EventLoop loop(clock);
    loop.DeleteLater(std::make_unique<Connection>(loop, pipe.ReadEnd(), &first));
    // Its destructor hands another object to DeleteLater while the loop dies.
    struct Chain {
      Chain(EventLoop& loop, std::unique_ptr<Connection> next) : loop(loop), next(std::move(next)) {}
      EventLoop& loop;
      std::unique_ptr<Connection> next;
      ~Chain() { loop.DeleteLater(std::move(next)); }
    };
    loop.DeleteLater(
        std::make_unique<Chain>(loop, std::make_unique<Connection>(loop, other.ReadEnd(), &second)));
    EXPECT_FALSE(first);
  }
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
}

TEST(EventLoopLifetime, CallbacksThatOwnObjectsUsingTheLoopDieSafelyWithIt) {
  ManualClock clock;
  auto loop = std::make_unique<EventLoop>(clock);
  struct CancelsOnDestruction {
    CancelsOnDestruction(EventLoop& loop, EventLoop::TimerId other) : loop(loop), other(other) {}
    EventLoop& loop;
    EventLoop::TimerId other;
    ~CancelsOnDestruction() { loop.CancelTimer(other); }
  };
  EventLoop::TimerId other = loop->CallLater(100, [] {}, "other");
  auto owner = std::make_shared<CancelsOnDestruction>(*loop, other);
  loop->CallLater(100, [owner] {}, "owner");
  loop->Post([owner] {});
  owner.reset();
  loop.reset();  // clean under ASan
}

// ---- Errors ----

TEST_F(EventLoopTest, ThrowingHandlersAreReportedByNameAndTheLoopGoesOn) {
  ErrorLog log;
  Pipe pipe;
  pipe.Fill();
  int reads = 0, ticks = 0, later = 0;
  loop.AddWatch(
      pipe.ReadEnd(), EventLoop::kReadable,
      [&](unsigned) {
        ++reads;
        throw std::runtime_error("read failed");
      },
      "PipeReader");
  loop.AddTimer(10, 10,
                [&] {
                  ++ticks;
                  throw 42;  // not even a std::exception
                },
                "Ticker");
  loop.Post([] { throw std::logic_error("posted"); });
  loop.Post([&] { ++later; });
  clock.SetMonotonicMs(start + 10);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_THAT(log.Names(), ElementsAre("PipeReader", "Ticker", "EventLoop::Post"));
  EXPECT_EQ(later, 1);
  // Everything still works: the watch and the periodic timer fire again.
  clock.SetMonotonicMs(start + 20);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(ticks, 2);
}

TEST_F(EventLoopTest, ThrowingDestructorOfADeletedObjectIsReported) {
  ErrorLog log;
  struct Throws {
    ~Throws() noexcept(false) { throw std::runtime_error("dtor"); }
  };
  loop.Post([&] { loop.DeleteLater(std::make_unique<Throws>()); });
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_THAT(log.Names(), ElementsAre("EventLoop::DeleteLater"));
}

// ---- Watches ----

TEST_F(EventLoopTest, WatchRemovedByAnEarlierCallbackOfThePassDoesNotFire) {
  Pipe first, second;
  first.Fill();
  second.Fill();
  std::vector<std::string> fired;
  EventLoop::WatchId a = 0, b = 0;
  a = loop.AddWatch(first.ReadEnd(), EventLoop::kReadable,
                    [&](unsigned) {
                      fired.push_back("a");
                      loop.RemoveWatch(b);
                    },
                    "a");
  b = loop.AddWatch(second.ReadEnd(), EventLoop::kReadable,
                    [&](unsigned) {
                      fired.push_back("b");
                      loop.RemoveWatch(a);
                    },
                    "b");
  EXPECT_TRUE(loop.RunOnce(0));
  ASSERT_EQ(fired.size(), 1u);  // both were ready; whichever ran first removed the other
  loop.RunOnce(0);
  EXPECT_EQ(fired.size(), 2u);  // the survivor is level-triggered
}

TEST_F(EventLoopTest, StaleReadinessDoesNotReachAWatchThatReusedTheSlot) {
  // The earlier callback removes the other ready watch and adds a new one
  // (which reuses the freed slot): the readiness the kernel reported for the
  // removed watch must not be delivered to the new one.
  Pipe first, second, third;
  first.Fill();
  second.Fill();
  third.Fill();
  std::vector<std::string> fired;
  EventLoop::WatchId ids[2] = {0, 0};
  auto make = [&](int which, Pipe& own) {
    ids[which] = loop.AddWatch(
        own.ReadEnd(), EventLoop::kReadable,
        [&, which](unsigned) {
          own.Drain();
          fired.push_back(which == 0 ? "first" : "second");
          loop.RemoveWatch(ids[1 - which]);
          ids[1 - which] = 0;
          loop.AddWatch(third.ReadEnd(), EventLoop::kReadable, [&](unsigned) { fired.push_back("third"); }, "third");
        },
        which == 0 ? "first" : "second");
  };
  make(0, first);
  make(1, second);
  loop.RunOnce(0);
  ASSERT_EQ(fired.size(), 1u) << fired.back();
  loop.RunOnce(0);
  EXPECT_EQ(fired.back(), "third");
}

TEST_F(EventLoopTest, WatchDisabledByAnEarlierCallbackOfThePassDoesNotFire) {
  Pipe first, second;
  first.Fill();
  second.CloseWrite();  // a hangup: must not get through either
  int fired = 0;
  EventLoop::WatchId a = 0, b = 0;
  a = loop.AddWatch(first.ReadEnd(), EventLoop::kReadable,
                    [&](unsigned) {
                      ++fired;
                      first.Drain();
                      loop.SetWatchEvents(b, 0);
                    },
                    "a");
  b = loop.AddWatch(second.ReadEnd(), EventLoop::kReadable,
                    [&](unsigned) {
                      ++fired;
                      second.Drain();
                      loop.SetWatchEvents(a, 0);
                    },
                    "b");
  loop.RunOnce(0);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST_F(EventLoopTest, WatchRemovedInsideItsOwnCallbackIsReleasedSafely) {
  Pipe pipe;
  pipe.Fill();
  auto token = std::make_shared<int>(0);
  std::string seen;
  EventLoop::WatchId id = 0;
  id = loop.AddWatch(pipe.ReadEnd(), EventLoop::kReadable,
                     [&, token, text = kLongText](unsigned) {
                       loop.RemoveWatch(id);
                       seen = text;  // the capture is still alive
                     },
                     "self");
  EXPECT_EQ(token.use_count(), 2);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(seen, kLongText);
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST_F(EventLoopTest, ManyWatchesAddedFromACallbackDoNotDisturbIt) {
  // Adding watches grows the watch table while a callback runs.
  Pipe pipe;
  pipe.Fill();
  std::vector<std::unique_ptr<Pipe>> pipes;
  std::string seen;
  loop.AddWatch(pipe.ReadEnd(), EventLoop::kReadable,
                [&, text = kLongText](unsigned) {
                  for (int i = 0; i < 100; ++i) {
                    pipes.push_back(std::make_unique<Pipe>());
                    loop.AddWatch(pipes.back()->ReadEnd(), EventLoop::kReadable, [](unsigned) {}, "extra");
                  }
                  seen = text;
                  pipe.Drain();
                },
                "grower");
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(seen, kLongText);
}

TEST_F(EventLoopTest, WatchEventsCanBeChanged) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  std::vector<unsigned> ready;
  EventLoop::WatchId id = loop.AddWatch(fds[0], EventLoop::kWritable, [&](unsigned r) { ready.push_back(r); }, "s");
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_THAT(ready, ElementsAre(EventLoop::kWritable));
  loop.SetWatchEvents(id, EventLoop::kReadable);
  EXPECT_FALSE(loop.RunOnce(0));
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(ready.back(), unsigned(EventLoop::kReadable));
  loop.SetWatchEvents(id, EventLoop::kReadable | EventLoop::kWritable);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(ready.back(), unsigned(EventLoop::kReadable | EventLoop::kWritable));
  // No events: nothing is reported, not even the hangup, and the loop does
  // not keep waking up for it.
  loop.SetWatchEvents(id, 0);
  close(fds[1]);
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
  EXPECT_FALSE(loop.RunOnce(0));
  loop.SetWatchEvents(id, EventLoop::kReadable);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(ready.back() & EventLoop::kReadable);
  loop.RemoveWatch(id);
  close(fds[0]);
}

TEST_F(EventLoopTest, HangupAndErrorsAreReportedAsReadable) {
  Pipe pipe;
  unsigned readerReady = 0;
  EventLoop::WatchId reader =
      loop.AddWatch(pipe.ReadEnd(), EventLoop::kReadable, [&](unsigned r) { readerReady = r; }, "reader");
  pipe.CloseWrite();
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(readerReady, unsigned(EventLoop::kReadable));
  loop.RemoveWatch(reader);

  // A writer whose peer went away learns it through kReadable even though it
  // only asked for kWritable.
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  unsigned writerReady = 0;
  EventLoop::WatchId writer =
      loop.AddWatch(fds[0], EventLoop::kWritable, [&](unsigned r) { writerReady = r; }, "writer");
  close(fds[1]);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(writerReady & EventLoop::kReadable);
  loop.RemoveWatch(writer);
  close(fds[0]);
}

TEST_F(EventLoopTest, SecondWatchOnADescriptorTakesItOver) {
  Pipe pipe;
  pipe.Fill();
  int oldFired = 0, newFired = 0;
  EventLoop::WatchId old = loop.AddWatch(pipe.ReadEnd(), EventLoop::kReadable, [&](unsigned) { ++oldFired; }, "old");
  loop.AddWatch(pipe.ReadEnd(), EventLoop::kReadable, [&](unsigned) { ++newFired; }, "new");
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(oldFired, 0);
  EXPECT_EQ(newFired, 1);
  // Removing the inert old watch must not unregister the new one.
  loop.RemoveWatch(old);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(newFired, 2);
}

TEST_F(EventLoopTest, AddWatchRejectsDescriptorsEpollCannotWatch) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("plain"), "data");
  int fd = open(dir.File("plain").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_THROW(loop.AddWatch(fd, EventLoop::kReadable, [](unsigned) {}, "file"), std::system_error);
  close(fd);
  EXPECT_THROW(loop.AddWatch(-1, EventLoop::kReadable, [](unsigned) {}, "none"), std::invalid_argument);
  // The loop is unharmed.
  Pipe pipe;
  pipe.Fill();
  int fired = 0;
  loop.AddWatch(pipe.ReadEnd(), EventLoop::kReadable, [&](unsigned) { ++fired; }, "pipe");
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(fired, 1);
}

// ---- PollFd and the current loop ----

TEST_F(EventLoopTest, PollFdBecomesReadableAfterPostFromAnotherThread) {
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
  bool ran = false;
  std::thread other([&] { loop.Post([&] { ran = true; }); });
  EXPECT_TRUE(Readable(loop.PollFd(), 5000));
  other.join();
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
}

TEST_F(EventLoopTest, PollFdStaysReadableForTasksPostedByTasks) {
  int ran = 0;
  loop.Post([&] {
    ++ran;
    loop.Post([&] { ++ran; });
  });
  ASSERT_TRUE(Readable(loop.PollFd(), 0));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(Readable(loop.PollFd(), 0));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(ran, 2);
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
}

TEST(EventLoopSystemClock, PollFdBecomesReadableWhenATimerIsDue) {
  SystemClock system;
  EventLoop loop(system);
  int fired = 0;
  loop.CallLater(3600 * 1000, [] {}, "far");
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
  loop.CallLater(0, [&] { ++fired; }, "now");
  EXPECT_TRUE(Readable(loop.PollFd(), 2000));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(fired, 1);
  // A timer added by a handler: the timerfd is armed when the pass ends.
  loop.Post([&] { loop.CallLater(0, [&] { ++fired; }, "from handler"); });
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(Readable(loop.PollFd(), 2000));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(fired, 2);
  EXPECT_FALSE(Readable(loop.PollFd(), 0));
}

TEST(EventLoopSystemClock, PollFdIsReArmedForATimerDueAtTheDeadlineThatJustExpired) {
  // Each timer adds the next with no delay, usually within the same
  // millisecond, i.e. at the deadline the timerfd has just expired at.
  SystemClock system;
  EventLoop loop(system);
  int fired = 0;
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

TEST(EventLoopCurrent, TheInnermostLiveLoopIsCurrent) {
  ManualClock clock;
  EXPECT_EQ(EventLoop::Current(), nullptr);
  {
    EventLoop outer(clock);
    EXPECT_EQ(EventLoop::Current(), &outer);
    {
      EventLoop inner(clock);
      EXPECT_EQ(EventLoop::Current(), &inner);
      EventLoop* elsewhere = &inner;
      std::thread([&] { elsewhere = EventLoop::Current(); }).join();
      EXPECT_EQ(elsewhere, nullptr);
    }
    EXPECT_EQ(EventLoop::Current(), &outer);
    EXPECT_EQ(&outer.GetClock(), &clock);
  }
  EXPECT_EQ(EventLoop::Current(), nullptr);
}

TEST(ManualClockTest, AdvanceMovesWallTimeAlongAndWorksDetached) {
  ManualClock clock(5000, 1000);
  clock.SetWallMs(2000);
  clock.Advance(250);
  EXPECT_EQ(clock.MonotonicMs(), 5250);
  EXPECT_EQ(clock.WallMs(), 2250);
  clock.SetMonotonicMs(6000);
  EXPECT_EQ(clock.WallMs(), 3000);
}

}  // namespace
}  // namespace brindle
