#include "core/checksum.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

// The digests of "abc" (FIPS 180-2 and RFC 1321 test vectors).
const std::string kSha256Hex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kSha256Base64 = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";
const std::string kSha512Hex =
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
    "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";
const std::string kSha512Base64 =
    "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==";

TEST(ChecksumTest, UserChecksumIsAlgorithmEqualsHexDigitsOfItsLength) {
  const std::pair<std::string, std::string> valid[] = {
      {"md5 = 900150983cd24fb0d6963f7d28e17f72", "md5=900150983cd24fb0d6963f7d28e17f72"},
      {" SHA1=A9993E364706816ABA3E25717850C26C9CD0D89D\t", "sha1=a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"sha256=" + kSha256Hex, "sha256=" + kSha256Hex},
      {"Sha512=" + kSha512Hex, "sha512=" + kSha512Hex},
  };
  for (const auto& [text, normal] : valid) {
    const std::optional<TChecksum> checksum = ParseChecksum(text);
    ASSERT_TRUE(checksum) << text;
    EXPECT_EQ(checksum->Text(), normal);
  }
  const std::pair<std::string, std::string> invalid[] = {
      {"", "not ALGO=HEX (md5, sha1, sha256 or sha512, \"=\" and the digest in hex digits)"},
      {kSha256Hex, "not ALGO=HEX (md5, sha1, sha256 or sha512, \"=\" and the digest in hex digits)"},
      {"sha-256=" + kSha256Hex, "unknown algorithm \"sha-256\" (md5, sha1, sha256 or sha512)"},
      {"crc32=352441c2", "unknown algorithm \"crc32\" (md5, sha1, sha256 or sha512)"},
      {"sha256=" + kSha256Hex.substr(1), "sha256 takes 64 hex digits, not 63"},
      {"sha1=" + kSha256Hex, "sha1 takes 40 hex digits, not 64"},
      {"sha256=" + kSha256Base64, "the digest must be hex digits (0-9, a-f)"},
  };
  for (const auto& [text, why] : invalid) {
    std::string error;
    EXPECT_FALSE(ParseChecksum(text, &error)) << text;
    EXPECT_EQ(error, why);
  }
}

// Repr-Digest before Digest, sha-256 before sha-512; lines of one field are
// one list; Content-Digest (a 206's covers its part only), other algorithms
// and values that do not decode to a digest of their size are not taken.
TEST(ChecksumTest, WholeFileDigestComesFromReprDigestOrDigestNeverContentDigest) {
  const std::optional<TChecksum> sha256 = TChecksum{TDigestAlgorithm::Sha256, kSha256Hex};
  const std::optional<TChecksum> sha512 = TChecksum{TDigestAlgorithm::Sha512, kSha512Hex};
  const std::optional<TChecksum> none;
  const struct {
    std::vector<std::string> Lines;
    std::optional<TChecksum> Digest;
  } cases[] = {
      {{"Repr-Digest: sha-256=:" + kSha256Base64 + ":"}, sha256},
      {{"repr-digest:sha-512=:" + kSha512Base64 + ":;note=1, sha-256=:AAAA:"}, sha512},
      {{"Repr-Digest: unixsum=:AAAA:", "Repr-Digest: sha-512=:" + kSha512Base64 + ":"}, sha512},
      {{"Digest: MD5=kAFQmDzST7DWlj99KOF/cg==, SHA-256=" + kSha256Base64}, sha256},
      {{"Digest: sha-512=" + kSha512Base64.substr(0, 86)}, sha512},  // unpadded
      {{"Digest: SHA-256=" + kSha256Base64, "Repr-Digest: sha-512=:" + kSha512Base64 + ":"}, sha512},
      {{"Repr-Digest: sha-256=" + kSha256Base64, "Digest: SHA-512=" + kSha512Base64}, sha512},  // no colons
      {{"Content-Digest: sha-256=:" + kSha256Base64 + ":"}, none},
      {{"Digest: SHA-256=" + kSha256Hex}, none},  // hex where base64 belongs
      {{"Digest: SHA-256=" + kSha256Base64.substr(4)}, none},
      {{"Digest: SHA-256=" + kSha256Base64 + "x"}, none},
      {{"Digest: MD5=kAFQmDzST7DWlj99KOF/cg=="}, none},
      {{"X-Digest: SHA-256=" + kSha256Base64}, none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Lines.front());
    EXPECT_EQ(WholeFileDigest(c.Lines), c.Digest);
  }
}

}  // namespace
}  // namespace brindle
