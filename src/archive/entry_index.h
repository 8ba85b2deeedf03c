#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry_walk.h"

namespace brindle {

// Every entry of the central directory by local-header offset: tells where
// an entry's local data may end (at the next local header, or at the
// directory) and which entries share a local header, so that overlapping
// entries (a way to build decompression bombs) can be refused.
class EntryIndex {
 public:
  // Walks the directory; kZipOk (also for an archive without entries),
  // kZipInternalError or kZipDirectoryError.
  int Load(const std::string& archive_path);

  // The directory's record for the entry at `offset`, or null.
  const CentralRecord* Find(uint32_t offset) const;
  // True when another entry has its local header at the same offset.
  bool Shared(uint32_t offset) const;
  // The first byte the entry at `offset` must not reach.
  int64_t LimitAfter(uint32_t offset) const;

 private:
  std::vector<CentralRecord> records_;  // by local-header offset
  int64_t directory_offset_ = 0;
};

}  // namespace brindle
