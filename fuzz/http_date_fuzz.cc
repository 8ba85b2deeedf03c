// fuzz-link: brindle_net
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/http_date.h"

// A text read as a date must come back from its written form as the same
// moment; no Retry-After value may give a negative wait but -1.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto seconds = brindle::ParseHttpDate(text)) {
    if (brindle::ParseHttpDate(brindle::HttpDateText(*seconds)) != seconds) std::abort();
  }
  if (brindle::RetryAfterSeconds(text, 1000000000) < -1) std::abort();
  return 0;
}
