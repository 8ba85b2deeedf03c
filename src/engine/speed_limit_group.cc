#include "engine/speed_limit_group.h"

#include <algorithm>

#include "engine/speed_limit_lane.h"
#include "engine/speed_limiter.h"

namespace brindle {

TSpeedLimitGroup::TSpeedLimitGroup(TSpeedLimiter& limiter) : limiter_(&limiter) { limiter.AddGroup(this); }

TSpeedLimitGroup::~TSpeedLimitGroup() {
  const std::vector<TSpeedLimitLane*> lanes = lanes_;
  lanes_.clear();
  for (TSpeedLimitLane* lane : lanes) {
    lane->group_ = nullptr;
    lane->Release();
  }
  if (limiter_) limiter_->RemoveGroup(this);
}

void TSpeedLimitGroup::SetRate(int64_t bytesPerSecond) {
  rate_ = std::max<int64_t>(0, bytesPerSecond);
  if (limiter_) limiter_->Changed();
}

std::shared_ptr<TSpeedLimitLane> TSpeedLimitGroup::NewLane() {
  auto lane = std::make_shared<TSpeedLimitLane>(*this);
  lanes_.push_back(lane.get());
  if (limiter_) limiter_->Changed();
  return lane;
}

void TSpeedLimitGroup::RemoveLane(TSpeedLimitLane* lane) {
  lanes_.erase(std::remove(lanes_.begin(), lanes_.end(), lane), lanes_.end());
  if (limiter_) limiter_->Changed();
}

}  // namespace brindle
