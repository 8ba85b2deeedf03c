#pragma once

#include <string>

#include "support/scoped_environment.h"

namespace brindle::test {

// A test certificate authority and server certificates, made with the
// openssl command into a directory the caller owns (a TempDir), so that no
// key is ever committed. All server certificates share one key.
struct TestCertificates {
  // Throws std::runtime_error when the openssl command fails.
  explicit TestCertificates(const std::string& dir);

  std::string Dir;
  std::string CaFile;      // the authority: what SSL_CERT_FILE names in tests
  std::string Key;         // the servers' private key
  std::string Good;        // "localhost" and 127.0.0.1, from the authority
  std::string Expired;     // the same names, expired
  std::string WrongName;   // "elsewhere.invalid" only, from the authority
  std::string CommonNameOnly;  // "localhost" in its subject's CN, no subjectAltName
  std::string SelfSigned;  // "localhost" and 127.0.0.1, signed by itself
};

// One set for the whole test program, made at its first use: making them
// costs more than most tests.
const TestCertificates& SharedTestCertificates();

// Makes this process trust only certs' authority (SSL_CERT_FILE, and
// SSL_CERT_DIR pointing at a directory without certificates) while it
// lives.
class TrustTestAuthority : public ScopedEnvironment {
 public:
  explicit TrustTestAuthority(const TestCertificates& certs);
};

}  // namespace brindle::test
