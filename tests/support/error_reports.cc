#include "support/error_reports.h"

#include <gtest/gtest.h>

#include "core/log_error.h"

namespace brindle::test {

void FailOnErrorReports() {
  SetErrorLogSink([](std::string_view routine, std::string_view text) {
    ADD_FAILURE() << "unexpected error report: " << ErrorReportLine(routine, text);
  });
}

ErrorReports::ErrorReports() {
  SetErrorLogSink([this](std::string_view routine, std::string_view text) {
    std::lock_guard lock(mutex_);
    lines_.push_back(ErrorReportLine(routine, text));
    routines_.emplace_back(routine);
  });
}

ErrorReports::~ErrorReports() { FailOnErrorReports(); }

std::vector<std::string> ErrorReports::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> ErrorReports::Routines() const {
  std::lock_guard lock(mutex_);
  return routines_;
}

void ErrorReports::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  routines_.clear();
}

}  // namespace brindle::test
