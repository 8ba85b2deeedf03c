#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

// The CRC-32 of ZIP entries (reflected polynomial 0xEDB88320, initial value
// all ones, final complement), computed eight bytes at a time.
class Crc32 {
 public:
  void Update(const uint8_t* data, size_t size);
  uint32_t Value() const { return ~state_; }

 private:
  uint32_t state_ = 0xFFFFFFFFu;
};

}  // namespace brindle
