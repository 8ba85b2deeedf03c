#include "engine/ping_system.h"

#include <algorithm>
#include <stdexcept>

#include "core/event_loop.h"
#include "core/log_error.h"
#include "engine/file_mirror.h"

namespace brindle {

TPingSystem::TPingSystem(int maxSimPings, EventLoop* loop, TPingFunction ping)
    : loop_(loop ? loop : EventLoop::Current()),
      maxSimPings_(maxSimPings),
      ping_(std::move(ping)) {
  if (!loop_) throw std::logic_error("TPingSystem: no event loop on this thread");
}

// Running pings are cut off; their workers finish on their own and their
// results are dropped.
TPingSystem::~TPingSystem() = default;

void TPingSystem::AddMirror(TFileMirror* fileMirror) {
  try {
    if (!fileMirror) return;
    queue_.Add(fileMirror);
    StartNewPings();
  } catch (...) {
    LogError("TPingSystem.AddMirror");
  }
}

void TPingSystem::AddMirrors(const TMirrorList& newMirrors) {
  for (int i = 0; i < newMirrors.Count(); ++i) AddMirror(newMirrors.Get(i));
}

void TPingSystem::RemoveMirror(TFileMirror* fileMirror) {
  try {
    if (!fileMirror) return;
    for (auto it = running_.begin(); it != running_.end();) {
      if ((*it)->Mirror() == fileMirror) {
        (*it)->DetachMirror();
        (*it)->OnPingReply = nullptr;
        loop_->DeleteLater(std::move(*it));
        it = running_.erase(it);
      } else {
        ++it;
      }
    }
    for (int i = queue_.Count() - 1; i >= 0; --i)
      if (queue_.Get(i) == fileMirror) queue_.Remove(fileMirror);
    StartNewPings();
  } catch (...) {
    LogError("TPingSystem.RemoveMirror");
  }
}

void TPingSystem::StartNewPings() {
  try {
    while (RunningPings() < maxSimPings_ && RunningPings() < queue_.Count()) {
      auto mirrorPing = std::make_unique<TMirrorPing>(queue_.Get(RunningPings()), *loop_, ping_);
      mirrorPing->OnPingReply = [this](TMirrorPing& p) { OnPingReply(p); };
      running_.push_back(std::move(mirrorPing));
    }
  } catch (...) {
    LogError("TPingSystem.StartNewPings");
  }
}

void TPingSystem::OnPingReply(TMirrorPing& mirrorPing) {
  try {
    TFileMirror* mirror = mirrorPing.Mirror();
    queue_.Remove(mirror);
    mirrorPing.DetachMirror();
    // Out of the running list before the event, so a mirror the handler
    // adds starts at its own queue position; destroyed after the reply
    // handler has returned.
    const auto found = std::find_if(running_.begin(), running_.end(),
                                    [&](const std::unique_ptr<TMirrorPing>& p) { return p.get() == &mirrorPing; });
    if (found != running_.end()) {
      loop_->DeleteLater(std::move(*found));
      running_.erase(found);
    }
    if (mirror && OnPingedMirror) {
      const auto handler = OnPingedMirror;
      const TEventDepth::TRaising raising(events_);
      try {
        handler(*mirror);
      } catch (...) {
        LogError("TPingSystem.OnPingedMirror");
      }
    }
    StartNewPings();
  } catch (...) {
    LogError("TPingSystem.OnPingReply");
  }
}

}  // namespace brindle
