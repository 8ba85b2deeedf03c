#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/clock.h"

struct epoll_event;

namespace brindle {

// The program's event loop: descriptor watches, timers, tasks posted from any
// thread and deferred deletions, all dispatched on the one thread that owns
// the loop. Only Post and Quit may be called from other threads.
//
// Every handler runs inside a try/catch: an exception is reported with
// LogError(handler name) (posted tasks: "EventLoop::Post") and the loop goes
// on. Handler names are string literals (they are kept as pointers).
//
// The loop is never dispatched re-entrantly: RunOnce/Run called from inside a
// handler does nothing but report "EventLoop::RunOnce".
class EventLoop {
 public:
  // 0 is never a valid id; removing or cancelling id 0 (or a stale id) does
  // nothing.
  using WatchId = uint64_t;
  using TimerId = uint64_t;
  using CheckId = uint64_t;

  enum : unsigned { kReadable = 1, kWritable = 2 };

  // Constructing a loop makes it the thread's current loop; destroying it
  // restores the one that was current before.
  explicit EventLoop(Clock& clock = ProgramClock());
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // The loop of the calling thread (the most recently constructed live one),
  // or nullptr.
  static EventLoop* Current();

  // Timers and every component that times something read "now" here.
  Clock& GetClock() const { return clock_; }

  // ---- Descriptor watches (level-triggered) ----
  //
  // The callback gets the ready subset of the watched events. An error or
  // hangup on the descriptor is reported as kReadable (even to a watch that
  // asked only for kWritable), so the owner's read sees the error. A watch
  // with no events is kept but reports nothing.
  //
  // A descriptor has at most one watch: adding a second takes the descriptor
  // over from the first, which stays allocated but inert until removed.
  // Remove the watch before closing the descriptor.
  //
  // A watch may be changed or removed from any handler, its own included; a
  // removed watch's callback never runs again, even if the kernel had already
  // reported it ready in the current pass. Throws std::system_error when the
  // kernel refuses the descriptor (e.g. a regular file or a closed one).
  WatchId AddWatch(int fd, unsigned events, std::function<void(unsigned readyEvents)> callback,
                   const char* name);
  void SetWatchEvents(WatchId id, unsigned events);  // throws like AddWatch
  void RemoveWatch(WatchId id);

  // ---- Timers ----
  //
  // The first expiry is delayMs from now (by GetClock()); a periodic timer
  // (periodMs > 0) then re-arms from its previous deadline, so it does not
  // drift; when the loop fell behind so that the next deadline is already
  // past, the missed ticks are skipped (it fires once and the next deadline
  // lies in the future). Due timers run in deadline order, equal deadlines
  // in creation order. A timer created while timers are being dispatched
  // does not run in that same pass. A one-shot timer is no longer active
  // once its callback has started.
  TimerId AddTimer(int64_t delayMs, int64_t periodMs, std::function<void()> callback,
                   const char* name);
  // A one-shot timer.
  TimerId CallLater(int64_t delayMs, std::function<void()> fn, const char* name) {
    return AddTimer(delayMs, 0, std::move(fn), name);
  }
  // A cancelled timer does not run, even if it is due in the current pass.
  void CancelTimer(TimerId id);
  bool TimerActive(TimerId id) const;
  // The earliest deadline (monotonic ms) of an active timer.
  std::optional<int64_t> NextTimerDeadline() const;

  // ---- Posted tasks and deferred deletion ----
  //
  // Runs task on the loop after the current handler has returned, in posting
  // order. Thread-safe. Tasks posted while posted tasks run go to the next
  // pass. Tasks still pending when the loop is destroyed are dropped.
  void Post(std::function<void()> task) { Post(nullptr, std::move(task)); }
  // The same for a task of owner's: CancelPosts(owner) drops it, unless it
  // has already run, so that an owner going away leaves no task behind that
  // would call it. Owners cancel in their destructors (loop thread only).
  void Post(const void* owner, std::function<void()> task);
  void CancelPosts(const void* owner);

  // Destroys object right after the current handler returns (or in the next
  // pass when called outside a handler). Loop thread only. Objects still
  // pending when the loop is destroyed are destroyed then.
  template <class T>
  void DeleteLater(std::unique_ptr<T> object) {
    if (object) QueueDeletion(object.release(), [](void* p) { delete static_cast<T*>(p); });
  }

  // ---- Running ----
  //
  // Dispatches until Quit(). A Quit() made while no Run was running makes
  // the next Run return at once.
  void Run();
  // Waits at most maxWaitMs (negative: no limit) for work, then dispatches
  // what is due once, in this order: ready descriptors, due timers, posted
  // tasks; a deferred deletion runs right after the handler that asked for
  // it. Returns whether any handler or deletion ran. With a clock other than
  // SystemClock it never waits for a timer's time, only for descriptors.
  bool RunOnce(int64_t maxWaitMs);
  // Thread-safe.
  void Quit();

  // ---- Checks after each dispatch ----
  //
  // Runs check after every RunOnce that ran a handler, once the pass is
  // over (for the test build's watch that no running download is left
  // without anything pending). A check must not change the loop.
  CheckId AddDispatchCheck(std::function<void()> check);
  void RemoveDispatchCheck(CheckId id);

  // Readable whenever the loop has due work (descriptors, posted tasks,
  // deferred deletions, and with a SystemClock the earliest timer). A GUI
  // watches it and calls RunOnce(0).
  int PollFd() const { return epollFd_; }

 private:
  struct Watch;
  struct Timer;
  struct HeapEntry {
    int64_t deadline;
    uint64_t seq;
    uint32_t slot;
  };
  struct PendingDeletion {
    void* object;
    void (*destroy)(void*);
  };

  void QueueDeletion(void* object, void (*destroy)(void*));
  bool RunDeletions();
  bool DispatchWatch(uint64_t id, uint32_t epollEvents);
  bool RunDueTimers();
  bool RunPostedTasks();
  void WakeUp();
  void DrainFd(int fd);
  void UpdateTimerFd();

  Watch* FindWatch(WatchId id);
  Timer* FindTimer(TimerId id);
  const Timer* FindTimer(TimerId id) const;
  void ReleaseTimerSlot(uint32_t slot);

  bool HeapLess(const HeapEntry& a, const HeapEntry& b) const {
    return a.deadline != b.deadline ? a.deadline < b.deadline : a.seq < b.seq;
  }
  void HeapSet(size_t index, const HeapEntry& entry);
  void HeapSiftUp(size_t index);
  void HeapSiftDown(size_t index);
  void HeapRemove(size_t index);

  Clock& clock_;
  bool systemClock_;
  EventLoop* previous_;
  int epollFd_ = -1;
  int wakeFd_ = -1;
  int timerFd_ = -1;
  bool dispatching_ = false;
  std::optional<int64_t> armedDeadline_;  // what the timerfd is armed at

  std::vector<Watch> watches_;
  std::vector<uint32_t> freeWatches_;
  std::vector<WatchId> watchByFd_;
  std::vector<epoll_event> epollEvents_;

  std::vector<Timer> timers_;
  std::vector<uint32_t> freeTimers_;
  std::vector<HeapEntry> heap_;
  uint64_t nextTimerSeq_ = 0;

  std::mutex postMutex_;
  struct PostedTask {
    const void* Owner;
    std::function<void()> Task;
  };
  std::vector<PostedTask> posted_;   // guarded by postMutex_
  std::vector<PostedTask> running_;  // loop thread only
  std::atomic<bool> postedPending_{false};
  std::atomic<bool> quit_{false};

  std::vector<PendingDeletion> deletions_;
  std::vector<PendingDeletion> deleting_;

  std::vector<std::pair<CheckId, std::function<void()>>> checks_;
  CheckId nextCheckId_ = 0;
};

}  // namespace brindle
