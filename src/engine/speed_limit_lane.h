#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "net/receive_budget.h"

namespace brindle {

class TSpeedLimitGroup;
class TWSocket;

// What one connection may read under its group's and the program's limits:
// the bytes granted to it at the refills. Without a limit above it (or once
// its group is gone) it allows everything.
class TSpeedLimitLane final : public TReceiveBudget {
 public:
  explicit TSpeedLimitLane(TSpeedLimitGroup& group);
  ~TSpeedLimitLane() override;
  TSpeedLimitLane(const TSpeedLimitLane&) = delete;
  TSpeedLimitLane& operator=(const TSpeedLimitLane&) = delete;

  size_t Allowance() override;
  void Consume(size_t n) override;
  void Wait(TWSocket& socket) override;
  void CancelWait(TWSocket& socket) override;

  bool Limited() const { return limited_ && group_; }
  // Bytes granted and not read yet.
  double Granted() const { return granted_; }
  // A socket waits for tokens: the connection is held back, not stalled.
  bool Held() const { return held_; }
  // Bytes read through this lane while it was limited.
  int64_t LimitedBytes() const { return limitedBytes_; }

  // Raised when the lane starts (true) and stops (false) holding its
  // connection back.
  std::function<void(bool held)> OnHold;

 private:
  friend class TSpeedLimiter;
  friend class TSpeedLimitGroup;

  // Lets the waiting socket read again and ends the hold.
  void Release();
  void SetHeld(bool held);

  TSpeedLimitGroup* group_;
  bool limited_ = false;
  double granted_ = 0;
  TWSocket* waiting_ = nullptr;
  bool held_ = false;
  int64_t limitedBytes_ = 0;
};

}  // namespace brindle
