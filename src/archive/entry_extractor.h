#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/output_sink.h"
#include "archive/unzip.h"

namespace brindle {

class EntryIndex;
class FileInput;

// Extracts single entries of one archive: reads the local header, checks
// method, encryption and that the entry's data stays inside its own place
// in the archive, decodes it and checks size and CRC-32.
class EntryExtractor {
 public:
  // With a null `index` the directory is walked when first needed.
  EntryExtractor(std::string archive_path, const EntryIndex* index);
  ~EntryExtractor();
  EntryExtractor(const EntryExtractor&) = delete;
  EntryExtractor& operator=(const EntryExtractor&) = delete;

  // What ExtractEntry does once it holds the in-progress mark. A path
  // ending in "/" is a directory entry.
  int ExtractToFile(const std::string& output_path, uint32_t local_header_offset, const ZipProgressRoutine& progress);
  // The same checks and decoding with the output going to `sink`.
  int ExtractToSink(uint32_t local_header_offset, OutputSink& sink);

 private:
  struct LocalEntry {
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint32_t DosDateTime = 0;
    int64_t DataOffset = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint32_t Crc = 0;
  };

  int Open();
  int Index(const EntryIndex** index);
  int ReadLocalHeader(uint32_t offset, LocalEntry* entry);
  int CheckPlace(uint32_t offset, const LocalEntry& entry);
  int Decode(const LocalEntry& entry, FileInput& input, OutputSink& sink);

  std::string archive_path_;
  const EntryIndex* index_;
  std::unique_ptr<EntryIndex> own_index_;
  int fd_ = -1;
};

}  // namespace brindle
