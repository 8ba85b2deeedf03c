#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/input_source.h"
#include "archive/unzip.h"

namespace brindle {

// Reads a ZIP bit stream (least significant bit first) through a 64-bit
// buffer. Past the end of the data the buffer fills with zero bits so that
// decoders may look ahead freely; Broken() turns true as soon as one of those
// bits is actually used, or when the source failed.
class BitReader {
 public:
  explicit BitReader(InputSource& source);
  BitReader(const BitReader&) = delete;
  BitReader& operator=(const BitReader&) = delete;

  // Makes at least 56 bits available.
  void Refill() {
    if (count_ >= 56) return;
    if (end_ - next_ >= 8) {
      uint64_t word;
      std::memcpy(&word, next_, sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      bits_ |= word << count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
    } else {
      RefillSlow();
    }
  }
  uint64_t Bits() const { return bits_; }
  void Consume(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  // Takes up to 32 bits that a Refill has made available.
  uint32_t Take(unsigned n) {
    const uint32_t value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
    Consume(n);
    return value;
  }
  uint32_t RefillAndTake(unsigned n) {
    Refill();
    return Take(n);
  }

  bool Broken() const { return error_ != kZipOk || pad_bits_ > count_; }
  // kZipOk, the source's failure, or kZipArchiveError when the data ended
  // too early.
  int Status() const;

  void AlignToByte() { Consume(count_ & 7); }
  // Copies whole bytes after AlignToByte; the data ending first is an
  // archive error.
  int ReadBytes(uint8_t* out, size_t size);

 private:
  void RefillSlow();
  bool FillBuffer();

  static constexpr size_t kBufferSize = 16384;

  InputSource& source_;
  std::unique_ptr<uint8_t[]> buffer_;
  const uint8_t* next_;
  const uint8_t* end_;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  unsigned pad_bits_ = 0;
  int error_ = kZipOk;
  bool at_end_ = false;
};

}  // namespace brindle
