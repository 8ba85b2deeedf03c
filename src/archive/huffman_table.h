#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brindle {

// A two-level look-up table for prefix codes read least significant bit
// first (deflate's Huffman codes and implode's Shannon-Fano codes). An entry
// holds the symbol in its high half and the code length in its low five
// bits; length 0 marks a bit pattern that is no code.
class HuffmanTable {
 public:
  static constexpr unsigned kMaxLength = 16;

  // Builds from explicit codes, given most significant bit first (the order
  // their bits arrive in); a length of 0 leaves the symbol out. False when
  // one code is a prefix of another.
  bool Build(const uint16_t* codes, const uint8_t* lengths, size_t count, unsigned primary_bits);
  // Builds deflate's canonical code from the lengths (at most 15); false
  // when the lengths over-subscribe the code space. Incomplete codes are
  // accepted: their unused patterns decode as invalid.
  bool BuildCanonical(const uint8_t* lengths, size_t count, unsigned primary_bits);

  // The entry for the code at the low end of `bits` (at least 16 bits).
  uint32_t Lookup(uint64_t bits) const {
    uint32_t entry = table_[bits & primary_mask_];
    if (entry & kLink) {
      const unsigned sub_bits = (entry >> 8) & 0xF;
      entry = table_[(entry >> 16) + ((bits >> primary_bits_) & ((1u << sub_bits) - 1))];
    }
    return entry;
  }
  static unsigned Length(uint32_t entry) { return entry & 0x1F; }
  static unsigned Symbol(uint32_t entry) { return entry >> 16; }

 private:
  static constexpr uint32_t kLink = 0x8000;

  std::vector<uint32_t> table_;
  std::vector<uint8_t> sub_bits_;
  unsigned primary_bits_ = 0;
  uint32_t primary_mask_ = 0;
};

}  // namespace brindle
