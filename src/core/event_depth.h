#pragma once

#include <utility>

namespace brindle {

// Counts the events an object is raising at this moment. An owner never
// destroys an object from inside that object's own event: it detaches it
// and hands it to EventLoop::DeleteLater, so that the object is alive when
// the handler returns and needs no check after raising. In builds with the
// test hooks, destroying an object while it raises an event ends the
// process with a message naming its class.
class TEventDepth {
 public:
  explicit TEventDepth(const char* owner) : owner_(owner) {}
  ~TEventDepth();
  TEventDepth(const TEventDepth&) = delete;
  TEventDepth& operator=(const TEventDepth&) = delete;

  // Held while one event is raised.
  class TRaising {
   public:
    explicit TRaising(TEventDepth& depth) : depth_(depth) { ++depth_.depth_; }
    ~TRaising() { --depth_.depth_; }
    TRaising(const TRaising&) = delete;
    TRaising& operator=(const TRaising&) = delete;

   private:
    TEventDepth& depth_;
  };

  bool Raising() const { return depth_ > 0; }

 private:
  [[maybe_unused]] const char* owner_;
  int depth_ = 0;
};

// Raises event (an On... member, possibly empty) with args, counted in depth.
template <class Event, class... Args>
void RaiseEvent(TEventDepth& depth, const Event& event, Args&&... args) {
  if (!event) return;
  const TEventDepth::TRaising raising(depth);
  event(std::forward<Args>(args)...);
}

}  // namespace brindle
