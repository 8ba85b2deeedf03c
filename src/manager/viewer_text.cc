#include "manager/viewer_text.h"

#include <fstream>
#include <vector>

#include "core/log_error.h"

namespace brindle {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// How many bytes at text[i] belong to one sequence: all of it when valid
// (valid true), else the maximal prefix that could have begun one, at least 1.
size_t SequenceAt(std::string_view text, size_t i, bool& valid) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  valid = lead < 0x80;
  if (valid) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead == 0xE0) length = 3, low = 0xA0;
  else if (lead >= 0xE1 && lead <= 0xEC) length = 3;
  else if (lead == 0xED) length = 3, high = 0x9F;  // no surrogates
  else if (lead >= 0xEE && lead <= 0xEF) length = 3;
  else if (lead == 0xF0) length = 4, low = 0x90;
  else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
  else if (lead == 0xF4) length = 4, high = 0x8F;  // nothing above U+10FFFF
  else return 1;
  size_t k = 1;
  for (; k < length && i + k < text.size(); ++k) {
    const unsigned char c = at(i + k);
    if (k == 1 ? c < low || c > high : !IsContinuation(c)) break;
  }
  valid = k == length;
  return k;
}

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    bool valid = false;
    const size_t length = SequenceAt(bytes, i, valid);
    if (valid) out.append(bytes.substr(i, length));
    else out.append(kReplacement);
    i += length;
  }
  return out;
}

std::string LoadViewerText(const std::string& path, int64_t maxBytes) {
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in || maxBytes <= 0) return "";
    std::vector<char> buffer(static_cast<size_t>(maxBytes));
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return ValidUtf8(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
  } catch (...) {
    LogError("ViewFile");
    return "";
  }
}

}  // namespace brindle
