#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace brindle {

// What a step of the TLS layer came to.
enum class TTlsStatus {
  Ok,             // done (handshake finished, bytes read or written)
  WantRead,       // try again once the socket is readable
  WantWrite,      // try again once the socket is writable
  Closed,         // the peer ended the stream (close_notify, or a close without it)
  Failed,         // the connection is unusable: ErrorText says why
};

// A TLS client session on a connected non-blocking socket, verified like a
// browser verifies: TLS 1.2 or 1.3, the chain checked against the system's
// authorities (SSL_CERT_FILE / SSL_CERT_DIR replace them, as OpenSSL reads
// them), the certificate's name checked against the host (or its address
// for an IP literal), and SNI sent for a name. There is no way to skip the
// check.
//
// It never waits: every step says which direction it needs next, and the
// owner (TWSocket) calls it again when the socket is ready. Bytes OpenSSL
// has decrypted but not handed out make no descriptor readable, so the
// owner reads until Pending() is false before it waits again.
class TTlsLayer {
 public:
  // fd stays the caller's. host: the name (or numeric address, an IPv6
  // literal with or without brackets) the certificate must be for.
  // Throws std::runtime_error when the session cannot be set up.
  TTlsLayer(int fd, const std::string& host);
  ~TTlsLayer();
  TTlsLayer(const TTlsLayer&) = delete;
  TTlsLayer& operator=(const TTlsLayer&) = delete;

  TTlsStatus Handshake();
  bool Established() const { return established_; }
  // Read: count > 0 with Ok; 0 with another status.
  int64_t Read(void* buffer, size_t size, TTlsStatus& status);
  // Write: count > 0 with Ok (possibly less than size); 0 with another status.
  // After WantRead / WantWrite the same bytes must be offered again (their
  // address may differ).
  int64_t Write(const void* data, size_t size, TTlsStatus& status);
  // Decrypted bytes waiting to be read.
  bool Pending() const;

  // The handshake failed because the peer's certificate did not verify.
  bool CertificateRejected() const { return certificateRejected_; }
  // Why the last step failed: OpenSSL's verify text for a certificate, else
  // its error text.
  const std::string& ErrorText() const { return errorText_; }
  // A peer that closed without close_notify (Closed is still reported).
  bool UnexpectedEof() const { return unexpectedEof_; }
  // The errno value when the socket itself failed (a reset), else 0.
  int SystemError() const { return systemError_; }

 private:
  TTlsStatus Classify(int result);

  std::shared_ptr<SSL_CTX> context_;
  SSL* ssl_ = nullptr;
  bool established_ = false;
  bool certificateRejected_ = false;
  bool unexpectedEof_ = false;
  int systemError_ = 0;
  std::string errorText_;
};

}  // namespace brindle
