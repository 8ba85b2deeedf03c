#include "platform/hand_over_request.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

namespace brindle {
namespace {

constexpr std::string_view kMagic = "BHO1";
constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxKey = 32;
constexpr int kMaxParts = 999999;

using Field = std::pair<std::string_view, std::string_view>;

void AppendField(std::string& body, std::string_view key, std::string_view value) {
  body.append(key);
  body += '=';
  body += std::to_string(value.size());
  body += ':';
  body.append(value);
  body += '\n';
}

std::string Frame(const std::string& body) {
  std::string frame(kMagic);
  const uint32_t size = static_cast<uint32_t>(body.size());
  for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xFF);
  return frame + body;
}

THandOverDecode Unframe(std::string_view data, std::string_view& body) {
  // Garbage is refused from its first bytes, without waiting for more.
  if (data.substr(0, kMagic.size()) != kMagic.substr(0, std::min(data.size(), kMagic.size())))
    return THandOverDecode::Invalid;
  if (data.size() < kHeaderSize) return THandOverDecode::Incomplete;
  uint32_t size = 0;
  for (size_t i = kMagic.size(); i < kHeaderSize; ++i) size = (size << 8) | static_cast<unsigned char>(data[i]);
  if (size > kHandOverMaxFrame - kHeaderSize) return THandOverDecode::Invalid;
  if (data.size() < kHeaderSize + size) return THandOverDecode::Incomplete;
  if (data.size() > kHeaderSize + size) return THandOverDecode::Invalid;
  body = data.substr(kHeaderSize, size);
  return THandOverDecode::Complete;
}

bool ParseFields(std::string_view body, std::vector<Field>& fields) {
  while (!body.empty()) {
    const size_t equals = body.find('=');
    if (equals == 0 || equals == std::string_view::npos || equals > kMaxKey) return false;
    const std::string_view key = body.substr(0, equals);
    for (char c : key)
      if (c < 'a' || c > 'z') return false;
    body.remove_prefix(equals + 1);
    const size_t colon = body.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > 7) return false;
    if (body[0] == '0' && colon > 1) return false;
    size_t length = 0;
    for (size_t i = 0; i < colon; ++i) {
      if (body[i] < '0' || body[i] > '9') return false;
      length = length * 10 + static_cast<size_t>(body[i] - '0');
    }
    body.remove_prefix(colon + 1);
    if (length >= body.size() || body[length] != '\n') return false;
    for (const Field& field : fields)
      if (field.first == key) return false;
    fields.emplace_back(key, body.substr(0, length));
    body.remove_prefix(length + 1);
  }
  return true;
}

std::optional<std::string_view> Find(const std::vector<Field>& fields, std::string_view key) {
  for (const Field& field : fields)
    if (field.first == key) return field.second;
  return std::nullopt;
}

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool HasControlCharacter(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

std::string EncodeHandOverRequest(const THandOverRequest& request) {
  std::string body;
  if (!request.Structured) {
    AppendField(body, "kind", "text");
    AppendField(body, "url", request.Url);
  } else {
    AppendField(body, "kind", "download");
    AppendField(body, "url", request.Url);
    AppendField(body, "dir", request.Directory);
    AppendField(body, "name", request.FileName);
    AppendField(body, "parts", std::to_string(request.Parts < 0 ? 0 : request.Parts));
    if (!request.Referrer.empty()) AppendField(body, "referer", request.Referrer);
    if (!request.Cookies.empty()) AppendField(body, "cookie", request.Cookies);
    if (request.Checksum) AppendField(body, "checksum", request.Checksum->Text());
  }
  return Frame(body);
}

std::string EncodeHandOverAnswer(int answer) {
  std::string body;
  AppendField(body, "answer", std::to_string(answer));
  return Frame(body);
}

THandOverDecode DecodeHandOverRequest(std::string_view data, THandOverRequest& request) {
  std::string_view body;
  const THandOverDecode state = Unframe(data, body);
  if (state != THandOverDecode::Complete) return state;
  std::vector<Field> fields;
  if (!ParseFields(body, fields)) return THandOverDecode::Invalid;
  const auto kind = Find(fields, "kind");
  const std::string_view url = Find(fields, "url").value_or("");
  THandOverRequest decoded;
  if (kind == "text") {
    decoded.Url = std::string(url.substr(0, url.find('\0')));
  } else if (kind == "download") {
    decoded.Structured = true;
    const std::string_view directory = Find(fields, "dir").value_or("");
    const std::string_view fileName = Find(fields, "name").value_or("");
    if (HasNul(url) || HasNul(directory) || HasNul(fileName)) return THandOverDecode::Invalid;
    decoded.Url = std::string(url);
    decoded.Directory = std::string(directory);
    decoded.FileName = std::string(fileName);
    const std::string_view referrer = Find(fields, "referer").value_or("");
    const std::string_view cookies = Find(fields, "cookie").value_or("");
    if (HasControlCharacter(referrer) || HasControlCharacter(cookies)) return THandOverDecode::Invalid;
    decoded.Referrer = std::string(referrer);
    decoded.Cookies = std::string(cookies);
    if (const auto checksum = Find(fields, "checksum")) {
      decoded.Checksum = ParseChecksum(*checksum);
      if (!decoded.Checksum) return THandOverDecode::Invalid;
    }
    if (const auto parts = Find(fields, "parts")) {
      const auto value = ParseInt(*parts);
      if (!value || *value < 0 || *value > kMaxParts || (*parts)[0] == '-') return THandOverDecode::Invalid;
      decoded.Parts = *value;
    }
  } else {
    return THandOverDecode::Invalid;
  }
  request = std::move(decoded);
  return THandOverDecode::Complete;
}

THandOverDecode DecodeHandOverAnswer(std::string_view data, int& answer) {
  std::string_view body;
  const THandOverDecode state = Unframe(data, body);
  if (state != THandOverDecode::Complete) return state;
  std::vector<Field> fields;
  if (!ParseFields(body, fields)) return THandOverDecode::Invalid;
  const auto text = Find(fields, "answer");
  const auto value = text ? ParseInt(*text) : std::nullopt;
  if (!value) return THandOverDecode::Invalid;
  answer = *value;
  return THandOverDecode::Complete;
}

}  // namespace brindle
