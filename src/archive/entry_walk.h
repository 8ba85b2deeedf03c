#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindle {

// One central-directory record, as much of it as the reader uses.
struct CentralRecord {
  uint16_t VersionMadeBy = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t DosDateTime = 0;
  uint32_t Crc = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;
  std::string Name;  // cut at 259 bytes
};

// The walk over an archive's central directory: finds the end record by
// searching backwards from the end of the file, then reads the directory
// through a buffer of at most 64000 bytes, refilled as the walk goes.
class EntryWalk {
 public:
  ~EntryWalk();
  EntryWalk(const EntryWalk&) = delete;
  EntryWalk& operator=(const EntryWalk&) = delete;

  // kZipOk with the walk in *walk, or kZipNoMoreEntries (an empty archive),
  // kZipInternalError or kZipDirectoryError.
  static int Open(const std::string& archive_path, std::unique_ptr<EntryWalk>* walk);

  // Fills *record with the next entry; kZipNoMoreEntries at the end of the
  // directory or at a record that is damaged or does not fit the buffer.
  int Next(CentralRecord* record);

  // Where the central directory starts.
  int64_t DirectoryOffset() const { return directory_offset_; }

 private:
  explicit EntryWalk(int fd) : fd_(fd) {}
  int LocateDirectory();
  bool Fill();

  static constexpr size_t kBufferSize = 64000;

  int fd_;
  int64_t directory_offset_ = 0;
  int64_t directory_end_ = 0;  // the end record's offset plus 4
  int64_t buffer_offset_ = 0;  // file offset of buffer_[0]
  std::vector<uint8_t> buffer_;
  size_t position_ = 0;
};

}  // namespace brindle
