#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// One complete reply of an FTP server.
struct TFtpReply {
  int Code = 0;      // 100..599
  std::string Text;  // every line of the reply, without line ends, joined by "\n"
};

// Cuts the byte stream of a control connection into replies. Lines end in
// LF, with or without CR. A line "ddd-..." opens a multi-line reply that
// ends with the first line starting with the same code and a blank (or
// nothing); any other line "ddd ..." is a reply of its own. Lines outside a
// reply that do not start with a code are dropped.
class TFtpReplyReader {
 public:
  // Adds bytes and appends the replies they complete to out. false: the
  // server sent a line or a reply beyond every sane length; the connection
  // should be given up (the reader keeps nothing more of it).
  bool Feed(const char* data, size_t size, std::vector<TFtpReply>& out);
  void Reset();

 private:
  bool TakeLine(std::string_view line, std::vector<TFtpReply>& out);

  std::string partial_;  // bytes after the last line end
  int multiCode_ = 0;    // code of the open multi-line reply; 0: none
  std::string multiText_;
};

// The reply code a line starts with (three digits, the first 1..5), or 0.
int FtpReplyCode(std::string_view line);

// The data port named by a 227 reply: the fifth of six comma-separated
// numbers (after "(" when there is one) times 256 plus the sixth. false when
// the text holds no such numbers or names port 0.
bool ParsePasvPort(std::string_view text, uint16_t& port);

// The size in a 213 reply ("213 <decimal>"), or -1 when it holds none.
int64_t ParseSizeReply(std::string_view text);

}  // namespace brindle
