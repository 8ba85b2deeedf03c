#include "archive/checked_sink.h"

#include "archive/unzip.h"

namespace brindle {

int CheckedSink::Write(const uint8_t* data, size_t size) {
  if (static_cast<int64_t>(size) > limit_ - total_) return kZipArchiveError;
  crc_.Update(data, size);
  total_ += static_cast<int64_t>(size);
  return target_.Write(data, size);
}

}  // namespace brindle
