#include "archive/unshrinker.h"

#include <algorithm>
#include <cstring>

#include "archive/unzip.h"

namespace brindle {
namespace {

constexpr uint16_t kUnused = 0xFFFF;
constexpr unsigned kFirstCode = 257;
constexpr unsigned kControlCode = 256;
constexpr unsigned kNoCode = 0xFFFF;
constexpr size_t kWindowSize = 65536;
// The longest string: one literal plus one step per table code, and once
// more the previous string's first byte.
constexpr size_t kScratchSize = 8192 + 2;

}  // namespace

Unshrinker::Unshrinker(InputSource& input, OutputSink& output, int64_t uncompressed_size)
    : reader_(input),
      window_(output, 0, kWindowSize, false),
      size_(uncompressed_size),
      prefix_(new uint16_t[kCodeCount]),
      suffix_(new uint8_t[kCodeCount]()),
      is_prefix_(new bool[kCodeCount]),
      scratch_(new uint8_t[kScratchSize]) {
  std::fill(prefix_.get(), prefix_.get() + kCodeCount, kUnused);
  free_codes_.reserve(kCodeCount - kFirstCode);
  for (unsigned code = kFirstCode; code < kCodeCount; ++code) free_codes_.push_back(static_cast<uint16_t>(code));
}

unsigned Unshrinker::NextFreeCode() const {
  return next_free_ < free_codes_.size() ? free_codes_[next_free_] : kNoCode;
}

void Unshrinker::PartialClear() {
  // Clearing again before anything was added or freed changes nothing; a
  // stream of bare clears must not cost a table scan each.
  if (!table_changed_) return;
  std::fill(is_prefix_.get(), is_prefix_.get() + kCodeCount, false);
  for (unsigned code = kFirstCode; code < kCodeCount; ++code) {
    if (prefix_[code] != kUnused) is_prefix_[prefix_[code]] = true;
  }
  free_codes_.clear();
  next_free_ = 0;
  table_changed_ = false;
  for (unsigned code = kFirstCode; code < kCodeCount; ++code) {
    if (is_prefix_[code]) continue;
    if (prefix_[code] != kUnused) table_changed_ = true;
    prefix_[code] = kUnused;
    free_codes_.push_back(static_cast<uint16_t>(code));
  }
}

// A code's string is its prefix's string plus its suffix byte, evaluated
// now: a prefix freed by a partial clear and reused since stands for its new
// string. A free code that is the next one to be assigned is the code this
// step is about to add (the previous string plus its own first byte).
size_t Unshrinker::Expand(unsigned code, unsigned previous, uint8_t previous_first) {
  uint8_t* const end = scratch_.get() + kScratchSize;
  uint8_t* p = end;
  const unsigned next_free = NextFreeCode();
  while (code >= kFirstCode) {
    if (p == scratch_.get() + 1) return 0;  // a loop in the table
    if (prefix_[code] != kUnused) {
      *--p = suffix_[code];
      code = prefix_[code];
    } else if (code == next_free && previous != kNoCode) {
      *--p = previous_first;
      code = previous;
    } else {
      return 0;
    }
  }
  if (code == kControlCode) return 0;
  *--p = static_cast<uint8_t>(code);
  return static_cast<size_t>(end - p);
}

int Unshrinker::Run() {
  uint8_t* const out = window_.Data();
  size_t pos = window_.Start();
  unsigned code_size = 9;
  unsigned previous = kNoCode;
  uint8_t previous_first = 0;
  int64_t left = size_;
  while (left > 0) {
    reader_.Refill();
    const unsigned code = reader_.Take(code_size);
    if (reader_.Broken()) return reader_.Status();
    if (code == kControlCode) {
      const unsigned control = reader_.Take(code_size);
      if (reader_.Broken()) return reader_.Status();
      if (control == 1 && code_size < 13) {
        ++code_size;
      } else if (control == 2) {
        PartialClear();
      } else {
        return kZipArchiveError;
      }
      continue;
    }
    if (previous == kNoCode && code >= 256) return kZipArchiveError;
    const size_t length = Expand(code, previous, previous_first);
    if (length == 0) return kZipArchiveError;
    const uint8_t* string = scratch_.get() + kScratchSize - length;
    const uint8_t first = string[0];
    size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(length), left));
    left -= static_cast<int64_t>(n);
    while (n > 0) {
      if (const int rc = window_.MakeRoom(&pos, 1); rc != kZipOk) return rc;
      const size_t chunk = std::min(n, window_.Capacity() - pos);
      std::memcpy(out + pos, string, chunk);
      pos += chunk;
      string += chunk;
      n -= chunk;
    }
    if (previous != kNoCode && next_free_ < free_codes_.size()) {
      const unsigned added = free_codes_[next_free_++];
      prefix_[added] = static_cast<uint16_t>(previous);
      suffix_[added] = first;
      table_changed_ = true;
    }
    previous = code;
    previous_first = first;
  }
  return window_.Flush(pos);
}

}  // namespace brindle
