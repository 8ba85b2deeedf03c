#include "integration/debug_trace.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/event_loop.h"
#include "core/trace.h"

namespace brindle {
namespace {

TEST(DebugTraceTest, LinesFromAnyThreadArriveOnTheLoopWhileEnabled) {
  EventLoop loop;
  std::vector<std::string> lines;
  {
    TDebugTrace trace(&loop);
    trace.OnLine = [&](const std::string& line) { lines.push_back(line); };
    Trace("before");
    trace.SetEnabled(true);
    std::thread worker([] { Trace("from a worker"); });
    worker.join();
    Trace("on the loop");
    EXPECT_TRUE(lines.empty());  // not inside the caller
    while (loop.RunOnce(0)) {
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"from a worker", "on the loop"}));
    Trace("posted, then switched off");
    trace.SetEnabled(false);
    Trace("after");
    while (loop.RunOnce(0)) {
    }
    EXPECT_EQ(lines.size(), 2u);
    trace.SetEnabled(true);
    Trace("left behind");
  }
  while (loop.RunOnce(0)) {
  }
  EXPECT_EQ(lines.size(), 2u);
}

}  // namespace
}  // namespace brindle
