#include "archive/bit_reader.h"

#include <algorithm>
#include <cstring>

namespace brindle {

BitReader::BitReader(InputSource& source)
    : source_(source), buffer_(new uint8_t[kBufferSize]), next_(buffer_.get()), end_(next_) {}

int BitReader::Status() const {
  if (error_ != kZipOk) return error_;
  return pad_bits_ > count_ ? kZipArchiveError : kZipOk;
}

bool BitReader::FillBuffer() {
  if (at_end_) return false;
  size_t got = 0;
  const int rc = source_.Read(buffer_.get(), kBufferSize, &got);
  if (rc != kZipOk) {
    error_ = rc;
    got = 0;
  }
  got = std::min(got, kBufferSize);
  next_ = buffer_.get();
  end_ = next_ + got;
  if (got == 0) at_end_ = true;
  return got > 0;
}

void BitReader::RefillSlow() {
  while (count_ <= 56) {
    if (next_ == end_ && !FillBuffer()) {
      // A fast refill may have left bits of the following byte above
      // count_; at the end there is no such byte, but clear them anyway so
      // the padding is really zero.
      bits_ &= count_ == 0 ? 0 : (~uint64_t{0} >> (64 - count_));
      count_ += 8;
      pad_bits_ += 8;
      continue;
    }
    bits_ |= uint64_t{*next_++} << count_;
    count_ += 8;
  }
}

int BitReader::ReadBytes(uint8_t* out, size_t size) {
  while (size > 0 && count_ >= 8) {
    *out++ = static_cast<uint8_t>(bits_);
    Consume(8);
    --size;
    if (Broken()) return Status();
  }
  if (size == 0) return kZipOk;
  // The bit buffer is empty: drop what a fast refill left above count_, as
  // those bytes are now copied straight from the block buffer.
  bits_ = 0;
  count_ = 0;
  while (size > 0) {
    if (next_ == end_ && !FillBuffer()) return error_ != kZipOk ? error_ : kZipArchiveError;
    const size_t n = std::min(size, static_cast<size_t>(end_ - next_));
    std::memcpy(out, next_, n);
    next_ += n;
    out += n;
    size -= n;
  }
  return kZipOk;
}

}  // namespace brindle
