#include "net/chunked_decoder.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace brindle {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Blank(char c) { return c == ' ' || c == '\t'; }

// Byte counts are int64_t everywhere: a chunk larger than that is refused
// rather than wrapped.
constexpr uint64_t kMaxChunkSize = std::numeric_limits<int64_t>::max();

}  // namespace

size_t TChunkedDecoder::Decode(const char* data, size_t size, std::string_view& body) {
  body = {};
  size_t used = 0;
  while (used < size && state_ == TChunkedState::NeedMore) {
    if (step_ == TStep::Data) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining_, size - used));
      body = std::string_view(data + used, n);
      used += n;
      remaining_ -= n;
      if (remaining_ == 0) step_ = TStep::DataEnd;
      return used;
    }
    Take(data[used++]);
  }
  return used;
}

void TChunkedDecoder::Take(char c) {
  switch (step_) {
    case TStep::SizeFirst:
    case TStep::Size: {
      const int digit = HexDigit(c);
      if (digit >= 0) {
        if (size_ > (kMaxChunkSize - static_cast<uint64_t>(digit)) / 16) {
          Fail("chunk size too large");
        } else {
          size_ = size_ * 16 + static_cast<uint64_t>(digit);
          step_ = TStep::Size;
        }
      } else if (step_ == TStep::SizeFirst) {
        Fail("bad chunk size");
      } else if (Blank(c)) {
        step_ = TStep::AfterSize;
      } else if (c == ';') {
        step_ = TStep::Extension;
      } else if (!EndsLine(c, TStep::Data)) {
        Fail("bad chunk size");
      }
      return;
    }
    case TStep::AfterSize:
      if (c == ';') {
        step_ = TStep::Extension;
      } else if (!Blank(c) && !EndsLine(c, TStep::Data)) {
        Fail("bad chunk size");
      }
      return;
    case TStep::Extension:
      // Extensions and trailer fields carry nothing the body needs.
      EndsLine(c, TStep::Data);
      return;
    case TStep::TrailerLine:
      EndsLine(c, TStep::TrailerStart);
      return;
    case TStep::DataEnd:
      if (!EndsLine(c, TStep::SizeFirst)) Fail("missing CRLF after chunk data");
      return;
    case TStep::TrailerStart:
      if (!EndsLine(c, TStep::Done)) step_ = TStep::TrailerLine;
      return;
    case TStep::Lf:
      if (c == '\n') {
        EndLine(afterLf_);
      } else {
        Fail(afterLf_ == TStep::SizeFirst ? "missing CRLF after chunk data" : "CR without LF");
      }
      return;
    case TStep::Data:
    case TStep::Done:
      return;
  }
}

bool TChunkedDecoder::EndsLine(char c, TStep next) {
  if (c == '\r') {
    step_ = TStep::Lf;
    afterLf_ = next;
    return true;
  }
  if (c == '\n') {
    EndLine(next);
    return true;
  }
  return false;
}

void TChunkedDecoder::EndLine(TStep next) {
  if (next == TStep::Done) {
    state_ = TChunkedState::Complete;
  } else if (next == TStep::Data && size_ == 0) {
    step_ = TStep::TrailerStart;  // the last chunk
  } else if (next == TStep::Data) {
    remaining_ = size_;
    size_ = 0;
    step_ = TStep::Data;
  } else {
    step_ = next;
  }
}

void TChunkedDecoder::Fail(const char* why) {
  state_ = TChunkedState::Malformed;
  error_ = why;
}

}  // namespace brindle
