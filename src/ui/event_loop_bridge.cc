#include "ui/event_loop_bridge.h"

#include "core/event_loop.h"
#include "core/log_error.h"

namespace brindle {

TEventLoopBridge::TEventLoopBridge(EventLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), notifier_(loop.PollFd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { Dispatch(); });
  notifier_.setEnabled(true);
}

void TEventLoopBridge::Dispatch() {
  if (dispatching_) return;
  ++wakeUps_;
  dispatching_ = true;
  try {
    loop_.RunOnce(0);
  } catch (...) {
    LogError("TEventLoopBridge.Dispatch");
  }
  dispatching_ = false;
}

}  // namespace brindle
