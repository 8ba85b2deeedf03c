// fuzz-link: brindle_core
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/checksum.h"

// The input is an HTTP answer's header lines (what a server sends), and as
// a whole a checksum as a user or a record file gives it. A digest found
// must have its algorithm's size and read back from its own text as itself.
namespace {

void CheckChecksum(const brindle::TChecksum& checksum) {
  if (checksum.Hex.size() != 2 * brindle::DigestBytes(checksum.Algorithm)) std::abort();
  if (brindle::ParseChecksum(checksum.Text()) != checksum) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  for (size_t start = 0; start <= input.size();) {
    const size_t end = std::min(input.find('\n', start), input.size());
    lines.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  if (const auto digest = brindle::WholeFileDigest(lines)) CheckChecksum(*digest);
  if (const auto checksum = brindle::ParseChecksum(input)) CheckChecksum(*checksum);
  return 0;
}
