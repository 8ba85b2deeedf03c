#pragma once

#include "archive/bit_reader.h"
#include "archive/huffman_table.h"
#include "archive/input_source.h"
#include "archive/output_sink.h"
#include "archive/output_window.h"

namespace brindle {

// Decodes a deflate stream (stored, fixed-Huffman and dynamic-Huffman
// blocks, 32 KiB window) from `input` into `output`.
class Inflater {
 public:
  Inflater(InputSource& input, OutputSink& output);
  // kZipOk after the final block, kZipArchiveError for malformed data, or
  // the code the source or sink failed with.
  int Run();

 private:
  int StoredBlock();
  int ReadDynamicTables();
  void BuildFixedTables();
  int Codes(const HuffmanTable& literals, const HuffmanTable& distances);

  BitReader reader_;
  OutputWindow window_;
  size_t pos_;
  HuffmanTable literals_;
  HuffmanTable distances_;
  HuffmanTable lengths_;
  HuffmanTable fixed_literals_;
  HuffmanTable fixed_distances_;
  bool fixed_built_ = false;
};

}  // namespace brindle
