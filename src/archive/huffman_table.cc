#include "archive/huffman_table.h"

#include <algorithm>

namespace brindle {
namespace {

uint32_t Reverse(uint32_t code, unsigned length) {
  uint32_t reversed = 0;
  for (unsigned i = 0; i < length; ++i) {
    reversed = reversed << 1 | (code & 1);
    code >>= 1;
  }
  return reversed;
}

}  // namespace

bool HuffmanTable::Build(const uint16_t* codes, const uint8_t* lengths, size_t count, unsigned primary_bits) {
  unsigned max_length = 0;
  for (size_t i = 0; i < count; ++i) {
    if (lengths[i] > kMaxLength) return false;
    max_length = std::max<unsigned>(max_length, lengths[i]);
  }
  // A short table for short codes: filling a wide one costs more than the
  // look-ups it saves.
  primary_bits_ = std::max(1u, std::min(primary_bits, max_length));
  primary_mask_ = (1u << primary_bits_) - 1;
  const size_t primary_size = size_t{1} << primary_bits_;

  // Pass 1: how many more bits the longest code behind each primary pattern
  // needs, and where its sub-table goes.
  sub_bits_.assign(primary_size, 0);
  for (size_t i = 0; i < count; ++i) {
    const unsigned length = lengths[i];
    if (length <= primary_bits_) continue;
    const uint32_t index = Reverse(codes[i], length) & primary_mask_;
    sub_bits_[index] = static_cast<uint8_t>(std::max<unsigned>(sub_bits_[index], length - primary_bits_));
  }
  size_t size = primary_size;
  for (size_t p = 0; p < primary_size; ++p) {
    if (sub_bits_[p] != 0) size += size_t{1} << sub_bits_[p];
  }
  table_.assign(size, 0);
  size_t next_sub = primary_size;
  for (size_t p = 0; p < primary_size; ++p) {
    if (sub_bits_[p] == 0) continue;
    table_[p] = static_cast<uint32_t>(next_sub) << 16 | kLink | uint32_t{sub_bits_[p]} << 8;
    next_sub += size_t{1} << sub_bits_[p];
  }

  // Pass 2: every pattern that starts with a code gets that code's entry; a
  // pattern claimed twice means the codes are not prefix-free.
  for (size_t i = 0; i < count; ++i) {
    const unsigned length = lengths[i];
    if (length == 0) continue;
    if ((codes[i] >> length) != 0) return false;
    const uint32_t reversed = Reverse(codes[i], length);
    const uint32_t entry = static_cast<uint32_t>(i) << 16 | length;
    if (length <= primary_bits_) {
      for (size_t slot = reversed; slot < primary_size; slot += size_t{1} << length) {
        if (table_[slot] != 0) return false;
        table_[slot] = entry;
      }
    } else {
      const uint32_t link = table_[reversed & primary_mask_];
      const size_t base = link >> 16;
      const unsigned sub_bits = (link >> 8) & 0xF;
      const unsigned rest = length - primary_bits_;
      for (size_t slot = reversed >> primary_bits_; slot < (size_t{1} << sub_bits); slot += size_t{1} << rest) {
        if (table_[base + slot] != 0) return false;
        table_[base + slot] = entry;
      }
    }
  }
  return true;
}

bool HuffmanTable::BuildCanonical(const uint8_t* lengths, size_t count, unsigned primary_bits) {
  unsigned length_count[16] = {};
  for (size_t i = 0; i < count; ++i) {
    if (lengths[i] > 15) return false;
    ++length_count[lengths[i]];
  }
  length_count[0] = 0;
  int left = 1;
  for (unsigned length = 1; length <= 15; ++length) {
    left = left * 2 - static_cast<int>(length_count[length]);
    if (left < 0) return false;
  }
  uint32_t next_code[16] = {};
  uint32_t code = 0;
  for (unsigned length = 1; length <= 15; ++length) {
    code = (code + length_count[length - 1]) << 1;
    next_code[length] = code;
  }
  std::vector<uint16_t> codes(count);
  for (size_t i = 0; i < count; ++i) {
    if (lengths[i] != 0) codes[i] = static_cast<uint16_t>(next_code[lengths[i]]++);
  }
  return Build(codes.data(), lengths, count, primary_bits);
}

}  // namespace brindle
