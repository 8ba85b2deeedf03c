#include "support/test_content.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace brindle::test {

std::string MakeContent(size_t size, uint32_t seed) {
  std::string content(size, '\0');
  uint32_t x = seed;
  for (char& c : content) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return content;
}

std::string DigestOf(const std::string& algorithm, const std::string& content) {
  const EVP_MD* md = EVP_get_digestbyname(algorithm.c_str());
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!md || EVP_Digest(content.data(), content.size(), value, &size, md, nullptr) != 1)
    throw std::runtime_error("no digest " + algorithm);
  return std::string(reinterpret_cast<const char*>(value), size);
}

std::string Base64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int size =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(size));
  return text;
}

std::string ReprDigestLine(const std::string& content) {
  return "Repr-Digest: sha-256=:" + Base64(DigestOf("sha256", content)) + ":";
}

}  // namespace brindle::test
