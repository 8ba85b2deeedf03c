#include "archive/inflater.h"

#include <algorithm>
#include <cstring>

#include "archive/unzip.h"

namespace brindle {
namespace {

constexpr size_t kDictionary = 32768;
constexpr size_t kWindowSize = 262144;
constexpr size_t kMaxMatch = 258;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block sends the code-length code's lengths.
constexpr uint8_t kLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr unsigned kLiteralBits = 10;
constexpr unsigned kDistanceBits = 8;

}  // namespace

Inflater::Inflater(InputSource& input, OutputSink& output)
    : reader_(input), window_(output, kDictionary, kWindowSize, false), pos_(window_.Start()) {}

int Inflater::Run() {
  bool final_block = false;
  while (!final_block) {
    reader_.Refill();
    final_block = reader_.Take(1) != 0;
    const unsigned type = reader_.Take(2);
    int rc = kZipOk;
    switch (type) {
      case 0:
        rc = StoredBlock();
        break;
      case 1:
        BuildFixedTables();
        rc = Codes(fixed_literals_, fixed_distances_);
        break;
      case 2:
        rc = ReadDynamicTables();
        if (rc == kZipOk) rc = Codes(literals_, distances_);
        break;
      default:
        rc = kZipArchiveError;
    }
    if (rc == kZipOk) rc = reader_.Status();
    if (rc != kZipOk) return rc;
  }
  return window_.Flush(pos_);
}

int Inflater::StoredBlock() {
  reader_.AlignToByte();
  reader_.Refill();
  const uint32_t length = reader_.Take(16);
  const uint32_t complement = reader_.Take(16);
  if (reader_.Broken()) return reader_.Status();
  if ((length ^ 0xFFFF) != complement) return kZipArchiveError;
  uint32_t left = length;
  while (left > 0) {
    const size_t chunk = std::min<size_t>(left, kWindowSize / 4);
    if (const int rc = window_.MakeRoom(&pos_, chunk); rc != kZipOk) return rc;
    if (const int rc = reader_.ReadBytes(window_.Data() + pos_, chunk); rc != kZipOk) return rc;
    pos_ += chunk;
    left -= static_cast<uint32_t>(chunk);
  }
  return kZipOk;
}

void Inflater::BuildFixedTables() {
  if (fixed_built_) return;
  uint8_t lengths[288];
  std::fill(lengths, lengths + 144, 8);
  std::fill(lengths + 144, lengths + 256, 9);
  std::fill(lengths + 256, lengths + 280, 7);
  std::fill(lengths + 280, lengths + 288, 8);
  fixed_literals_.BuildCanonical(lengths, 288, kLiteralBits);
  std::fill(lengths, lengths + 32, 5);
  fixed_distances_.BuildCanonical(lengths, 32, kDistanceBits);
  fixed_built_ = true;
}

int Inflater::ReadDynamicTables() {
  reader_.Refill();
  const unsigned literal_count = reader_.Take(5) + 257;
  const unsigned distance_count = reader_.Take(5) + 1;
  const unsigned length_code_count = reader_.Take(4) + 4;
  if (literal_count > 286 || distance_count > 30) return kZipArchiveError;

  uint8_t code_lengths[19] = {};
  for (unsigned i = 0; i < length_code_count; ++i) {
    code_lengths[kLengthOrder[i]] = static_cast<uint8_t>(reader_.RefillAndTake(3));
  }
  if (!lengths_.BuildCanonical(code_lengths, 19, 7)) return kZipArchiveError;

  uint8_t lengths[286 + 30] = {};
  const unsigned total = literal_count + distance_count;
  unsigned n = 0;
  while (n < total) {
    reader_.Refill();
    if (reader_.Broken()) return reader_.Status();
    const uint32_t entry = lengths_.Lookup(reader_.Bits());
    const unsigned code_length = HuffmanTable::Length(entry);
    if (code_length == 0) return kZipArchiveError;
    reader_.Consume(code_length);
    const unsigned symbol = HuffmanTable::Symbol(entry);
    if (symbol < 16) {
      lengths[n++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t value = 0;
    unsigned repeat = 0;
    if (symbol == 16) {
      if (n == 0) return kZipArchiveError;
      value = lengths[n - 1];
      repeat = 3 + reader_.Take(2);
    } else if (symbol == 17) {
      repeat = 3 + reader_.Take(3);
    } else {
      repeat = 11 + reader_.Take(7);
    }
    if (n + repeat > total) return kZipArchiveError;
    std::fill(lengths + n, lengths + n + repeat, value);
    n += repeat;
  }
  if (reader_.Broken()) return reader_.Status();
  // A block without an end-of-block code could never end.
  if (lengths[256] == 0) return kZipArchiveError;
  if (!literals_.BuildCanonical(lengths, literal_count, kLiteralBits)) return kZipArchiveError;
  if (!distances_.BuildCanonical(lengths + literal_count, distance_count, kDistanceBits)) {
    return kZipArchiveError;
  }
  return kZipOk;
}

int Inflater::Codes(const HuffmanTable& literals, const HuffmanTable& distances) {
  uint8_t* const out = window_.Data();
  size_t pos = pos_;
  const size_t limit = window_.Capacity() - kMaxMatch;
  int rc = kZipOk;
  for (;;) {
    if (pos > limit) {
      rc = window_.MakeRoom(&pos, kMaxMatch);
      if (rc != kZipOk) break;
    }
    reader_.Refill();
    if (reader_.Broken()) {
      rc = reader_.Status();
      break;
    }
    uint32_t entry = literals.Lookup(reader_.Bits());
    unsigned code_length = HuffmanTable::Length(entry);
    if (code_length == 0) {
      rc = kZipArchiveError;
      break;
    }
    reader_.Consume(code_length);
    unsigned symbol = HuffmanTable::Symbol(entry);
    if (symbol < 256) {
      out[pos++] = static_cast<uint8_t>(symbol);
      // A second literal often fits the bits still buffered (at least 41
      // after a refill and one code).
      entry = literals.Lookup(reader_.Bits());
      code_length = HuffmanTable::Length(entry);
      symbol = HuffmanTable::Symbol(entry);
      if (code_length != 0 && symbol < 256) {
        reader_.Consume(code_length);
        out[pos++] = static_cast<uint8_t>(symbol);
      }
      continue;
    }
    if (symbol == 256) break;
    symbol -= 257;
    if (symbol >= 29) {
      rc = kZipArchiveError;
      break;
    }
    const size_t length = kLengthBase[symbol] + reader_.Take(kLengthExtra[symbol]);
    entry = distances.Lookup(reader_.Bits());
    code_length = HuffmanTable::Length(entry);
    const unsigned distance_symbol = HuffmanTable::Symbol(entry);
    if (code_length == 0 || distance_symbol >= 30) {
      rc = kZipArchiveError;
      break;
    }
    reader_.Consume(code_length);
    const size_t distance = kDistanceBase[distance_symbol] + reader_.Take(kDistanceExtra[distance_symbol]);
    if (distance > pos) {
      rc = kZipArchiveError;
      break;
    }
    OutputWindow::CopyMatch(out, pos, distance, length);
    pos += length;
  }
  pos_ = pos;
  return rc;
}

}  // namespace brindle
