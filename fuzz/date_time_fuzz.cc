// fuzz-link: brindle_core
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/date_time.h"

// A text that reads as a date-time must come back from its written form as
// the same value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto value = brindle::TextToDateTime(text);
  if (!value) return 0;
  if (brindle::TextToDateTime(brindle::DateTimeToText(*value)) != value) std::abort();
  return 0;
}
