#pragma once

#include <functional>
#include <string>

namespace brindle {

// The transfer engine's debug trace. Lines go to the installed sink (the
// trace window of a front end, a test); without one they go nowhere.
// Callable from any thread; the sink runs on the caller's thread.
void Trace(const std::string& line);

// An empty function removes the sink.
void SetTraceSink(std::function<void(const std::string&)> sink);

}  // namespace brindle
