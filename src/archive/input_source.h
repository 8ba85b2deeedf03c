#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

// Where a decoder takes its compressed bytes from: the entry's data in the
// archive file, or memory.
class InputSource {
 public:
  virtual ~InputSource() = default;
  // Fills up to `capacity` bytes and sets `*got`; 0 bytes means the data
  // has ended. Returns kZipOk or the code that ends decoding (read error,
  // user abort).
  virtual int Read(uint8_t* buffer, size_t capacity, size_t* got) = 0;
};

}  // namespace brindle
