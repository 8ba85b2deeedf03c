#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace brindle {

class EventLoop;
class TSpeedLimitGroup;
class TTimer;

// The program's bandwidth limit and the scheduler of every limit under it: a
// token bucket refilled from the loop's clock every kRefillIntervalMs, whose
// tokens go to the downloads' groups in equal shares and, inside a group
// with its own limit, to the group's lanes (one per connection) in equal
// shares. A share a lane cannot take (it is full) goes to the others, so a
// slow connection costs the rest nothing. A lane holds at most its share of
// a quarter second of every rate above it, which bounds the bursts. No
// thread, no sleeping: the timer runs only while some lane is limited.
class TSpeedLimiter {
 public:
  static constexpr int64_t kRefillIntervalMs = 100;

  // The loop (nullptr: EventLoop::Current()) must outlive the limiter.
  explicit TSpeedLimiter(EventLoop* loop = nullptr);
  ~TSpeedLimiter();
  TSpeedLimiter(const TSpeedLimiter&) = delete;
  TSpeedLimiter& operator=(const TSpeedLimiter&) = delete;

  // Bytes per second for everything together; 0 or less: none. Applies at
  // once: lanes no longer limited read again, lowered shares are cut.
  void SetRate(int64_t bytesPerSecond);
  int64_t Rate() const { return rate_; }

  // Hands out the tokens earned since the last refill (the timer's work).
  void Refill();

  EventLoop& Loop() const { return *loop_; }

 private:
  friend class TSpeedLimitGroup;
  friend class TSpeedLimitLane;

  void AddGroup(TSpeedLimitGroup* group);
  void RemoveGroup(TSpeedLimitGroup* group);
  // A rate or the set of lanes changed: share out again without new tokens.
  void Changed();
  bool AnyLimited() const;
  // Grants the tokens of that many seconds and lets every lane that may read
  // again do so.
  void Share(double seconds);

  EventLoop* loop_;
  int64_t rate_ = 0;
  std::vector<TSpeedLimitGroup*> groups_;
  std::unique_ptr<TTimer> timer_;
  int64_t lastRefillMs_ = 0;
  bool refilling_ = false;
  bool shared_ = false;  // the last shares were made under a limit
};

}  // namespace brindle
