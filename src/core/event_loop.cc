#include "core/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "core/log_error.h"

namespace brindle {

// Watch and timer ids are (generation << 32) | slot. Generations start at 1
// and grow each time a slot is released, so a stale id never matches and no
// valid id is below 2^32; the small values tag the loop's own descriptors in
// epoll_event.data.
namespace {

constexpr uint64_t kWakeTag = 1;
constexpr uint64_t kTimerFdTag = 2;
constexpr size_t kInitialEventsPerPass = 256;
constexpr size_t kMaxEventsPerPassLimit = 8192;

thread_local EventLoop* t_currentLoop = nullptr;

uint64_t MakeId(uint32_t generation, uint32_t slot) { return (uint64_t(generation) << 32) | slot; }
uint32_t IdSlot(uint64_t id) { return uint32_t(id); }
uint32_t IdGeneration(uint64_t id) { return uint32_t(id >> 32); }

uint32_t ToEpoll(unsigned events) {
  uint32_t result = 0;
  if (events & EventLoop::kReadable) result |= EPOLLIN;
  if (events & EventLoop::kWritable) result |= EPOLLOUT;
  return result;
}

std::string_view HandlerName(const char* name) { return name ? std::string_view(name) : std::string_view("(unnamed)"); }

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

struct EventLoop::Watch {
  std::function<void(unsigned)> callback;  // empty while it runs
  const char* name = nullptr;
  int fd = -1;  // -1: inert (the descriptor was taken over by another watch)
  unsigned events = 0;
  uint32_t generation = 1;
  bool inUse = false;
  bool registered = false;  // in the epoll set (only while events != 0)
};

struct EventLoop::Timer {
  std::function<void()> callback;  // empty while it runs
  const char* name = nullptr;
  int64_t period = 0;
  uint32_t generation = 1;
  uint32_t heapIndex = 0;
  bool inUse = false;
};

EventLoop::EventLoop(Clock& clock)
    : clock_(clock), systemClock_(dynamic_cast<SystemClock*>(&clock) != nullptr), previous_(t_currentLoop) {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) ThrowErrno("epoll_create1");
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  auto add = [this](int fd, uint64_t tag) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = tag;
    return fd >= 0 && epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) == 0;
  };
  if (!add(wakeFd_, kWakeTag) || !add(timerFd_, kTimerFdTag)) {
    int error = errno;
    for (int fd : {wakeFd_, timerFd_, epollFd_})
      if (fd >= 0) close(fd);
    throw std::system_error(error, std::generic_category(), "EventLoop");
  }
  epollEvents_.resize(kInitialEventsPerPass);
  t_currentLoop = this;
}

EventLoop::~EventLoop() {
  // Whatever a destructor below calls on the loop must find it consistent, so
  // the containers are emptied before their contents die.
  dispatching_ = true;
  RunDeletions();
  {
    std::vector<PostedTask> dropped;
    {
      std::lock_guard<std::mutex> lock(postMutex_);
      dropped.swap(posted_);
    }
    dropped.clear();
  }
  {
    std::vector<Watch> watches;
    watches.swap(watches_);
    freeWatches_.clear();
    watchByFd_.clear();
    std::vector<Timer> timers;
    timers.swap(timers_);
    freeTimers_.clear();
    heap_.clear();
    watches.clear();
    timers.clear();
  }
  RunDeletions();
  close(timerFd_);
  close(wakeFd_);
  close(epollFd_);
  if (t_currentLoop == this) t_currentLoop = previous_;
}

EventLoop* EventLoop::Current() { return t_currentLoop; }

// ---- Watches ----

EventLoop::Watch* EventLoop::FindWatch(WatchId id) {
  uint32_t slot = IdSlot(id);
  if (slot >= watches_.size()) return nullptr;
  Watch& watch = watches_[slot];
  return watch.inUse && watch.generation == IdGeneration(id) ? &watch : nullptr;
}

EventLoop::WatchId EventLoop::AddWatch(int fd, unsigned events, std::function<void(unsigned)> callback,
                                       const char* name) {
  if (fd < 0) throw std::invalid_argument("EventLoop::AddWatch: no descriptor");
  events &= kReadable | kWritable;
  if (size_t(fd) >= watchByFd_.size()) watchByFd_.resize(size_t(fd) + 1, 0);
  if (Watch* old = FindWatch(watchByFd_[size_t(fd)])) {
    if (old->registered) epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    old->fd = -1;
    old->registered = false;
    watchByFd_[size_t(fd)] = 0;
  }

  uint32_t slot;
  if (!freeWatches_.empty()) {
    slot = freeWatches_.back();
    freeWatches_.pop_back();
  } else {
    slot = uint32_t(watches_.size());
    watches_.emplace_back();
  }
  Watch& watch = watches_[slot];
  WatchId id = MakeId(watch.generation, slot);
  if (events) {
    epoll_event ev{};
    ev.events = ToEpoll(events);
    ev.data.u64 = id;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
      int error = errno;
      freeWatches_.push_back(slot);
      throw std::system_error(error, std::generic_category(), "EventLoop::AddWatch");
    }
  }
  watch.callback = std::move(callback);
  watch.name = name;
  watch.fd = fd;
  watch.events = events;
  watch.inUse = true;
  watch.registered = events != 0;
  watchByFd_[size_t(fd)] = id;
  return id;
}

void EventLoop::SetWatchEvents(WatchId id, unsigned events) {
  Watch* watch = FindWatch(id);
  if (!watch || watch->fd < 0) return;
  events &= kReadable | kWritable;
  if (events == watch->events) return;
  if (events == 0) {
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, watch->fd, nullptr);
    watch->registered = false;
  } else {
    epoll_event ev{};
    ev.events = ToEpoll(events);
    ev.data.u64 = id;
    if (epoll_ctl(epollFd_, watch->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, watch->fd, &ev) != 0)
      ThrowErrno("EventLoop::SetWatchEvents");
    watch->registered = true;
  }
  watch->events = events;
}

void EventLoop::RemoveWatch(WatchId id) {
  Watch* watch = FindWatch(id);
  if (!watch) return;
  if (watch->fd >= 0) {
    if (watch->registered) epoll_ctl(epollFd_, EPOLL_CTL_DEL, watch->fd, nullptr);
    watchByFd_[size_t(watch->fd)] = 0;
  }
  uint32_t slot = IdSlot(id);
  // Reset before releasing: the callback's captures may remove other watches.
  std::function<void(unsigned)> callback = std::move(watch->callback);
  watch->name = nullptr;
  watch->fd = -1;
  watch->events = 0;
  watch->registered = false;
  watch->inUse = false;
  if (++watch->generation == 0) watch->generation = 1;  // ids never drop below 2^32
  freeWatches_.push_back(slot);
  callback = nullptr;
}

bool EventLoop::DispatchWatch(uint64_t id, uint32_t epollEvents) {
  Watch* watch = FindWatch(id);
  if (!watch || watch->fd < 0) return false;
  unsigned ready = 0;
  if ((epollEvents & EPOLLIN) && (watch->events & kReadable)) ready |= kReadable;
  if ((epollEvents & EPOLLOUT) && (watch->events & kWritable)) ready |= kWritable;
  if ((epollEvents & (EPOLLERR | EPOLLHUP)) && watch->events) ready |= kReadable;
  if (!ready) return false;
  // The callback runs from a local: its watch may be removed (and its slot
  // reused, or the slot vector grown) while it runs.
  std::function<void(unsigned)> callback = std::move(watch->callback);
  const char* name = watch->name;
  try {
    callback(ready);
  } catch (...) {
    LogError(HandlerName(name));
  }
  if (Watch* still = FindWatch(id)) still->callback = std::move(callback);
  callback = nullptr;
  RunDeletions();
  return true;
}

// ---- Timers ----

EventLoop::Timer* EventLoop::FindTimer(TimerId id) {
  uint32_t slot = IdSlot(id);
  if (slot >= timers_.size()) return nullptr;
  Timer& timer = timers_[slot];
  return timer.inUse && timer.generation == IdGeneration(id) ? &timer : nullptr;
}

const EventLoop::Timer* EventLoop::FindTimer(TimerId id) const {
  return const_cast<EventLoop*>(this)->FindTimer(id);
}

void EventLoop::HeapSet(size_t index, const HeapEntry& entry) {
  heap_[index] = entry;
  timers_[entry.slot].heapIndex = uint32_t(index);
}

void EventLoop::HeapSiftUp(size_t index) {
  HeapEntry entry = heap_[index];
  while (index > 0) {
    size_t parent = (index - 1) / 2;
    if (!HeapLess(entry, heap_[parent])) break;
    HeapSet(index, heap_[parent]);
    index = parent;
  }
  HeapSet(index, entry);
}

void EventLoop::HeapSiftDown(size_t index) {
  HeapEntry entry = heap_[index];
  size_t size = heap_.size();
  for (;;) {
    size_t child = 2 * index + 1;
    if (child >= size) break;
    if (child + 1 < size && HeapLess(heap_[child + 1], heap_[child])) ++child;
    if (!HeapLess(heap_[child], entry)) break;
    HeapSet(index, heap_[child]);
    index = child;
  }
  HeapSet(index, entry);
}

void EventLoop::HeapRemove(size_t index) {
  size_t last = heap_.size() - 1;
  if (index != last) {
    HeapEntry moved = heap_[last];
    heap_.pop_back();
    HeapSet(index, moved);
    if (index > 0 && HeapLess(moved, heap_[(index - 1) / 2]))
      HeapSiftUp(index);
    else
      HeapSiftDown(index);
  } else {
    heap_.pop_back();
  }
}

void EventLoop::ReleaseTimerSlot(uint32_t slot) {
  Timer& timer = timers_[slot];
  timer.name = nullptr;
  timer.period = 0;
  timer.inUse = false;
  if (++timer.generation == 0) timer.generation = 1;
  freeTimers_.push_back(slot);
}

EventLoop::TimerId EventLoop::AddTimer(int64_t delayMs, int64_t periodMs, std::function<void()> callback,
                                       const char* name) {
  if (delayMs < 0) delayMs = 0;
  if (periodMs < 0) periodMs = 0;
  uint32_t slot;
  if (!freeTimers_.empty()) {
    slot = freeTimers_.back();
    freeTimers_.pop_back();
  } else {
    slot = uint32_t(timers_.size());
    timers_.emplace_back();
  }
  Timer& timer = timers_[slot];
  timer.callback = std::move(callback);
  timer.name = name;
  timer.period = periodMs;
  timer.inUse = true;
  TimerId id = MakeId(timer.generation, slot);
  heap_.push_back(HeapEntry{clock_.MonotonicMs() + delayMs, nextTimerSeq_++, slot});
  HeapSiftUp(heap_.size() - 1);
  // Inside a pass the timerfd is updated when the pass ends.
  if (!dispatching_) UpdateTimerFd();
  return id;
}

void EventLoop::CancelTimer(TimerId id) {
  Timer* timer = FindTimer(id);
  if (!timer) return;
  HeapRemove(timer->heapIndex);
  std::function<void()> callback = std::move(timer->callback);
  ReleaseTimerSlot(IdSlot(id));
  callback = nullptr;  // after releasing: its captures may cancel timers too
}

bool EventLoop::TimerActive(TimerId id) const { return FindTimer(id) != nullptr; }

std::optional<int64_t> EventLoop::NextTimerDeadline() const {
  if (heap_.empty()) return std::nullopt;
  return heap_.front().deadline;
}

bool EventLoop::RunDueTimers() {
  if (heap_.empty()) return false;
  const int64_t now = clock_.MonotonicMs();
  // Timers created from now on wait for the next pass, so a timer that keeps
  // adding zero-delay timers cannot hold the loop here. They sort after every
  // timer that is due now (their deadline is >= now, their seq is larger).
  const uint64_t seqLimit = nextTimerSeq_;
  bool ran = false;
  while (!heap_.empty()) {
    HeapEntry top = heap_.front();
    if (top.deadline > now || top.seq >= seqLimit) break;
    Timer& timer = timers_[top.slot];
    const TimerId id = MakeId(timer.generation, top.slot);
    const char* name = timer.name;
    const bool periodic = timer.period > 0;
    std::function<void()> callback = std::move(timer.callback);
    if (periodic) {
      int64_t next = top.deadline + timer.period;
      if (next <= now) next += ((now - next) / timer.period + 1) * timer.period;
      heap_.front().deadline = next;
      HeapSiftDown(0);
    } else {
      HeapRemove(0);
      ReleaseTimerSlot(top.slot);
    }
    try {
      callback();
    } catch (...) {
      LogError(HandlerName(name));
    }
    ran = true;
    if (periodic) {
      if (Timer* still = FindTimer(id)) still->callback = std::move(callback);
    }
    callback = nullptr;
    RunDeletions();
  }
  return ran;
}

void EventLoop::UpdateTimerFd() {
  if (!systemClock_) return;
  std::optional<int64_t> want = NextTimerDeadline();
  if (want == armedDeadline_) return;
  itimerspec setting{};
  if (want) {
    int64_t ms = *want > 0 ? *want : 0;
    setting.it_value.tv_sec = time_t(ms / 1000);
    setting.it_value.tv_nsec = long(ms % 1000) * 1000000L;
    if (ms == 0) setting.it_value.tv_nsec = 1;  // all zero would disarm
  }
  if (timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr) == 0)
    armedDeadline_ = want;
  else
    armedDeadline_.reset();
}

// ---- Posted tasks, deletions, waking ----

void EventLoop::WakeUp() {
  uint64_t one = 1;
  // EAGAIN means the counter is already non-zero: readable anyway.
  ssize_t written = write(wakeFd_, &one, sizeof one);
  (void)written;
}

void EventLoop::DrainFd(int fd) {
  uint64_t value;
  ssize_t got = read(fd, &value, sizeof value);
  (void)got;
}

void EventLoop::Post(const void* owner, std::function<void()> task) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    wake = posted_.empty();
    posted_.push_back({owner, std::move(task)});
    postedPending_.store(true, std::memory_order_release);
  }
  // Only the first task of a batch wakes: the loop drains the eventfd before
  // it takes the batch, so a later batch always finds the list empty again.
  if (wake) WakeUp();
}

bool EventLoop::RunPostedTasks() {
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    running_.swap(posted_);
    postedPending_.store(false, std::memory_order_relaxed);
  }
  if (running_.empty()) return false;
  for (PostedTask& posted : running_) {
    // Taken out first: a task cancelled by an earlier one is empty.
    std::function<void()> task = std::move(posted.Task);
    posted.Task = nullptr;
    if (!task) continue;
    try {
      task();
    } catch (...) {
      LogError("EventLoop::Post");
    }
    task = nullptr;
    RunDeletions();
  }
  running_.clear();
  return true;
}

void EventLoop::CancelPosts(const void* owner) {
  if (!owner) return;
  std::vector<PostedTask> dropped;
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    for (auto it = posted_.begin(); it != posted_.end();) {
      if (it->Owner == owner) {
        dropped.push_back(std::move(*it));
        it = posted_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (PostedTask& posted : running_)
    if (posted.Owner == owner) dropped.push_back({owner, std::exchange(posted.Task, nullptr)});
  // The tasks' captures die outside the lock.
}

void EventLoop::QueueDeletion(void* object, void (*destroy)(void*)) {
  bool wake = deletions_.empty() && !dispatching_;
  deletions_.push_back(PendingDeletion{object, destroy});
  // Outside a pass nothing else would make PollFd readable.
  if (wake) WakeUp();
}

bool EventLoop::RunDeletions() {
  if (deletions_.empty()) return false;
  while (!deletions_.empty()) {
    deleting_.swap(deletions_);
    for (const PendingDeletion& pending : deleting_) {
      try {
        pending.destroy(pending.object);
      } catch (...) {
        LogError("EventLoop::DeleteLater");
      }
    }
    deleting_.clear();
  }
  return true;
}

// ---- Running ----

void EventLoop::Quit() {
  quit_.store(true, std::memory_order_release);
  WakeUp();
}

void EventLoop::Run() {
  if (dispatching_) {
    LogError("EventLoop::RunOnce", "called from inside a handler");
    return;
  }
  while (!quit_.exchange(false, std::memory_order_acq_rel)) RunOnce(-1);
}

bool EventLoop::RunOnce(int64_t maxWaitMs) {
  if (dispatching_) {
    LogError("EventLoop::RunOnce", "called from inside a handler");
    return false;
  }
  struct DispatchGuard {
    EventLoop* loop;
    ~DispatchGuard() {
      loop->dispatching_ = false;
      loop->UpdateTimerFd();
    }
  };

  int64_t timeout = maxWaitMs < 0 ? -1 : maxWaitMs;
  if (!deletions_.empty()) timeout = 0;
  if (!heap_.empty() && timeout != 0) {
    int64_t untilDue = heap_.front().deadline - clock_.MonotonicMs();
    if (untilDue <= 0)
      timeout = 0;
    else if (systemClock_ && (timeout < 0 || untilDue < timeout))
      timeout = untilDue;
  }
  if (timeout > INT_MAX) timeout = INT_MAX;

  dispatching_ = true;
  DispatchGuard guard{this};
  bool ran = RunDeletions();

  int count = epoll_wait(epollFd_, epollEvents_.data(), int(epollEvents_.size()), int(timeout));
  if (count < 0) count = 0;  // EINTR: dispatch the rest anyway
  bool woken = false;
  for (int i = 0; i < count; ++i) {
    const epoll_event& event = epollEvents_[size_t(i)];
    if (event.data.u64 == kWakeTag) {
      woken = true;
    } else if (event.data.u64 == kTimerFdTag) {
      DrainFd(timerFd_);
      armedDeadline_.reset();  // expired: arm again even for the same deadline
    } else {
      ran = DispatchWatch(event.data.u64, event.events) || ran;
    }
  }
  // A full buffer means more descriptors were ready than it holds: the rest
  // come in the next pass, and the buffer grows so that it can hold them.
  if (size_t(count) == epollEvents_.size() && epollEvents_.size() < kMaxEventsPerPassLimit)
    epollEvents_.resize(epollEvents_.size() * 2);
  ran = RunDueTimers() || ran;
  if (woken || postedPending_.load(std::memory_order_acquire)) {
    // Drain before taking the batch: a task posted after the drain either
    // lands in this batch or wakes the next pass.
    DrainFd(wakeFd_);
    ran = RunPostedTasks() || ran;
  }
  ran = RunDeletions() || ran;
  if (ran && !checks_.empty()) {
    const auto checks = checks_;
    for (const auto& [id, check] : checks) check();
  }
  return ran;
}

EventLoop::CheckId EventLoop::AddDispatchCheck(std::function<void()> check) {
  checks_.emplace_back(++nextCheckId_, std::move(check));
  return nextCheckId_;
}

void EventLoop::RemoveDispatchCheck(CheckId id) {
  std::erase_if(checks_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace brindle
