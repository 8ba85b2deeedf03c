#pragma once

#include <cstdint>

#include "archive/bit_reader.h"
#include "archive/huffman_table.h"
#include "archive/input_source.h"
#include "archive/output_sink.h"
#include "archive/output_window.h"

namespace brindle {

// Decodes an imploded entry: a sliding dictionary of 4 or 8 KiB whose
// output is coded with two or three Shannon-Fano trees (lengths, distances
// and, when present, literals), the variant given by the entry's flags.
class Exploder {
 public:
  Exploder(InputSource& input, OutputSink& output, int64_t uncompressed_size, bool large_dictionary, bool literal_tree);
  // kZipOk once `uncompressed_size` bytes are out, kZipArchiveError for
  // malformed data, or the code the source or sink failed with.
  int Run();

 private:
  int ReadTree(HuffmanTable* table, unsigned symbol_count, unsigned primary_bits);

  BitReader reader_;
  OutputWindow window_;
  int64_t size_;
  bool large_dictionary_;
  bool literal_tree_;
  HuffmanTable literals_;
  HuffmanTable lengths_;
  HuffmanTable distances_;
};

}  // namespace brindle
