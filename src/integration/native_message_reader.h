#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// Splits the byte stream a browser writes to its native messaging host into
// messages: a 4-byte length in the machine's byte order, then that many
// bytes of JSON. Bytes may arrive in any pieces; a message may be split
// across reads and one read may hold several.
class TNativeMessageReader {
 public:
  // A browser sends at most 4 GiB by the format; a download request is a
  // few kilobytes, so anything over this is refused before it is read.
  static constexpr uint32_t kMaxMessage = 1024 * 1024;

  enum class TResult {
    NeedMore,  // no whole message buffered yet
    Message,   // one message taken out of the buffer
    Invalid,   // a zero or oversized length: the stream cannot be trusted further
  };

  void Feed(std::string_view bytes) { buffer_.append(bytes); }
  TResult Next(std::string& message);
  // Bytes of an unfinished message (at the end of input: a truncated one).
  bool HasPartial() const { return !buffer_.empty(); }
  const std::string& Error() const { return error_; }

 private:
  std::string buffer_;
  std::string error_;
};

// json framed for the other direction (the host's answers).
std::string FrameNativeMessage(std::string_view json);

}  // namespace brindle
