#include <gtest/gtest.h>

#include <cstdlib>

#include "core/log_error.h"
#include "support/error_reports.h"

namespace {

// Every test runs with an error-log sink that fails it on any report it did
// not ask for: a failure a routine caught is a fault, not something to pass
// over. A test that expects reports collects them (test::ErrorReports).
class TUnexpectedErrorReports final : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override { brindle::test::FailOnErrorReports(); }
  void OnTestEnd(const ::testing::TestInfo&) override { brindle::SetErrorLogSink({}); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The tests talk to servers of their own on loopback: a proxy the machine
  // names is no part of them (nor of the programs they start). Tests of the
  // proxy set what they need.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(name);
  ::testing::UnitTest::GetInstance()->listeners().Append(new TUnexpectedErrorReports);
  return RUN_ALL_TESTS();
}
