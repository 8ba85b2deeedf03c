#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

enum class TDigestAlgorithm : uint8_t { Md5, Sha1, Sha256, Sha512 };

// A digest a finished file must have: the user's (brindle-cli's --checksum,
// the windows' "Checksum" field) or the one a server sent for the file.
struct TChecksum {
  TDigestAlgorithm Algorithm = TDigestAlgorithm::Sha256;
  std::string Hex;  // the digest in lower-case hex digits

  // "sha256=<hex>": as the user writes it and the record keeps it.
  std::string Text() const;
  bool operator==(const TChecksum&) const = default;
};

// "md5", "sha1", "sha256" or "sha512".
std::string_view AlgorithmName(TDigestAlgorithm algorithm);
size_t DigestBytes(TDigestAlgorithm algorithm);

// Bytes as lower-case hex digits, two per byte.
std::string HexOf(std::string_view bytes);

// "ALGO=HEX" as the user gives it: md5, sha1, sha256 or sha512, "=", and
// exactly as many hex digits as that digest has; names and digits in either
// case, blanks around them ignored. nullopt when the text is not such a
// checksum, error (when given) then saying why.
std::optional<TChecksum> ParseChecksum(std::string_view text, std::string* error = nullptr);

// The whole file's digest in an HTTP answer's header lines ("Name: value"):
// Repr-Digest with sha-256 or sha-512 (RFC 9530), else Digest with SHA-256
// or SHA-512 (RFC 3230 with the names of RFC 5843); sha-256 when both are
// given. Content-Digest covers only the content sent, which for a 206 is a
// part, and is never taken. nullopt when the answer gives none of these, or
// gives it malformed.
std::optional<TChecksum> WholeFileDigest(const std::vector<std::string>& headerLines);

}  // namespace brindle
