#include "integration/debug_trace.h"

#include "core/event_loop.h"
#include "core/trace.h"

namespace brindle {

TDebugTrace::TDebugTrace(EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()), self_(std::make_shared<TDebugTrace*>(this)) {}

TDebugTrace::~TDebugTrace() { SetEnabled(false); }

void TDebugTrace::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (!enabled) {
    SetTraceSink({});
    return;
  }
  EventLoop* loop = loop_;
  std::weak_ptr<TDebugTrace*> self = self_;
  SetTraceSink([loop, self](const std::string& line) {
    loop->Post([self, line] {
      const std::shared_ptr<TDebugTrace*> alive = self.lock();
      if (alive && (*alive)->enabled_ && (*alive)->OnLine) (*alive)->OnLine(line);
    });
  });
}

}  // namespace brindle
