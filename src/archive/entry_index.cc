#include "archive/entry_index.h"

#include <algorithm>
#include <memory>

#include "archive/unzip.h"

namespace brindle {
namespace {

bool ByOffset(const CentralRecord& a, const CentralRecord& b) { return a.LocalHeaderOffset < b.LocalHeaderOffset; }

}  // namespace

int EntryIndex::Load(const std::string& archive_path) {
  records_.clear();
  directory_offset_ = 0;
  std::unique_ptr<EntryWalk> walk;
  const int rc = EntryWalk::Open(archive_path, &walk);
  if (rc == kZipNoMoreEntries) return kZipOk;
  if (rc != kZipOk) return rc;
  directory_offset_ = walk->DirectoryOffset();
  CentralRecord record;
  while (walk->Next(&record) == kZipOk) records_.push_back(record);
  std::stable_sort(records_.begin(), records_.end(), ByOffset);
  return kZipOk;
}

const CentralRecord* EntryIndex::Find(uint32_t offset) const {
  CentralRecord key;
  key.LocalHeaderOffset = offset;
  const auto it = std::lower_bound(records_.begin(), records_.end(), key, ByOffset);
  return it != records_.end() && it->LocalHeaderOffset == offset ? &*it : nullptr;
}

bool EntryIndex::Shared(uint32_t offset) const {
  CentralRecord key;
  key.LocalHeaderOffset = offset;
  const auto range = std::equal_range(records_.begin(), records_.end(), key, ByOffset);
  return range.second - range.first > 1;
}

int64_t EntryIndex::LimitAfter(uint32_t offset) const {
  CentralRecord key;
  key.LocalHeaderOffset = offset;
  const auto it = std::upper_bound(records_.begin(), records_.end(), key, ByOffset);
  return it != records_.end() ? std::min<int64_t>(it->LocalHeaderOffset, directory_offset_) : directory_offset_;
}

}  // namespace brindle
