#pragma once

#include <cstdint>

#include "archive/input_source.h"
#include "archive/unzip.h"

namespace brindle {

// An entry's compressed data in the archive file, read in 4096-byte blocks.
// Before each block the shared pass runs (idle routine, abort test) and the
// percent read goes to the progress routine when it changes.
class FileInput : public InputSource {
 public:
  FileInput(int fd, int64_t offset, int64_t size, const ZipProgressRoutine& progress);
  int Read(uint8_t* buffer, size_t capacity, size_t* got) override;
  // Reports 100 percent once the entry is done.
  void ReportComplete();

 private:
  // False when the routine asked for an abort.
  bool ReportPercent(int percent);

  static constexpr size_t kBlockSize = 4096;

  int fd_;
  int64_t offset_;
  int64_t size_;
  int64_t read_ = 0;
  int percent_ = 0;
  const ZipProgressRoutine& progress_;
};

}  // namespace brindle
