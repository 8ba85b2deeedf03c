#include "core/log_error.h"

#include <exception>
#include <mutex>
#include <utility>

#include "core/event_loop.h"

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

thread_local bool inSink = false;

}  // namespace

std::string CurrentExceptionText() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return "";
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

void LogError(std::string_view routine, std::string_view text) {
  const std::string exceptionText = text.empty() ? CurrentExceptionText() : std::string();
  std::lock_guard<std::recursive_mutex> lock(SinkMutex());
  ErrorLogSink& sink = Sink();
  // A sink that fails and reports would call itself for ever.
  if (!sink || inSink) return;
  inSink = true;
  // Reporting happens at a boundary that has just caught a failure: a
  // failing sink must not throw past it.
  try {
    sink(routine, text.empty() ? std::string_view(exceptionText) : text);
  } catch (...) {
  }
  inSink = false;
}

void SetErrorLogSink(ErrorLogSink sink) {
  ErrorLogSink old;
  {
    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    old = std::exchange(Sink(), std::move(sink));
  }
  // The old sink's captures die outside the lock.
}

void PostErrorReport(EventLoop& loop, std::string_view routine) {
  std::string text = CurrentExceptionText();
  try {
    loop.Post([name = std::string(routine), text] { LogError(name, text); });
  } catch (...) {
    LogError(routine, text);
  }
}

std::string ErrorReportLine(std::string_view routine, std::string_view text) {
  std::string line(routine);
  if (!text.empty()) line.append(": ").append(text);
  return line;
}

}  // namespace brindle
