#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

// Where a decoder puts what it decoded, in order.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Returns kZipOk or the code that ends decoding.
  virtual int Write(const uint8_t* data, size_t size) = 0;
};

}  // namespace brindle
