#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "archive/input_source.h"
#include "archive/unzip.h"

namespace brindle {

// Compressed data held in memory (the caller keeps it alive), handed out in
// blocks of at most `block_size` bytes.
class MemoryInput : public InputSource {
 public:
  MemoryInput(const uint8_t* data, size_t size, size_t block_size = 4096)
      : data_(data), size_(size), block_size_(block_size) {}
  int Read(uint8_t* buffer, size_t capacity, size_t* got) override {
    const size_t n = std::min({capacity, block_size_, size_ - pos_});
    if (n > 0) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    *got = n;
    return kZipOk;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t block_size_;
  size_t pos_ = 0;
};

}  // namespace brindle
