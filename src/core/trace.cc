#include "core/trace.h"

#include <memory>
#include <mutex>

#include "core/log_error.h"

namespace brindle {
namespace {

using Sink = std::function<void(const std::string&)>;

std::mutex gMutex;
std::shared_ptr<const Sink> gSink;

}  // namespace

void Trace(const std::string& line) {
  try {
    std::shared_ptr<const Sink> sink;
    {
      std::lock_guard lock(gMutex);
      sink = gSink;
    }
    // Called outside the lock so that a sink may trace or replace itself.
    if (sink) (*sink)(line);
  } catch (...) {
    LogError("Trace");
  }
}

void SetTraceSink(Sink sink) {
  auto shared = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
  std::lock_guard lock(gMutex);
  gSink = std::move(shared);
}

}  // namespace brindle
