#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/hand_over_request.h"

namespace brindle {

class Clock;
class TInstanceLock;

// Sends request over the channel at socketPath and waits for the running
// instance's answer, all within timeoutMs. Nothing when there is no channel,
// the other end is not our user, or no valid answer came in time.
std::optional<int> HandOver(const std::string& socketPath, const THandOverRequest& request, int64_t timeoutMs);

// How a second start waits for the first instance's channel.
struct THandOverWait {
  int64_t TimeoutMs = 5000;         // for the channel to appear
  int64_t PollMs = 50;              // between looks
  int64_t AnswerTimeoutMs = 10000;  // for the answer once connected
  Clock* WaitClock = nullptr;       // ProgramClock() when null
  std::function<void(int64_t ms)> Pause;  // sleeps when empty
};

enum class TInstanceStart {
  First,       // the lock is ours: open the channel and run
  HandedOver,  // the running instance took the request: end now
  Further,     // it answered 0 (or the lock could not be tried): run as a further instance, without the lock
  Ended,       // no channel appeared in time, or no answer came: end without a hand-over
};

// The order of a start: take the lock; when another instance holds it, look
// for its channel (it may still be starting: wait up to TimeoutMs), hand the
// request over, and tell the caller whether to end. Should the running
// instance end while we wait, the lock becomes free and this start becomes
// the first instance.
TInstanceStart StartOrHandOver(TInstanceLock& lock, const THandOverRequest& request, const THandOverWait& wait = {});

}  // namespace brindle
