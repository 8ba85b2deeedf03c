#include "core/trace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/log_error.h"
#include "support/error_reports.h"

namespace brindle {
namespace {

TEST(TraceTest, LinesFromManyThreadsReachTheSink) {
  std::atomic<int> lines{0};
  SetTraceSink([&](const std::string& line) {
    if (line == "tick") ++lines;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) Trace("tick");
    });
  }
  for (std::thread& thread : threads) thread.join();
  SetTraceSink(nullptr);
  Trace("tick");
  EXPECT_EQ(lines.load(), 4000);
}

TEST(TraceTest, SinkMayReplaceItselfAndMayThrow) {
  std::vector<std::string> seen;
  SetTraceSink([&](const std::string& line) {
    seen.push_back(line);
    SetTraceSink([](const std::string&) { throw std::runtime_error("sink failed"); });
  });
  test::ErrorReports reports;
  Trace("first");
  Trace("second");
  SetTraceSink(nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"first"});
  EXPECT_EQ(reports.Lines(), std::vector<std::string>{"Trace: sink failed"});
}

}  // namespace
}  // namespace brindle
