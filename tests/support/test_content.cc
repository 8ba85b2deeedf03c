#include "support/test_content.h"

namespace brindle::test {

std::string MakeContent(size_t size, uint32_t seed) {
  std::string content(size, '\0');
  uint32_t x = seed;
  for (char& c : content) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return content;
}

}  // namespace brindle::test
