#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brindle {

enum class TChunkedState {
  NeedMore,   // the body goes on
  Complete,   // the last chunk and the trailer section have been read
  Malformed,  // the framing is broken: Error() says how; nothing more is read
};

// Takes the chunk framing off a "Transfer-Encoding: chunked" body (RFC 9112
// section 7.1): hexadecimal sizes, chunk extensions (skipped), chunk data,
// the last chunk and the trailer section (read and dropped). Lines end in
// CR LF or LF alone. It keeps no bytes of its own: the body bytes it hands
// out point into the input, so decoding costs no copy.
class TChunkedDecoder {
 public:
  // Reads input from data until the end of the next run of body bytes, the
  // end of the input or the end of the body, and returns how many bytes it
  // used (at least one while the state is NeedMore and size > 0). body is
  // set to the body bytes among them (empty when there are none). Bytes
  // after the end of the body are not used.
  size_t Decode(const char* data, size_t size, std::string_view& body);

  TChunkedState State() const { return state_; }
  // Why the framing is malformed ("" otherwise).
  std::string_view Error() const { return error_; }

 private:
  enum class TStep {
    SizeFirst,     // the first hex digit of a chunk size
    Size,          // more hex digits
    AfterSize,     // blanks before an extension or the line end
    Extension,     // the rest of the size line
    Data,          // chunk data
    DataEnd,       // the line end after chunk data
    TrailerStart,  // a trailer field line, or the empty line that ends the body
    TrailerLine,   // the rest of a trailer field line
    Lf,            // a CR was read: the LF must follow
    Done,          // the empty line after the trailer section: the body is complete
  };

  void Take(char c);
  // true when c ends the line (CR, whose LF must follow, or LF alone); next
  // says what follows the line.
  bool EndsLine(char c, TStep next);
  // A line ended; next says what follows it (TStep::Data: the size line of
  // the chunk just read).
  void EndLine(TStep next);
  void Fail(const char* why);

  TChunkedState state_ = TChunkedState::NeedMore;
  TStep step_ = TStep::SizeFirst;
  TStep afterLf_ = TStep::SizeFirst;  // where a line ended by CR LF goes on
  uint64_t size_ = 0;                 // the chunk size being read
  uint64_t remaining_ = 0;            // chunk data still to come
  const char* error_ = "";
};

}  // namespace brindle
