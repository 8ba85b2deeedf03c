#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/output_sink.h"

namespace brindle {

// The buffer decoders write into: it keeps the last `history` bytes for
// back-references and hands the rest to the sink in large chunks. Decoders
// keep the write position in a local variable and pass it in.
class OutputWindow {
 public:
  // With `zeros_before_start`, the window starts with `history` zero bytes
  // that count as output before the start (back-references into them give
  // zeros) but are never written to the sink.
  OutputWindow(OutputSink& sink, size_t history, size_t capacity, bool zeros_before_start);
  OutputWindow(const OutputWindow&) = delete;
  OutputWindow& operator=(const OutputWindow&) = delete;

  uint8_t* Data() { return data_.get(); }
  size_t Start() const { return start_; }
  size_t Capacity() const { return capacity_; }

  // Makes sure `room` bytes (plus the slack a match copy may overrun by)
  // fit after *pos, flushing and sliding when needed.
  int MakeRoom(size_t* pos, size_t room) { return *pos + room <= capacity_ ? 0 : Slide(pos, room); }
  // Hands everything written up to `pos` to the sink.
  int Flush(size_t pos);
  // Bytes decoded so far.
  int64_t Total(size_t pos) const { return flushed_total_ + static_cast<int64_t>(pos - flushed_); }

  // Copies `length` bytes from `distance` back; may write up to 7 bytes
  // beyond the copy, which the slack covers.
  static void CopyMatch(uint8_t* data, size_t pos, size_t distance, size_t length) {
    uint8_t* dst = data + pos;
    const uint8_t* src = dst - distance;
    if (distance >= 8) {
      for (size_t n = 0; n < length; n += 8) std::memcpy(dst + n, src + n, 8);
    } else if (distance == 1) {
      std::memset(dst, *src, length);
    } else {
      for (size_t n = 0; n < length; ++n) dst[n] = src[n];
    }
  }

  static constexpr size_t kSlack = 8;

 private:
  int Slide(size_t* pos, size_t room);

  OutputSink& sink_;
  size_t history_;
  size_t capacity_;
  size_t start_;
  std::unique_ptr<uint8_t[]> data_;
  size_t flushed_;  // what lies before this position went to the sink
  int64_t flushed_total_ = 0;
};

}  // namespace brindle
