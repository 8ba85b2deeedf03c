#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brindle::test {

// Bytes that look random and differ at every offset, so that a part placed
// at the wrong offset or taken from another seed's "version" never matches.
std::string MakeContent(size_t size, uint32_t seed = 2463534242u);

// The digest of content as raw bytes, by OpenSSL's one-shot call (not the
// join's way); algorithm as brindle-cli names it: "md5", "sha256", ...
std::string DigestOf(const std::string& algorithm, const std::string& content);
// Bytes in padded base64, as digest header fields carry them.
std::string Base64(const std::string& bytes);
// "Repr-Digest: sha-256=:<base64>:" for content.
std::string ReprDigestLine(const std::string& content);

}  // namespace brindle::test
