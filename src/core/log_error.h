#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace brindle {

class EventLoop;

// The program-wide error-log hook. A routine that caught a failure at its
// own boundary reports its name here and returns normally. Called inside
// the catch, the report carries the exception's own text (its what(), or
// "unknown exception"); a failure without an exception passes its text.
// The sink is called on the reporting thread; without one the report goes
// nowhere. A report made while the sink runs on that thread is dropped.
void LogError(std::string_view routine, std::string_view text = {});
using ErrorLogSink = std::function<void(std::string_view routine, std::string_view text)>;
void SetErrorLogSink(ErrorLogSink sink);  // an empty sink restores the default

// The text of the exception being handled: its what(), or "unknown
// exception"; "" outside a handler.
std::string CurrentExceptionText();

// For a worker thread, inside its catch: the report (with the exception's
// text) is made on loop's thread, where the program's sinks expect it.
void PostErrorReport(EventLoop& loop, std::string_view routine);

// "routine: text", or the routine alone: a report as one line.
std::string ErrorReportLine(std::string_view routine, std::string_view text);

}  // namespace brindle
