#include "engine/speed_limiter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "core/timer.h"
#include "engine/speed_limit_group.h"
#include "engine/speed_limit_lane.h"

namespace brindle {

namespace {

constexpr double kNone = std::numeric_limits<double>::infinity();

// Shares amount equally among takers that hold at most room[i] each; what a
// full taker cannot hold goes to the others.
std::vector<double> WaterFill(double amount, const std::vector<double>& room) {
  std::vector<size_t> order(room.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return room[a] < room[b]; });
  std::vector<double> share(room.size(), 0.0);
  double left = amount;
  for (size_t k = 0; k < order.size() && left > 0; ++k) {
    const double even = left / static_cast<double>(order.size() - k);
    share[order[k]] = std::min(room[order[k]], even);
    left -= share[order[k]];
  }
  return share;
}

}  // namespace

TSpeedLimiter::TSpeedLimiter(EventLoop* loop) : loop_(loop ? loop : EventLoop::Current()) {
  if (!loop_) throw std::logic_error("TSpeedLimiter: no event loop on this thread");
  timer_ = std::make_unique<TTimer>(loop_);
  timer_->SetInterval(kRefillIntervalMs);
  timer_->OnTimer = [this] {
    try {
      Refill();
    } catch (...) {
      LogError("TSpeedLimiter.Refill");
    }
  };
}

TSpeedLimiter::~TSpeedLimiter() {
  for (TSpeedLimitGroup* group : groups_) {
    group->limiter_ = nullptr;
    for (TSpeedLimitLane* lane : group->lanes_) {
      lane->limited_ = false;
      lane->Release();
    }
  }
}

void TSpeedLimiter::SetRate(int64_t bytesPerSecond) {
  rate_ = std::max<int64_t>(0, bytesPerSecond);
  Changed();
}

void TSpeedLimiter::AddGroup(TSpeedLimitGroup* group) { groups_.push_back(group); }

void TSpeedLimiter::RemoveGroup(TSpeedLimitGroup* group) {
  groups_.erase(std::remove(groups_.begin(), groups_.end(), group), groups_.end());
  Changed();
}

bool TSpeedLimiter::AnyLimited() const {
  return std::any_of(groups_.begin(), groups_.end(), [this](const TSpeedLimitGroup* group) {
    return !group->lanes_.empty() && (rate_ > 0 || group->rate_ > 0);
  });
}

void TSpeedLimiter::Changed() {
  if (refilling_) return;
  const bool limited = AnyLimited();
  if (!limited) {
    timer_->SetEnabled(false);
  } else if (!timer_->Enabled()) {
    lastRefillMs_ = loop_->GetClock().MonotonicMs();
    timer_->SetEnabled(true);
  }
  // Without a limit every lane reads freely once the last limit has been
  // taken off its lanes: a thousand downloads need not be walked for each
  // one that starts.
  if (!limited && !shared_) return;
  shared_ = limited;
  // Only the shares change here; tokens come with the time that passes.
  Share(0.0);
}

void TSpeedLimiter::Refill() {
  const int64_t now = loop_->GetClock().MonotonicMs();
  // A late timer earns no more than a quarter second: the caps would drop
  // the rest anyway.
  const double seconds = static_cast<double>(std::clamp<int64_t>(now - lastRefillMs_, 0, 250)) / 1000.0;
  lastRefillMs_ = now;
  Share(seconds);
}

void TSpeedLimiter::Share(double seconds) {
  if (refilling_) return;
  refilling_ = true;

  std::vector<TSpeedLimitGroup*> active;
  for (TSpeedLimitGroup* group : groups_) {
    if (!group->lanes_.empty()) active.push_back(group);
  }
  const double groupCount = static_cast<double>(active.size());
  std::vector<double> groupRoom(active.size(), 0.0);
  std::vector<std::vector<double>> laneRoom(active.size());
  std::vector<TSpeedLimitLane*> release;
  for (size_t i = 0; i < active.size(); ++i) {
    const TSpeedLimitGroup& group = *active[i];
    const double lanes = static_cast<double>(group.lanes_.size());
    // A lane holds at most its share of a quarter second of each rate.
    double cap = kNone;
    if (rate_ > 0) cap = static_cast<double>(rate_) / 4.0 / groupCount / lanes;
    if (group.rate_ > 0) cap = std::min(cap, static_cast<double>(group.rate_) / 4.0 / lanes);
    const bool limited = cap != kNone;
    cap = std::max(cap, 1.0);
    double room = 0;
    for (TSpeedLimitLane* lane : group.lanes_) {
      lane->limited_ = limited;
      lane->granted_ = limited ? std::min(lane->granted_, cap) : 0.0;
      laneRoom[i].push_back(limited ? cap - lane->granted_ : 0.0);
      room += laneRoom[i].back();
    }
    const double supply = group.rate_ > 0 ? static_cast<double>(group.rate_) * seconds : kNone;
    groupRoom[i] = limited ? std::min(supply, room) : 0.0;
  }
  const std::vector<double> groupShare =
      rate_ > 0 ? WaterFill(static_cast<double>(rate_) * seconds, groupRoom) : groupRoom;
  for (size_t i = 0; i < active.size(); ++i) {
    const std::vector<double> laneShare = WaterFill(groupShare[i], laneRoom[i]);
    for (size_t j = 0; j < active[i]->lanes_.size(); ++j) {
      TSpeedLimitLane* lane = active[i]->lanes_[j];
      lane->granted_ += laneShare[j];
      if (!lane->limited_ || lane->granted_ >= 1.0) release.push_back(lane);
    }
  }
  refilling_ = false;
  // Releasing only re-arms sockets (their reading comes from the loop), so
  // no lane comes or goes meanwhile.
  for (TSpeedLimitLane* lane : release) lane->Release();
}

}  // namespace brindle
