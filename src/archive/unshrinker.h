#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "archive/bit_reader.h"
#include "archive/input_source.h"
#include "archive/output_sink.h"
#include "archive/output_window.h"

namespace brindle {

// Decodes a shrunk entry: dynamic LZW with codes of 9 to 13 bits, where the
// code 256 announces a control code: 1 widens the codes by one bit, 2 frees
// every code no other code builds on (partial clearing); freed codes are
// reused lowest first.
class Unshrinker {
 public:
  Unshrinker(InputSource& input, OutputSink& output, int64_t uncompressed_size);
  // kZipOk once `uncompressed_size` bytes are out, kZipArchiveError for
  // malformed data, or the code the source or sink failed with.
  int Run();

 private:
  static constexpr unsigned kCodeCount = 8192;

  void PartialClear();
  // Writes the string of `code` backwards into the end of scratch_; returns
  // its length, or 0 when the code stands for no string.
  size_t Expand(unsigned code, unsigned previous, uint8_t previous_first);
  unsigned NextFreeCode() const;

  BitReader reader_;
  OutputWindow window_;
  int64_t size_;
  std::unique_ptr<uint16_t[]> prefix_;  // kUnused for free codes
  std::unique_ptr<uint8_t[]> suffix_;
  std::unique_ptr<bool[]> is_prefix_;
  bool table_changed_ = false;
  std::vector<uint16_t> free_codes_;  // ascending
  size_t next_free_ = 0;
  std::unique_ptr<uint8_t[]> scratch_;
};

}  // namespace brindle
