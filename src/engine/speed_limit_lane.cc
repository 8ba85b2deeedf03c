#include "engine/speed_limit_lane.h"

#include <algorithm>
#include <limits>

#include "engine/speed_limit_group.h"
#include "engine/speed_limiter.h"
#include "net/wsocket.h"

namespace brindle {

TSpeedLimitLane::TSpeedLimitLane(TSpeedLimitGroup& group) : group_(&group) {}

TSpeedLimitLane::~TSpeedLimitLane() {
  if (group_) group_->RemoveLane(this);
}

size_t TSpeedLimitLane::Allowance() {
  if (!Limited()) return std::numeric_limits<size_t>::max();
  return granted_ >= 1.0 ? static_cast<size_t>(granted_) : 0;
}

void TSpeedLimitLane::Consume(size_t n) {
  if (!Limited()) return;
  granted_ = std::max(0.0, granted_ - static_cast<double>(n));
  limitedBytes_ += static_cast<int64_t>(n);
}

void TSpeedLimitLane::Wait(TWSocket& socket) {
  waiting_ = &socket;
  SetHeld(true);
}

void TSpeedLimitLane::CancelWait(TWSocket& socket) {
  if (waiting_ != &socket) return;
  waiting_ = nullptr;
  SetHeld(false);
}

void TSpeedLimitLane::Release() {
  TWSocket* socket = waiting_;
  waiting_ = nullptr;
  SetHeld(false);
  if (socket) socket->ResumeReceiving();
}

void TSpeedLimitLane::SetHeld(bool held) {
  if (held_ == held) return;
  held_ = held;
  if (OnHold) OnHold(held);
}

}  // namespace brindle
