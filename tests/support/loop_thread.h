#pragma once

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/event_loop.h"

namespace brindle::test {

// An event loop on a thread of its own, for in-process servers that a real
// process (brindle-cli) talks to. Everything on the loop (the servers
// included) is touched only through Call.
class LoopThread {
 public:
  LoopThread();
  // Ends the loop, destroys what it owns on its thread, then the loop.
  ~LoopThread();
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  EventLoop& Loop() const { return *loop_; }
  // Runs fn on the loop's thread and returns when it has run.
  void Call(const std::function<void()>& fn);
  // Builds an object on the loop's thread; it lives until the loop ends.
  template <class T>
  T& Make() {
    T* made = nullptr;
    Call([&] {
      auto object = std::make_shared<T>(*loop_);
      made = object.get();
      owned_.push_back(std::move(object));
    });
    return *made;
  }

 private:
  EventLoop* loop_ = nullptr;
  std::vector<std::shared_ptr<void>> owned_;  // loop thread only
  std::thread thread_;
};

}  // namespace brindle::test
