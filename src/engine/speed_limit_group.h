#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace brindle {

class TSpeedLimiter;
class TSpeedLimitLane;

// The connections of one download under a limiter: its own limit (0: none)
// and its lanes, which share the smaller of that limit and the download's
// share of the program's limit.
class TSpeedLimitGroup {
 public:
  explicit TSpeedLimitGroup(TSpeedLimiter& limiter);
  ~TSpeedLimitGroup();
  TSpeedLimitGroup(const TSpeedLimitGroup&) = delete;
  TSpeedLimitGroup& operator=(const TSpeedLimitGroup&) = delete;

  // Bytes per second for this download; 0 or less: none.
  void SetRate(int64_t bytesPerSecond);
  int64_t Rate() const { return rate_; }

  // A lane for one connection. It leaves the group when the last reference
  // to it goes, or when the group goes first.
  std::shared_ptr<TSpeedLimitLane> NewLane();
  const std::vector<TSpeedLimitLane*>& Lanes() const { return lanes_; }

 private:
  friend class TSpeedLimiter;
  friend class TSpeedLimitLane;

  void RemoveLane(TSpeedLimitLane* lane);

  TSpeedLimiter* limiter_;
  int64_t rate_ = 0;
  std::vector<TSpeedLimitLane*> lanes_;
};

}  // namespace brindle
