#pragma once

#include <cstdint>
#include <functional>

#include "archive/unzip.h"

namespace brindle {

// What every extraction shares program-wide: the in-progress mark with the
// time of the last pass between input blocks, the idle routine and abort
// test, and the report and question routines of a running ExtractAll.
class ExtractionState {
 public:
  // Sets the in-progress mark; false when another extraction holds it and
  // its last pass lies 30 seconds or less in the past (an older one is taken
  // to be dead).
  static bool TryBegin();
  static void End();
  // Between two input blocks: runs the idle routine, records the time of
  // the pass and asks the abort test; true means abort.
  static bool Pass();

  static ZipIdleRoutine SetIdleRoutine(ZipIdleRoutine routine);
  static ZipAbortTest SetAbortTest(ZipAbortTest test);
  static ZipReportRoutine SetReportRoutine(ZipReportRoutine routine);
  static ZipQuestionRoutine SetQuestionRoutine(ZipQuestionRoutine routine);
  // The routines are copied before they run, so a routine may replace
  // itself.
  static void Report(int code, const ZipReport& report);
  // True when there is no question routine.
  static bool MayOverwrite(const std::string& output_path);
  static bool HasQuestionRoutine();

#ifdef BRINDLE_TEST_HOOKS
  // The millisecond clock of the 30-second rule; an empty routine restores
  // the steady clock.
  static void SetClockForTest(std::function<int64_t()> clock);
#endif
};

// Holds the in-progress mark for one extraction.
class ExtractionMark {
 public:
  ExtractionMark() : held_(ExtractionState::TryBegin()) {}
  ~ExtractionMark() {
    if (held_) ExtractionState::End();
  }
  ExtractionMark(const ExtractionMark&) = delete;
  ExtractionMark& operator=(const ExtractionMark&) = delete;
  bool Held() const { return held_; }

 private:
  bool held_;
};

}  // namespace brindle
