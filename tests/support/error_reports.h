#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace brindle::test {

// Makes every error report fail the running test: what each test runs with
// unless it expects reports.
void FailOnErrorReports();

// For a test that expects reports: while it lives, reports are collected
// ("routine: text" lines) instead of failing the test.
class ErrorReports {
 public:
  ErrorReports();
  ~ErrorReports();
  ErrorReports(const ErrorReports&) = delete;
  ErrorReports& operator=(const ErrorReports&) = delete;

  std::vector<std::string> Lines() const;
  // The routines alone, in order.
  std::vector<std::string> Routines() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<std::string> routines_;
};

}  // namespace brindle::test
