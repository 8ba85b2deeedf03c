#pragma once

// ZIP archives built byte by byte, for the cases no archiver makes:
// overlapping entries, sizes that lie, hostile names.

#include <cstdint>
#include <string>
#include <vector>

namespace brindle::test {

struct TestEntry {
  std::string name;
  std::string data;   // as stored in the archive
  std::string plain;  // what it decodes to (for the CRC and the size)
  uint16_t method = 0;
  uint16_t flags = 0;
  int64_t stated_size = -1;        // overrides the uncompressed size everywhere
  int64_t stated_compressed = -1;  // overrides the compressed size everywhere
  int header_of = -1;              // the directory points at that entry's local header
  uint16_t made_by = 20;           // high byte 3: made on Unix, the mode in external's high word
  uint32_t external = 0x20;
  int64_t directory_size = -1;     // overrides the uncompressed size in the central directory only
};

TestEntry Stored(const std::string& name, const std::string& data);

std::string BuildArchive(const std::vector<TestEntry>& entries, const std::string& comment = "");

// data as one stored deflate block: method 8 without compression.
std::string DeflateStoredBlock(const std::string& data);

}  // namespace brindle::test
