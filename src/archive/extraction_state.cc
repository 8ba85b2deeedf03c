#include "archive/extraction_state.h"

#include <chrono>
#include <utility>

namespace brindle {
namespace {

constexpr int64_t kDeadAfterMs = 30000;

struct State {
  bool in_progress = false;
  int64_t last_pass_ms = 0;
  ZipIdleRoutine idle;
  ZipAbortTest abort_test;
  ZipReportRoutine report;
  ZipQuestionRoutine question;
  std::function<int64_t()> clock;
};

State& Shared() {
  static State state;
  return state;
}

int64_t NowMs() {
  if (Shared().clock) return Shared().clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool ExtractionState::TryBegin() {
  State& s = Shared();
  const int64_t now = NowMs();
  if (s.in_progress && now - s.last_pass_ms <= kDeadAfterMs) return false;
  s.in_progress = true;
  s.last_pass_ms = now;
  return true;
}

void ExtractionState::End() { Shared().in_progress = false; }

bool ExtractionState::Pass() {
  State& s = Shared();
  if (s.idle) {
    ZipIdleRoutine idle = s.idle;
    idle();
  }
  s.last_pass_ms = NowMs();
  if (!s.abort_test) return false;
  ZipAbortTest test = s.abort_test;
  return test();
}

ZipIdleRoutine ExtractionState::SetIdleRoutine(ZipIdleRoutine routine) {
  return std::exchange(Shared().idle, std::move(routine));
}

ZipAbortTest ExtractionState::SetAbortTest(ZipAbortTest test) {
  return std::exchange(Shared().abort_test, std::move(test));
}

ZipReportRoutine ExtractionState::SetReportRoutine(ZipReportRoutine routine) {
  return std::exchange(Shared().report, std::move(routine));
}

ZipQuestionRoutine ExtractionState::SetQuestionRoutine(ZipQuestionRoutine routine) {
  return std::exchange(Shared().question, std::move(routine));
}

void ExtractionState::Report(int code, const ZipReport& report) {
  if (!Shared().report) return;
  ZipReportRoutine routine = Shared().report;
  routine(code, report);
}

bool ExtractionState::HasQuestionRoutine() { return static_cast<bool>(Shared().question); }

bool ExtractionState::MayOverwrite(const std::string& output_path) {
  if (!Shared().question) return true;
  ZipQuestionRoutine routine = Shared().question;
  return routine(output_path);
}

#ifdef BRINDLE_TEST_HOOKS
void ExtractionState::SetClockForTest(std::function<int64_t()> clock) { Shared().clock = std::move(clock); }
#endif

}  // namespace brindle
