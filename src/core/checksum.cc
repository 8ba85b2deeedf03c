#include "core/checksum.h"

#include <array>

#include "core/ascii_case.h"

namespace brindle {
namespace {

struct TAlgorithmInfo {
  TDigestAlgorithm Algorithm;
  std::string_view Name;
  size_t Bytes;
};

constexpr std::array<TAlgorithmInfo, 4> kAlgorithms = {{
    {TDigestAlgorithm::Md5, "md5", 16},
    {TDigestAlgorithm::Sha1, "sha1", 20},
    {TDigestAlgorithm::Sha256, "sha256", 32},
    {TDigestAlgorithm::Sha512, "sha512", 64},
}};

const TAlgorithmInfo& InfoOf(TDigestAlgorithm algorithm) {
  for (const TAlgorithmInfo& info : kAlgorithms)
    if (info.Algorithm == algorithm) return info;
  return kAlgorithms[2];
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Standard base64, its padding optional (servers differ).
std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.size() % 4 == 0 && text.ends_with("==")) text.remove_suffix(2);
  else if (text.size() % 4 == 0 && text.ends_with("=")) text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return bytes;
}

// The members of a comma-separated field value, as "key=value" split at the
// first "=", keys in lower case.
std::vector<std::pair<std::string, std::string_view>> Members(std::string_view value) {
  std::vector<std::pair<std::string, std::string_view>> members;
  while (!value.empty()) {
    const size_t comma = value.find(',');
    const std::string_view member = Trimmed(value.substr(0, comma));
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    const size_t equals = member.find('=');
    if (equals != std::string_view::npos)
      members.emplace_back(LowerCaseAscii(Trimmed(member.substr(0, equals))), Trimmed(member.substr(equals + 1)));
  }
  return members;
}

// Every line of the field named name (in lower case), their values joined
// by commas as one list.
std::string FieldValue(const std::vector<std::string>& lines, std::string_view name) {
  std::string value;
  for (const std::string& line : lines) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !SameTextIgnoringCase(Trimmed(std::string_view(line).substr(0, colon)), name))
      continue;
    if (!value.empty()) value += ',';
    value += std::string_view(line).substr(colon + 1);
  }
  return value;
}

// The member named key whose value (base64, in colons for Repr-Digest's
// byte sequences) decodes to a digest of the algorithm's size.
std::optional<TChecksum> DigestMember(const std::string& fieldValue, std::string_view key, bool byteSequence,
                                      TDigestAlgorithm algorithm) {
  for (const auto& [name, raw] : Members(fieldValue)) {
    if (name != key) continue;
    std::string_view encoded = raw;
    if (byteSequence) {
      // A structured field's parameters follow a ";", which base64 never holds.
      encoded = Trimmed(encoded.substr(0, encoded.find(';')));
      if (encoded.size() < 2 || encoded.front() != ':' || encoded.back() != ':') continue;
      encoded = encoded.substr(1, encoded.size() - 2);
    }
    const std::optional<std::string> bytes = DecodeBase64(encoded);
    if (bytes && bytes->size() == DigestBytes(algorithm)) return TChecksum{algorithm, HexOf(*bytes)};
  }
  return std::nullopt;
}

}  // namespace

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

std::string_view AlgorithmName(TDigestAlgorithm algorithm) { return InfoOf(algorithm).Name; }

size_t DigestBytes(TDigestAlgorithm algorithm) { return InfoOf(algorithm).Bytes; }

std::string TChecksum::Text() const { return std::string(AlgorithmName(Algorithm)) + "=" + Hex; }

std::optional<TChecksum> ParseChecksum(std::string_view text, std::string* error) {
  const auto fail = [error](std::string why) -> std::optional<TChecksum> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  text = Trimmed(text);
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos)
    return fail("not ALGO=HEX (md5, sha1, sha256 or sha512, \"=\" and the digest in hex digits)");
  const std::string name = LowerCaseAscii(Trimmed(text.substr(0, equals)));
  const std::string_view digits = Trimmed(text.substr(equals + 1));
  for (const TAlgorithmInfo& info : kAlgorithms) {
    if (info.Name != name) continue;
    if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
      return fail("the digest must be hex digits (0-9, a-f)");
    if (digits.size() != info.Bytes * 2)
      return fail(name + " takes " + std::to_string(info.Bytes * 2) + " hex digits, not " +
                  std::to_string(digits.size()));
    return TChecksum{info.Algorithm, LowerCaseAscii(digits)};
  }
  return fail("unknown algorithm \"" + name + "\" (md5, sha1, sha256 or sha512)");
}

std::optional<TChecksum> WholeFileDigest(const std::vector<std::string>& headerLines) {
  const std::string repr = FieldValue(headerLines, "repr-digest");
  const std::string digest = FieldValue(headerLines, "digest");
  if (auto found = DigestMember(repr, "sha-256", true, TDigestAlgorithm::Sha256)) return found;
  if (auto found = DigestMember(repr, "sha-512", true, TDigestAlgorithm::Sha512)) return found;
  if (auto found = DigestMember(digest, "sha-256", false, TDigestAlgorithm::Sha256)) return found;
  return DigestMember(digest, "sha-512", false, TDigestAlgorithm::Sha512);
}

}  // namespace brindle
