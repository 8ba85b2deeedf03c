#include "core/timer.h"

#include <stdexcept>

namespace brindle {

TTimer::TTimer(EventLoop* loop) : loop_(loop ? loop : EventLoop::Current()) {
  if (!loop_) throw std::logic_error("TTimer: no event loop on this thread");
}

TTimer::~TTimer() { loop_->CancelTimer(timerId_); }

void TTimer::SetInterval(int64_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Restart();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Restart();
}

void TTimer::Restart() {
  loop_->CancelTimer(timerId_);
  timerId_ = 0;
  if (enabled_ && interval_ > 0)
    timerId_ = loop_->AddTimer(interval_, interval_, [this] { Fire(); }, "TTimer.OnTimer");
}

void TTimer::Fire() {
  // A copy, so that OnTimer may destroy this timer (and with it the member)
  // while it runs. Nothing here touches the timer after the call.
  std::function<void()> handler = OnTimer;
  if (handler) handler();
}

}  // namespace brindle
