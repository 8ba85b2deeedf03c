#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace brindle {

class EventLoop;

// Runs the engine's event loop inside Qt's: one notifier on the loop's
// descriptor, which is readable whenever the loop has due work, so an idle
// program sleeps in Qt's poll. A dispatch never nests: while one is on the
// stack (a handler that spun a Qt loop) the bridge does nothing.
class TEventLoopBridge final : public QObject {
  Q_OBJECT

 public:
  explicit TEventLoopBridge(EventLoop& loop, QObject* parent = nullptr);

  // How often the descriptor woke the bridge; for tests that check an idle
  // program stays asleep.
  int WakeUps() const { return wakeUps_; }

 private:
  void Dispatch();

  EventLoop& loop_;
  QSocketNotifier notifier_;
  bool dispatching_ = false;
  int wakeUps_ = 0;
};

}  // namespace brindle
