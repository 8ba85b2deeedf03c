// fuzz-link: brindle_platform
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  size_t total = 0;
  for (const std::string& word : brindle::SplitCommandLine(line)) total += word.size();
  // Quoting and escaping only ever remove characters.
  if (total > line.size()) std::abort();
  return 0;
}
