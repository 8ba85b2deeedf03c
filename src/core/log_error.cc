#include "core/log_error.h"

#include <mutex>
#include <utility>

namespace brindle {

namespace {

// Recursive so that a sink may itself report (it must not replace the sink).
// The sink runs under the lock: once SetErrorLogSink returns, no thread is
// still inside the previous sink, so a test may destroy what its sink used.
std::recursive_mutex& SinkMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

ErrorLogSink& Sink() {
  static ErrorLogSink sink;
  return sink;
}

}  // namespace

void LogError(std::string_view routine) {
  std::lock_guard<std::recursive_mutex> lock(SinkMutex());
  ErrorLogSink& sink = Sink();
  if (!sink) return;
  // Reporting happens at a boundary that has just caught a failure: a
  // failing sink must not throw past it.
  try {
    sink(routine);
  } catch (...) {
  }
}

void SetErrorLogSink(ErrorLogSink sink) {
  ErrorLogSink old;
  {
    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    old = std::exchange(Sink(), std::move(sink));
  }
  // The old sink's captures die outside the lock.
}

}  // namespace brindle
