#pragma once

#include <functional>
#include <memory>
#include <string>

namespace brindle {

class EventLoop;

// The engine's trace lines for the trace window: while enabled it is the
// program's trace sink, and hands each line, from whichever thread traced
// it, to OnLine on the loop's thread.
class TDebugTrace {
 public:
  explicit TDebugTrace(EventLoop* loop = nullptr);  // nullptr: EventLoop::Current()
  ~TDebugTrace();
  TDebugTrace(const TDebugTrace&) = delete;
  TDebugTrace& operator=(const TDebugTrace&) = delete;

  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }

  std::function<void(const std::string& line)> OnLine;

 private:
  EventLoop* loop_;
  bool enabled_ = false;
  // Lines posted before this object went are dropped.
  std::shared_ptr<TDebugTrace*> self_;
};

}  // namespace brindle
