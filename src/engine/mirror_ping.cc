#include "engine/mirror_ping.h"

#include <mutex>
#include <thread>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "engine/file_mirror.h"
#include "net/name_resolver.h"
#include "net/ping.h"

namespace brindle {

// Shared by the object and its worker. Cancelled and the loop are read under
// the mutex, so a worker never posts to a loop after its owner went; Owner
// is read and written on the loop thread only.
struct TMirrorPing::Shared {
  std::mutex Mutex;
  bool Cancelled = false;
  EventLoop* Loop = nullptr;
  TMirrorPing* Owner = nullptr;
};

TPingFunction SystemPingFunction() {
  std::shared_ptr<TNameResolver> resolver = CurrentNameResolver();
  return [resolver](const std::string& host, int timeOutMs, int ttl) {
    TPing ping(resolver);
    ping.SetAddress(host);
    ping.SetTimeout(timeOutMs);
    ping.SetTTL(ttl);
    TPingOutcome outcome;
    outcome.Replies = ping.Ping();
    if (outcome.Replies > 0) outcome.RoundTripMs = ping.Icmp().Reply().RoundTripTime;
    return outcome;
  };
}

TMirrorPing::TMirrorPing(TFileMirror* theMirror, EventLoop& loop, TPingFunction ping)
    : mirror_(theMirror), shared_(std::make_shared<Shared>()) {
  shared_->Loop = &loop;
  shared_->Owner = this;
  if (!ping) ping = SystemPingFunction();
  const std::string host = theMirror ? theMirror->Url->Host : std::string();
  auto deliver = [](const std::shared_ptr<Shared>& shared, TPingOutcome outcome) {
    std::lock_guard<std::mutex> lock(shared->Mutex);
    if (shared->Cancelled) return;
    shared->Loop->Post([shared, outcome] {
      if (shared->Owner) shared->Owner->UpdatePingTime(outcome);
    });
  };
  try {
    std::thread([shared = shared_, host, ping = std::move(ping), deliver] {
      // Reports go to the loop while its owner lives; the loop may be gone
      // after that.
      const auto report = [&shared] {
        std::lock_guard<std::mutex> lock(shared->Mutex);
        if (shared->Cancelled) {
          LogError("TMirrorPing.Execute");
        } else {
          PostErrorReport(*shared->Loop, "TMirrorPing.Execute");
        }
      };
      TPingOutcome outcome;
      try {
        outcome = ping(host, kTimeOut, kTTL);
      } catch (...) {
        report();
        outcome = TPingOutcome{};
      }
      try {
        deliver(shared, outcome);
      } catch (...) {
        report();
      }
    }).detach();
  } catch (...) {
    // No thread: the mirror counts as unanswered, so its place is released.
    LogError("TMirrorPing.Create");
    deliver(shared_, TPingOutcome{});
  }
}

TMirrorPing::~TMirrorPing() {
  std::lock_guard<std::mutex> lock(shared_->Mutex);
  shared_->Cancelled = true;
  shared_->Owner = nullptr;
}

void TMirrorPing::UpdatePingTime(const TPingOutcome& outcome) {
  try {
    outcome_ = outcome;
    const int64_t travel = outcome.Replies > 0 ? outcome.RoundTripMs : 0;
    if (mirror_) {
      if (outcome.Replies <= 0 || travel > kTimeOut) {
        mirror_->PingTime = kNoPing;
      } else if (travel <= 0) {
        // 0 means "no figure" to the server statistics; an answer faster
        // than a millisecond counts as 5.
        mirror_->PingTime = 5;
      } else {
        mirror_->PingTime = static_cast<int>(travel);
      }
    }
    const auto handler = OnPingReply;
    if (handler) handler(*this);
  } catch (...) {
    LogError("TMirrorPing.UpdatePingTime");
  }
}

}  // namespace brindle
