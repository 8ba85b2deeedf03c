#include "archive/exploder.h"

#include <algorithm>
#include <numeric>

#include "archive/unzip.h"

namespace brindle {
namespace {

constexpr size_t kDictionary = 8192;
constexpr size_t kWindowSize = 65536;
// The longest match: 63 plus the extra byte plus the minimum length of 3.
constexpr size_t kMaxMatch = 63 + 255 + 3;

}  // namespace

Exploder::Exploder(InputSource& input, OutputSink& output, int64_t uncompressed_size, bool large_dictionary,
                   bool literal_tree)
    : reader_(input),
      window_(output, kDictionary, kWindowSize, true),
      size_(uncompressed_size),
      large_dictionary_(large_dictionary),
      literal_tree_(literal_tree) {}

// A tree is stored as a byte count minus one, then bytes that each give a
// bit length (low nibble + 1) for a run of symbols (high nibble + 1). The
// codes follow from the lengths: symbols sorted by length (stable), then
// numbered from the last one backwards, each code the previous one plus the
// step of the previous length, taken from the top of a 16-bit value.
int Exploder::ReadTree(HuffmanTable* table, unsigned symbol_count, unsigned primary_bits) {
  uint8_t lengths[256];
  reader_.Refill();
  const unsigned byte_count = reader_.Take(8) + 1;
  unsigned n = 0;
  for (unsigned i = 0; i < byte_count; ++i) {
    const uint32_t byte = reader_.RefillAndTake(8);
    const unsigned length = (byte & 0xF) + 1;
    const unsigned run = (byte >> 4) + 1;
    if (n + run > symbol_count) return kZipArchiveError;
    std::fill(lengths + n, lengths + n + run, static_cast<uint8_t>(length));
    n += run;
  }
  if (reader_.Broken()) return reader_.Status();
  if (n != symbol_count) return kZipArchiveError;

  uint16_t order[256];
  std::iota(order, order + symbol_count, uint16_t{0});
  std::stable_sort(order, order + symbol_count, [&](uint16_t a, uint16_t b) { return lengths[a] < lengths[b]; });
  uint16_t codes[256];
  uint32_t code = 0;
  uint32_t step = 0;
  unsigned last_length = 0;
  for (unsigned i = symbol_count; i-- > 0;) {
    const unsigned symbol = order[i];
    const unsigned length = lengths[symbol];
    code += step;
    if (length != last_length) {
      last_length = length;
      step = uint32_t{1} << (16 - length);
    }
    // A code must sit on a boundary of its own length and inside 16 bits,
    // else the lengths describe no prefix code.
    if ((code & (step - 1)) != 0 || code + step > 0x10000) return kZipArchiveError;
    codes[symbol] = static_cast<uint16_t>(code >> (16 - length));
  }
  return table->Build(codes, lengths, symbol_count, primary_bits) ? kZipOk : kZipArchiveError;
}

int Exploder::Run() {
  int rc = kZipOk;
  if (literal_tree_) rc = ReadTree(&literals_, 256, 10);
  if (rc == kZipOk) rc = ReadTree(&lengths_, 64, 8);
  if (rc == kZipOk) rc = ReadTree(&distances_, 64, 8);
  if (rc != kZipOk) return rc;

  const unsigned low_bits = large_dictionary_ ? 7 : 6;
  const unsigned minimum_match = literal_tree_ ? 3 : 2;
  uint8_t* const out = window_.Data();
  size_t pos = window_.Start();
  int64_t left = size_;
  while (left > 0) {
    if ((rc = window_.MakeRoom(&pos, kMaxMatch)) != kZipOk) return rc;
    reader_.Refill();
    if (reader_.Broken()) return reader_.Status();
    if (reader_.Take(1) != 0) {
      if (literal_tree_) {
        const uint32_t entry = literals_.Lookup(reader_.Bits());
        if (HuffmanTable::Length(entry) == 0) return kZipArchiveError;
        reader_.Consume(HuffmanTable::Length(entry));
        out[pos++] = static_cast<uint8_t>(HuffmanTable::Symbol(entry));
      } else {
        out[pos++] = static_cast<uint8_t>(reader_.Take(8));
      }
      --left;
      continue;
    }
    const uint32_t low = reader_.Take(low_bits);
    uint32_t entry = distances_.Lookup(reader_.Bits());
    if (HuffmanTable::Length(entry) == 0) return kZipArchiveError;
    reader_.Consume(HuffmanTable::Length(entry));
    const size_t distance = (HuffmanTable::Symbol(entry) << low_bits | low) + 1;
    entry = lengths_.Lookup(reader_.Bits());
    if (HuffmanTable::Length(entry) == 0) return kZipArchiveError;
    reader_.Consume(HuffmanTable::Length(entry));
    size_t length = HuffmanTable::Symbol(entry) + minimum_match;
    if (HuffmanTable::Symbol(entry) == 63) length += reader_.Take(8);
    // The window starts with a dictionary of zeros, so every distance
    // reaches into it: matches before the start copy zeros.
    length = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(length), left));
    OutputWindow::CopyMatch(out, pos, distance, length);
    pos += length;
    left -= static_cast<int64_t>(length);
  }
  if (reader_.Broken()) return reader_.Status();
  return window_.Flush(pos);
}

}  // namespace brindle
