#pragma once

#include <functional>
#include <string_view>

namespace brindle {

// The program-wide error-log hook: a routine that caught a failure at its
// own boundary reports its name here and returns normally. By default the
// report goes nowhere; a test (or a debug build of a front end) installs a
// sink. The sink is called on the thread that failed.
void LogError(std::string_view routine);
using ErrorLogSink = std::function<void(std::string_view routine)>;
void SetErrorLogSink(ErrorLogSink sink);  // an empty sink restores the default

}  // namespace brindle
