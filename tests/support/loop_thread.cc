#include "support/loop_thread.h"

#include <condition_variable>
#include <mutex>

namespace brindle::test {

LoopThread::LoopThread() {
  std::mutex m;
  std::condition_variable ready;
  thread_ = std::thread([&] {
    // A loop belongs to the thread that built it, and so does its teardown.
    EventLoop loop;
    {
      std::lock_guard guard(m);
      loop_ = &loop;
    }
    ready.notify_one();
    loop.Run();
    owned_.clear();
  });
  std::unique_lock lock(m);
  ready.wait(lock, [&] { return loop_ != nullptr; });
}

LoopThread::~LoopThread() {
  loop_->Quit();
  thread_.join();
}

void LoopThread::Call(const std::function<void()>& fn) {
  std::mutex m;
  std::condition_variable done;
  bool ran = false;
  loop_->Post([&] {
    fn();
    std::lock_guard guard(m);
    ran = true;
    done.notify_one();
  });
  std::unique_lock lock(m);
  done.wait(lock, [&] { return ran; });
}

}  // namespace brindle::test
