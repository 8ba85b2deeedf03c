#include "net/tls_layer.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "platform/broken_pipe_signal.h"

namespace brindle {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// One client context for all sessions while the trust settings stay the
// same: loading the system's authorities for every connection would cost
// more than the handshake. A change of SSL_CERT_FILE / SSL_CERT_DIR (a test
// with its own authority) makes a new one; sessions keep theirs.
std::shared_ptr<SSL_CTX> ClientContext() {
  static std::mutex mutex;
  static std::shared_ptr<SSL_CTX> context;
  static std::string trust;
  const std::string wanted = Environment("SSL_CERT_FILE") + '\n' + Environment("SSL_CERT_DIR");
  std::lock_guard<std::mutex> lock(mutex);
  if (context && trust == wanted) return context;
  // OpenSSL writes to the socket with write(): a peer's reset must not end
  // the program with SIGPIPE.
  IgnoreBrokenPipeSignal();
  SSL_CTX* raw = SSL_CTX_new(TLS_client_method());
  if (!raw) throw std::runtime_error("TLS: no context");
  std::shared_ptr<SSL_CTX> made(raw, SSL_CTX_free);
  if (SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(raw, TLS1_3_VERSION) != 1 || SSL_CTX_set_default_verify_paths(raw) != 1)
    throw std::runtime_error("TLS: cannot set up the context");
  SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(raw, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  context = made;
  trust = wanted;
  return context;
}

std::string ErrorQueueText() {
  const unsigned long error = ERR_peek_last_error();
  if (error == 0) return "TLS failure";
  char text[256];
  ERR_error_string_n(error, text, sizeof text);
  return text;
}

}  // namespace

TTlsLayer::TTlsLayer(int fd, const std::string& host) : context_(ClientContext()) {
  ssl_ = SSL_new(context_.get());
  if (!ssl_) throw std::runtime_error("TLS: no session");
  std::string bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  unsigned char address[16];
  const bool numeric = inet_pton(AF_INET, bare.c_str(), address) == 1 || inet_pton(AF_INET6, bare.c_str(), address) == 1;
  bool ok = SSL_set_fd(ssl_, fd) == 1;
  if (numeric) {
    // An address is checked against the certificate's IP entries; SNI
    // carries names only.
    ok = ok && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), bare.c_str()) == 1;
  } else {
    // Only the subjectAltName names a host: a name in the subject's CN
    // alone is refused, as browsers refuse it.
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    ok = ok && SSL_set1_host(ssl_, bare.c_str()) == 1 && SSL_set_tlsext_host_name(ssl_, bare.c_str()) == 1;
  }
  if (!ok) {
    SSL_free(ssl_);
    throw std::runtime_error("TLS: cannot set up the session for " + host);
  }
  SSL_set_connect_state(ssl_);
}

TTlsLayer::~TTlsLayer() {
  // No close_notify: the descriptor is closed right after, and a peer that
  // is gone would only make the write fail.
  SSL_free(ssl_);
}

TTlsStatus TTlsLayer::Classify(int result) {
  const int error = SSL_get_error(ssl_, result);
  switch (error) {
    case SSL_ERROR_WANT_READ:
      return TTlsStatus::WantRead;
    case SSL_ERROR_WANT_WRITE:
      return TTlsStatus::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
      return TTlsStatus::Closed;
    case SSL_ERROR_SYSCALL:
      if (errno == 0 || ERR_peek_last_error() != 0) {
        errorText_ = ErrorQueueText();
      } else {
        systemError_ = errno;
        errorText_ = std::strerror(errno);
      }
      return TTlsStatus::Failed;
    default: {
      const unsigned long last = ERR_peek_last_error();
      if (ERR_GET_LIB(last) == ERR_LIB_SSL && ERR_GET_REASON(last) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        unexpectedEof_ = true;
        errorText_ = "The server closed without ending TLS";
        // Before the session is up this is a failed handshake, not an end.
        return established_ ? TTlsStatus::Closed : TTlsStatus::Failed;
      }
      errorText_ = ErrorQueueText();
      return TTlsStatus::Failed;
    }
  }
}

TTlsStatus TTlsLayer::Handshake() {
  if (established_) return TTlsStatus::Ok;
  ERR_clear_error();
  errno = 0;
  const int result = SSL_do_handshake(ssl_);
  if (result == 1) {
    established_ = true;
    return TTlsStatus::Ok;
  }
  TTlsStatus status = Classify(result);
  if (status == TTlsStatus::Closed) status = TTlsStatus::Failed;
  if (status == TTlsStatus::Failed) {
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      certificateRejected_ = true;
      errorText_ = X509_verify_cert_error_string(verify);
    }
  }
  return status;
}

int64_t TTlsLayer::Read(void* buffer, size_t size, TTlsStatus& status) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) size = std::numeric_limits<int>::max();
  ERR_clear_error();
  errno = 0;
  const int result = SSL_read(ssl_, buffer, static_cast<int>(size));
  if (result > 0) {
    status = TTlsStatus::Ok;
    return result;
  }
  status = Classify(result);
  return 0;
}

int64_t TTlsLayer::Write(const void* data, size_t size, TTlsStatus& status) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) size = std::numeric_limits<int>::max();
  ERR_clear_error();
  errno = 0;
  const int result = SSL_write(ssl_, data, static_cast<int>(size));
  if (result > 0) {
    status = TTlsStatus::Ok;
    return result;
  }
  status = Classify(result);
  return 0;
}

bool TTlsLayer::Pending() const { return SSL_pending(ssl_) > 0; }

}  // namespace brindle
