#pragma once

#include <functional>
#include <string>

#include "core/event_loop.h"

namespace brindle {

// Holds an object to the rule that whatever runs has something pending that
// will move it on: a transfer, a timer, a worker, a question to the user.
// In builds with the test hooks the loop asks after each dispatch, and an
// answer other than "" ends the process at once with that text on standard
// error: a test then fails where the download got stuck instead of hanging
// until its time limit. Elsewhere it does nothing.
class TLivenessCheck {
 public:
  // stuck: "" while all is well, else what is stuck. The loop must outlive
  // the check.
  TLivenessCheck(EventLoop& loop, std::function<std::string()> stuck);
  ~TLivenessCheck();
  TLivenessCheck(const TLivenessCheck&) = delete;
  TLivenessCheck& operator=(const TLivenessCheck&) = delete;

 private:
  EventLoop& loop_;
  EventLoop::CheckId id_ = 0;
};

}  // namespace brindle
