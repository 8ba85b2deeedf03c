#include "net/ftp_reply.h"

#include <cstring>

namespace brindle {

namespace {

// Far above what any server sends; a peer that goes past them is broken or
// hostile and would otherwise make the client hold unbounded text.
constexpr size_t kMaxLine = 64 * 1024;
constexpr size_t kMaxReply = 1024 * 1024;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number of at most maxDigits digits at text[pos].
bool ReadNumber(std::string_view text, size_t& pos, int64_t& value, size_t maxDigits) {
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && IsDigit(text[pos]) && pos - start < maxDigits) value = value * 10 + (text[pos++] - '0');
  return pos > start && (pos >= text.size() || !IsDigit(text[pos]));
}

}  // namespace

int FtpReplyCode(std::string_view line) {
  if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !IsDigit(line[1]) || !IsDigit(line[2])) return 0;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

void TFtpReplyReader::Reset() {
  partial_.clear();
  multiCode_ = 0;
  multiText_.clear();
}

bool TFtpReplyReader::Feed(const char* data, size_t size, std::vector<TFtpReply>& out) {
  while (size > 0) {
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    if (!newline) {
      if (partial_.size() + size > kMaxLine) {
        Reset();
        return false;
      }
      partial_.append(data, size);
      return true;
    }
    const size_t length = static_cast<size_t>(newline - data);
    std::string_view line;
    if (partial_.empty()) {
      line = std::string_view(data, length);
    } else {
      if (partial_.size() + length > kMaxLine) {
        Reset();
        return false;
      }
      partial_.append(data, length);
      line = partial_;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool ok = TakeLine(line, out);
    partial_.clear();
    if (!ok) {
      Reset();
      return false;
    }
    data = newline + 1;
    size -= length + 1;
  }
  return true;
}

bool TFtpReplyReader::TakeLine(std::string_view line, std::vector<TFtpReply>& out) {
  const int code = FtpReplyCode(line);
  if (multiCode_ != 0) {
    if (multiText_.size() + line.size() + 1 > kMaxReply) return false;
    multiText_ += '\n';
    multiText_ += line;
    if (code == multiCode_ && (line.size() == 3 || line[3] == ' ')) {
      out.push_back({multiCode_, std::move(multiText_)});
      multiText_.clear();
      multiCode_ = 0;
    }
    return true;
  }
  if (code == 0) return true;
  if (line.size() > 3 && line[3] == '-') {
    multiCode_ = code;
    multiText_ = std::string(line);
    return true;
  }
  out.push_back({code, std::string(line)});
  return true;
}

bool ParsePasvPort(std::string_view text, uint16_t& port) {
  const size_t paren = text.find('(');
  // Without "(" the numbers follow the code and some words.
  size_t pos = paren != std::string_view::npos ? paren + 1 : (text.size() > 3 ? 4 : text.size());
  while (pos < text.size()) {
    if (!IsDigit(text[pos])) {
      ++pos;
      continue;
    }
    int64_t numbers[6] = {};
    size_t at = pos;
    int count = 0;
    while (count < 6 && ReadNumber(text, at, numbers[count], 3) && numbers[count] <= 255) {
      ++count;
      if (count < 6) {
        if (at >= text.size() || text[at] != ',') break;
        ++at;
      }
    }
    if (count == 6) {
      const int64_t value = numbers[4] * 256 + numbers[5];
      if (value == 0) return false;
      port = static_cast<uint16_t>(value);
      return true;
    }
    // Not the six numbers: look on after this run of digits.
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
  }
  return false;
}

int64_t ParseSizeReply(std::string_view text) {
  if (FtpReplyCode(text) != 213 || text.size() < 5 || text[3] != ' ') return -1;
  size_t pos = 4;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  int64_t value = 0;
  // 18 digits cannot overflow an int64_t.
  if (!ReadNumber(text, pos, value, 18)) return -1;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\r')) ++pos;
  return pos == text.size() ? value : -1;
}

}  // namespace brindle
