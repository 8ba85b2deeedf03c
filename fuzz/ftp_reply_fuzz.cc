// fuzz-link: brindle_net
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/ftp_reply.h"

// Feeds the input as a control connection's byte stream, cut into pieces at
// places the first bytes choose, and checks what the reader hands back: every
// reply has a valid code, its text starts with that code, and cutting the
// stream differently gives the same replies. The 227 and 213 parsers see
// every reply.

namespace {

std::vector<brindle::TFtpReply> Read(const uint8_t* data, size_t size, size_t step, bool& ok) {
  brindle::TFtpReplyReader reader;
  std::vector<brindle::TFtpReply> replies;
  ok = true;
  for (size_t pos = 0; pos < size && ok; pos += step)
    ok = reader.Feed(reinterpret_cast<const char*>(data + pos), std::min(step, size - pos), replies);
  return replies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t step = 1 + data[0] % 17;
  data += 1;
  size -= 1;
  bool okWhole = false;
  bool okPieces = false;
  const std::vector<brindle::TFtpReply> whole = Read(data, size, size == 0 ? 1 : size, okWhole);
  const std::vector<brindle::TFtpReply> pieces = Read(data, size, step, okPieces);
  if (okWhole && okPieces) {
    if (whole.size() != pieces.size()) std::abort();
    for (size_t i = 0; i < whole.size(); ++i)
      if (whole[i].Code != pieces[i].Code || whole[i].Text != pieces[i].Text) std::abort();
  }
  for (const brindle::TFtpReply& reply : pieces) {
    if (reply.Code < 100 || reply.Code > 599) std::abort();
    if (brindle::FtpReplyCode(reply.Text) != reply.Code) std::abort();
    uint16_t port = 0;
    if (brindle::ParsePasvPort(reply.Text, port) && port == 0) std::abort();
    const int64_t sizeValue = brindle::ParseSizeReply(reply.Text);
    if (sizeValue < -1) std::abort();
  }
  uint16_t port = 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (brindle::ParsePasvPort(text, port) && port == 0) std::abort();
  if (brindle::ParseSizeReply(text) < -1) std::abort();
  return 0;
}
