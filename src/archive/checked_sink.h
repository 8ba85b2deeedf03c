#pragma once

#include <cstdint>

#include "archive/crc32.h"
#include "archive/output_sink.h"

namespace brindle {

// Passes decoded bytes on while computing their CRC-32 and refusing any
// byte beyond the entry's stated size, so a crafted entry cannot produce
// more than it declares.
class CheckedSink : public OutputSink {
 public:
  CheckedSink(OutputSink& target, int64_t limit) : target_(target), limit_(limit) {}
  int Write(const uint8_t* data, size_t size) override;
  int64_t Total() const { return total_; }
  uint32_t Crc() const { return crc_.Value(); }

 private:
  OutputSink& target_;
  int64_t limit_;
  int64_t total_ = 0;
  Crc32 crc_;
};

}  // namespace brindle
