#include "net/wsocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "net/name_resolver.h"
#include "net/receive_budget.h"
#include "net/socket_errors.h"
#include "net/tls_layer.h"

namespace brindle {

// Shared between the socket and the worker thread of one lookup. The worker
// posts only while `loop` is set; cancelling clears it under the mutex, so a
// result arriving after a cancel (or after the socket died) is dropped.
struct TWSocket::Lookup {
  std::mutex mutex;
  EventLoop* loop = nullptr;   // guarded by mutex
  TWSocket* socket = nullptr;  // loop thread only
  bool forConnect = false;
};

namespace {

constexpr size_t kDrainChunk = 65536;

struct SockAddr {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family() const { return storage.ss_family; }
};

std::string StripBrackets(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

bool ParseNumericAddress(const std::string& text, uint16_t port, SockAddr& out) {
  std::string host = StripBrackets(text);
  out = SockAddr{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    out.length = sizeof(sockaddr_in);
    return true;
  }
  out = SockAddr{};
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
  if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    out.length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

bool IsAnyAddress(const std::string& addr) { return addr.empty() || addr == "0.0.0.0"; }

// Decimal 0..65535 or a service name.
bool ResolvePort(const std::string& text, uint16_t& port) {
  if (text.empty()) return false;
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    if (text.size() > 5) return false;
    unsigned long value = std::stoul(text);
    if (value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
  }
  servent* entry = getservbyname(text.c_str(), "tcp");
  if (!entry) return false;
  port = ntohs(static_cast<uint16_t>(entry->s_port));
  return true;
}

[[noreturn]] void ThrowCall(const char* call, int error) {
  throw ESocketException(std::string(call) + ": " + SocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")",
                         error);
}

bool AddressText(const sockaddr_storage& storage, std::string& addr, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (storage.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  } else {
    return false;
  }
  addr = text;
  return true;
}

// A connecting descriptor's set-up failed: it goes, and the call throws.
[[noreturn]] void ThrowSetUp(int fd, const char* call) {
  const int error = errno;
  ::close(fd);
  ThrowCall(call, error);
}

// A non-blocking TCP descriptor for remote with the socket's options, bound
// when it asks; throws ESocketException naming the call that failed.
int SetUpAttempt(const TWSocket& socket, const SockAddr& remote) {
  const int fd = ::socket(remote.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) ThrowCall("socket", errno);
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) ThrowSetUp(fd, "setsockopt(SO_REUSEADDR)");
  if ((socket.ComponentOptions & wsoTcpNoDelay) && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
    ThrowSetUp(fd, "setsockopt(TCP_NODELAY)");
  if (socket.LingerOnOff != TSocketLinger::wsLingerNoSet) {
    linger value{};
    value.l_onoff = socket.LingerOnOff == TSocketLinger::wsLingerOn ? 1 : 0;
    value.l_linger = socket.LingerTimeout;
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) ThrowSetUp(fd, "setsockopt(SO_LINGER)");
  }
  if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) ThrowSetUp(fd, "setsockopt(SO_KEEPALIVE)");
  uint16_t localPort = 0;
  if (!socket.LocalPort.empty() && !ResolvePort(socket.LocalPort, localPort)) {
    errno = EINVAL;
    ThrowSetUp(fd, "bind");
  }
  if (!IsAnyAddress(socket.LocalAddr) || localPort != 0) {
    SockAddr local;
    const std::string localAddr =
        IsAnyAddress(socket.LocalAddr) ? (remote.family() == AF_INET6 ? "::" : "0.0.0.0") : socket.LocalAddr;
    if (!ParseNumericAddress(localAddr, localPort, local)) {
      errno = EINVAL;
      ThrowSetUp(fd, "bind");
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0) ThrowSetUp(fd, "bind");
  }
  return fd;
}

}  // namespace

TWSocket::TWSocket(EventLoop* loop)
    : loop_(loop ? loop : EventLoop::Current()), resolver_(CurrentNameResolver()) {
  if (!loop_) throw std::logic_error("TWSocket: no event loop on this thread");
}

TWSocket::~TWSocket() {
  loop_->CancelPosts(this);
  CancelDnsLookup();
  CloseAttempts();
  if (budget_ && receiveHeld_) budget_->CancelWait(*this);
  if (watchId_) loop_->RemoveWatch(watchId_);
  if (fd_ >= 0) ::close(fd_);
}

void TWSocket::SetResolver(std::shared_ptr<TNameResolver> resolver) {
  resolver_ = resolver ? std::move(resolver) : CurrentNameResolver();
}

void TWSocket::ChangeState(TSocketState newState) {
  if (newState == state_) return;
  TSocketState old = state_;
  state_ = newState;
  RaiseEvent(events_, OnChangeState, old, newState);
}

// ---- Name lookup ----

void TWSocket::DnsLookup(const std::string& hostName) {
  if (hostName.empty()) throw ESocketException("DNS lookup: invalid host name.", 0);
  StartLookup(hostName, false);
}

void TWSocket::CancelDnsLookup() {
  if (!lookup_) return;
  {
    std::lock_guard<std::mutex> lock(lookup_->mutex);
    lookup_->loop = nullptr;
  }
  lookup_->socket = nullptr;
  lookup_.reset();
}

void TWSocket::StartLookup(const std::string& host, bool forConnect) {
  CancelDnsLookup();
  auto lookup = std::make_shared<Lookup>();
  lookup->loop = loop_;
  lookup->socket = this;
  lookup->forConnect = forConnect;

  auto deliver = [lookup](int error, const std::vector<std::string>& addresses) {
    TWSocket* socket = lookup->socket;
    if (!socket) return;
    lookup->socket = nullptr;
    socket->lookup_.reset();
    socket->LookupDone(error, addresses, lookup->forConnect);
  };

  // A numeric address needs no worker; the answer is still posted, so the
  // event never comes from inside this call.
  SockAddr numeric;
  if (ParseNumericAddress(host, 0, numeric)) {
    lookup_ = lookup;
    loop_->Post([deliver, address = StripBrackets(host)] { deliver(0, {address}); });
    return;
  }

  std::shared_ptr<TNameResolver> resolver = resolver_;
  try {
    std::thread([lookup, resolver, host, deliver] {
      std::vector<std::string> addresses;
      int error;
      try {
        error = resolver->Resolve(host, addresses);
      } catch (...) {
        error = kSocketErrNoRecovery;
      }
      if (error == 0 && addresses.empty()) error = kSocketErrNoData;
      if (error != 0) addresses.clear();
      std::lock_guard<std::mutex> lock(lookup->mutex);
      if (lookup->loop)
        lookup->loop->Post([deliver, error, addresses = std::move(addresses)] { deliver(error, addresses); });
    }).detach();
  } catch (const std::system_error& e) {
    throw ESocketException(host + ": can't start DNS lookup, error #" + std::to_string(e.code().value()),
                           e.code().value());
  }
  lookup_ = lookup;
}

void TWSocket::LookupDone(int error, const std::vector<std::string>& addresses, bool forConnect) {
  lastError_ = error;
  if (!forConnect) {
    if (error == 0) {
      dnsResults_ = addresses;
      dnsResult_ = addresses.front();
    }
    RaiseEvent(events_, OnDnsLookupDone, error);
    return;
  }
  connectLookup_ = false;
  if (error != 0) {
    RaiseEvent(events_, OnSessionConnected, error);
    return;
  }
  waiting_ = ConnectionOrder(addresses, IPv4First);
  attemptError_ = 0;
  NextAttempt(false);
}

// ---- Connecting ----

void TWSocket::Connect() {
  SockAddr numeric;
  BeginConnect(ParseNumericAddress(Addr, 0, numeric) ? std::vector<std::string>{Addr} : std::vector<std::string>{});
}

void TWSocket::Connect(const std::vector<std::string>& addresses) {
  if (addresses.empty()) throw ESocketException("Connect: No IP Address Specified", 0);
  BeginConnect(addresses);
}

void TWSocket::BeginConnect(const std::vector<std::string>& addresses) {
  if (InUse()) throw ESocketException("Connect: Socket already in use", 0);
  if (Port.empty()) throw ESocketException("Connect: No Port Specified", 0);
  if (addresses.empty() && Addr.empty()) throw ESocketException("Connect: No IP Address Specified", 0);
  if (Proto.empty()) throw ESocketException("Connect: No Protocol Specified", 0);
  if (Proto != "tcp") throw ESocketException("Connect: Unsupported Protocol", 0);
  uint16_t port = 0;
  if (!ResolvePort(Port, port) || port == 0) throw ESocketException("Connect: Invalid Port", 0);
  SockAddr numeric;
  for (const std::string& address : addresses)
    if (!ParseNumericAddress(address, port, numeric)) throw ESocketException("Connect: No IP Address Specified", 0);
  tlsErrorText_.clear();
  tlsCutShort_ = false;
  attemptPort_ = port;
  attemptError_ = 0;
  if (addresses.empty()) {
    // Addr is a name: every address it has is tried once they are known.
    connectLookup_ = true;
    StartLookup(Addr, true);
    return;
  }
  waiting_ = ConnectionOrder(addresses, IPv4First);
  NextAttempt(true);
}

void TWSocket::NextAttempt(bool mayThrow) {
  if (attemptTimer_) loop_->CancelTimer(attemptTimer_);
  attemptTimer_ = 0;
  while (!waiting_.empty()) {
    SockAddr remote;
    ParseNumericAddress(waiting_.front(), attemptPort_, remote);
    waiting_.erase(waiting_.begin());
    int fd = -1;
    try {
      fd = SetUpAttempt(*this, remote);
    } catch (const ESocketException& e) {
      lastError_ = attemptError_ = e.ErrorCode != 0 ? e.ErrorCode : EINVAL;
      if (mayThrow && waiting_.empty() && attempts_.empty()) {
        state_ = TSocketState::wsClosed;
        throw;
      }
      continue;
    }
    if (state_ == TSocketState::wsClosed) {
      const uint64_t session = session_;
      ChangeState(TSocketState::wsOpened);
      if (session_ != session) {  // the state handler closed the socket
        ::close(fd);
        return;
      }
    }
    int rc;
    do {
      rc = ::connect(fd, reinterpret_cast<sockaddr*>(&remote.storage), remote.length);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno != EINPROGRESS) {
      lastError_ = attemptError_ = errno;
      ::close(fd);
      continue;
    }
    // Completion (even an immediate one) is reported from the loop.
    Attempt attempt;
    attempt.Fd = fd;
    attempt.WatchId = loop_->AddWatch(fd, EventLoop::kWritable, [this, fd](unsigned) { AttemptReady(fd); }, "TWSocket");
    attempts_.push_back(attempt);
    if (!waiting_.empty())
      attemptTimer_ = loop_->CallLater(kNextAttemptDelayMs, [this] {
        attemptTimer_ = 0;
        NextAttempt(false);
      }, "TWSocket");
    ChangeState(TSocketState::wsConnecting);
    return;
  }
  if (!attempts_.empty()) return;  // the ones under way will answer
  if (state_ != TSocketState::wsClosed) {
    const uint64_t session = session_;
    ChangeState(TSocketState::wsClosed);
    if (session_ != session) return;
  }
  PostConnectFailure(attemptError_);
}

void TWSocket::PostConnectFailure(int error) {
  // Failed at once: still reported asynchronously, like any connect outcome.
  const uint64_t session = session_;
  loop_->Post(this, [this, session, error] {
    if (session_ != session || InUse()) return;
    RaiseEvent(events_, OnSessionConnected, error);
  });
}

void TWSocket::AttemptReady(int fd) {
  const auto found = std::find_if(attempts_.begin(), attempts_.end(), [fd](const Attempt& a) { return a.Fd == fd; });
  if (found == attempts_.end()) return;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  loop_->RemoveWatch(found->WatchId);
  attempts_.erase(found);
  if (error != 0) {
    ::close(fd);
    lastError_ = attemptError_ = error;
    if (!waiting_.empty()) {
      NextAttempt(false);
    } else if (attempts_.empty()) {
      const uint64_t session = session_;
      ChangeState(TSocketState::wsClosed);
      if (session_ != session) return;
      RaiseEvent(events_, OnSessionConnected, error);
    }
    return;
  }
  CloseAttempts();
  fd_ = fd;
  ++session_;
  const uint64_t session = session_;
  Watch(EventLoop::kReadable | (BufferedByteCount() > 0 ? EventLoop::kWritable : 0u));
  ChangeState(TSocketState::wsConnected);
  if (session_ != session) return;
  RaiseEvent(events_, OnSessionConnected, 0);
}

void TWSocket::CloseAttempts() {
  if (attemptTimer_) loop_->CancelTimer(attemptTimer_);
  attemptTimer_ = 0;
  waiting_.clear();
  for (const Attempt& attempt : attempts_) {
    loop_->RemoveWatch(attempt.WatchId);
    ::close(attempt.Fd);
  }
  attempts_.clear();
}

// A new non-blocking TCP descriptor for this socket, reusing its address.
int TWSocket::OpenDescriptor(int family) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) ThrowCall("socket", errno);
  fd_ = fd;
  ++session_;
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) FailOpen("setsockopt(SO_REUSEADDR)");
  return fd;
}

// A call setting the new descriptor up failed: it goes, and the call throws.
void TWSocket::FailOpen(const char* call) {
  const int error = errno;
  lastError_ = error;
  CloseDescriptor();
  state_ = TSocketState::wsClosed;
  ThrowCall(call, error);
}

void TWSocket::Watch(unsigned events) {
  if (fd_ < 0) return;
  if (receiveHeld_) events &= ~EventLoop::kReadable;
  if (watchId_ == 0) {
    watchId_ = loop_->AddWatch(fd_, events, [this](unsigned ready) { OnReady(ready); }, "TWSocket");
  } else if (events != watchedEvents_) {
    loop_->SetWatchEvents(watchId_, events);
  }
  watchedEvents_ = events;
}

void TWSocket::OnReady(unsigned events) {
  uint64_t session = session_;
  auto stillHere = [&] { return session_ == session && fd_ >= 0; };
  switch (state_) {
    case TSocketState::wsListening:
      if (OnSessionAvailable) {
        RaiseEvent(events_, OnSessionAvailable, 0);
      } else {
        int fd = Accept();  // nobody takes it: refuse it rather than spin
        if (fd >= 0) ::close(fd);
      }
      return;
    case TSocketState::wsConnected:
      if (tlsHandshaking_) {
        ContinueHandshake();
        return;
      }
      if (events & EventLoop::kWritable) {
        FlushSendBuffer();
        if (!stillHere()) return;
      }
      if (!receiveHeld_ &&
          ((events & EventLoop::kReadable) || (tlsReadWantsWrite_ && (events & EventLoop::kWritable))))
        HandleReadable();
      return;
    default:
      return;
  }
}

// ---- Reading ----

int64_t TWSocket::Receive(void* buffer, size_t size) {
  if (fd_ < 0 || state_ != TSocketState::wsConnected) {
    lastError_ = ENOTCONN;
    return -1;
  }
  if (tls_ && tlsHandshaking_) {
    lastError_ = EAGAIN;
    return -1;
  }
  if (budget_) {
    const size_t allowed = budget_->Allowance();
    if (allowed == 0) {
      HoldReceiving();
      lastError_ = EAGAIN;
      return -1;
    }
    if (allowed < size) size = allowed;
  }
  if (tls_) {
    const bool wantedWrite = tlsReadWantsWrite_;
    tlsReadWantsWrite_ = false;
    TTlsStatus status;
    const int64_t n = tls_->Read(buffer, size, status);
    switch (status) {
      case TTlsStatus::Ok:
        ++received_;
        if (budget_ && n > 0) budget_->Consume(static_cast<size_t>(n));
        break;
      case TTlsStatus::Closed:
        endSeen_ = true;
        endError_ = 0;
        tlsCutShort_ = tls_->UnexpectedEof();
        break;
      case TTlsStatus::Failed:
        lastError_ = tls_->SystemError() != 0 ? tls_->SystemError() : kSocketErrTls;
        tlsErrorText_ = tls_->ErrorText();
        endSeen_ = true;
        endError_ = lastError_;
        return -1;
      case TTlsStatus::WantWrite:
        tlsReadWantsWrite_ = true;
        [[fallthrough]];
      case TTlsStatus::WantRead:
        lastError_ = EAGAIN;
        if (wantedWrite != tlsReadWantsWrite_) Watch(ConnectedEvents());
        return -1;
    }
    return n;
  }
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n > 0) {
      ++received_;
      if (budget_) budget_->Consume(static_cast<size_t>(n));
      return n;
    }
    if (n == 0) {
      endSeen_ = true;
      endError_ = 0;
      return 0;
    }
    if (errno == EINTR) continue;
    lastError_ = errno;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      endSeen_ = true;
      endError_ = lastError_;
    } else {
      lastError_ = EAGAIN;
    }
    return -1;
  }
}

void TWSocket::HandleReadable() {
  uint64_t session = session_;
  endSeen_ = false;
  if (OnDataAvailable) {
    // Plain text TLS already holds makes the descriptor no more readable:
    // it is handed on while the handler keeps taking it.
    uint64_t before;
    do {
      before = received_;
      RaiseEvent(events_, OnDataAvailable, 0);
      if (session_ != session || fd_ < 0) return;
    } while (tls_ && !endSeen_ && received_ != before && tls_->Pending());
  } else {
    std::vector<char> sink(kDrainChunk);
    while (Receive(sink.data(), sink.size()) > 0) {
    }
  }
  if (endSeen_) RaiseClosed(endError_);
}

void TWSocket::SetReceiveBudget(std::shared_ptr<TReceiveBudget> budget) {
  if (budget == budget_) return;
  const bool held = receiveHeld_;
  if (budget_ && held) budget_->CancelWait(*this);
  budget_ = std::move(budget);
  if (held) ResumeReceiving();
}

void TWSocket::HoldReceiving() {
  if (receiveHeld_) return;
  receiveHeld_ = true;
  Watch(watchedEvents_);
  budget_->Wait(*this);
}

void TWSocket::ResumeReceiving() {
  if (!receiveHeld_) return;
  receiveHeld_ = false;
  if (fd_ < 0 || state_ != TSocketState::wsConnected) return;
  if (tlsHandshaking_) {
    // The handshake finds out again what it waits for.
    Watch(EventLoop::kReadable | EventLoop::kWritable);
    return;
  }
  Watch(ConnectedEvents());
  if (tls_ && tls_->Pending()) {
    // Plain text already inside TLS: no readiness of the descriptor will
    // announce it.
    const uint64_t session = session_;
    loop_->Post(this, [this, session] {
      if (session_ != session || fd_ < 0 || receiveHeld_) return;
      if (state_ == TSocketState::wsConnected && tls_ && tls_->Pending()) HandleReadable();
    });
  }
}

void TWSocket::RaiseClosed(int error) {
  if (error != 0) lastError_ = error;
  CloseDescriptor();
  ChangeState(TSocketState::wsClosed);
  RaiseEvent(events_, OnSessionClosed, error);
}

// ---- Writing ----

size_t TWSocket::BufferedByteCount() const { return sendBuffer_.size() - sendOffset_; }

unsigned TWSocket::ConnectedEvents() const {
  return EventLoop::kReadable | (BufferedByteCount() > 0 || tlsReadWantsWrite_ ? EventLoop::kWritable : 0u);
}

int64_t TWSocket::SendSome(const char* data, size_t size, int& error) {
  if (tls_) {
    TTlsStatus status;
    const int64_t n = tls_->Write(data, size, status);
    if (status == TTlsStatus::Ok) return n;
    if (status == TTlsStatus::WantRead || status == TTlsStatus::WantWrite) return 0;
    error = tls_->SystemError() != 0 ? tls_->SystemError() : status == TTlsStatus::Closed ? EPIPE : kSocketErrTls;
    tlsErrorText_ = tls_->ErrorText();
    return -1;
  }
  for (;;) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    error = errno;
    return -1;
  }
}

int64_t TWSocket::Send(const void* data, size_t size) {
  if (fd_ < 0 || state_ != TSocketState::wsConnected) {
    lastError_ = ENOTCONN;
    return -1;
  }
  const char* bytes = static_cast<const char*>(data);
  size_t sent = 0;
  if (BufferedByteCount() == 0 && !tlsHandshaking_) {
    sendBuffer_.clear();
    sendOffset_ = 0;
    while (sent < size) {
      int error = 0;
      const int64_t n = SendSome(bytes + sent, size - sent, error);
      if (n < 0) {
        // The broken connection shows itself to the reader.
        lastError_ = error;
        return -1;
      }
      if (n == 0) break;
      sent += static_cast<size_t>(n);
    }
  }
  sendBuffer_.append(bytes + sent, size - sent);
  dataSentDue_ = true;
  if (!tlsHandshaking_) Watch(EventLoop::kReadable | EventLoop::kWritable);
  return static_cast<int64_t>(size);
}

void TWSocket::FlushSendBuffer() {
  while (BufferedByteCount() > 0) {
    int error = 0;
    const int64_t n = SendSome(sendBuffer_.data() + sendOffset_, BufferedByteCount(), error);
    if (n > 0) {
      sendOffset_ += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return;
    lastError_ = error;
    sendBuffer_.clear();
    sendOffset_ = 0;
    dataSentDue_ = false;
    Watch(ConnectedEvents());
    return;
  }
  sendBuffer_.clear();
  sendOffset_ = 0;
  Watch(ConnectedEvents());
  if (dataSentDue_) {
    dataSentDue_ = false;
    RaiseEvent(events_, OnDataSent, 0);
  }
}

// ---- TLS ----

void TWSocket::StartTls(const std::string& host) {
  if (fd_ < 0 || state_ != TSocketState::wsConnected) throw ESocketException("StartTls: Socket is not connected", ENOTCONN);
  if (tls_) throw ESocketException("StartTls: TLS already in use", 0);
  try {
    tls_ = std::make_unique<TTlsLayer>(fd_, host);
  } catch (const std::exception& e) {
    throw ESocketException(e.what(), 0);
  }
  tlsHandshaking_ = true;
  tlsErrorText_.clear();
  // The first step runs from the loop, so that OnTlsDone never comes from
  // inside this call; a connected socket is writable at once.
  Watch(EventLoop::kWritable);
}

void TWSocket::ContinueHandshake() {
  switch (tls_->Handshake()) {
    case TTlsStatus::WantRead:
      Watch(EventLoop::kReadable);
      return;
    case TTlsStatus::WantWrite:
      Watch(EventLoop::kWritable);
      return;
    case TTlsStatus::Ok: {
      tlsHandshaking_ = false;
      Watch(ConnectedEvents());
      RaiseEvent(events_, OnTlsDone, 0);
      return;
    }
    default: {
      const int error = tls_->CertificateRejected() ? kSocketErrCertificate
                        : tls_->SystemError() != 0  ? tls_->SystemError()
                                                    : kSocketErrTls;
      tlsErrorText_ = tls_->ErrorText();
      lastError_ = error;
      CloseDescriptor();
      ChangeState(TSocketState::wsClosed);
      RaiseEvent(events_, OnTlsDone, error);
      return;
    }
  }
}

// ---- Listening ----

void TWSocket::Listen() {
  if (InUse()) throw ESocketException("Listen: Socket already in use", 0);
  if (Port.empty()) throw ESocketException("Listen: No Port Specified", 0);
  if (Proto != "tcp") throw ESocketException("Listen: Unsupported Protocol", 0);
  uint16_t port = 0;
  if (!ResolvePort(Port, port)) throw ESocketException("Listen: Invalid Port", 0);
  SockAddr local;
  if (!ParseNumericAddress(IsAnyAddress(LocalAddr) ? "0.0.0.0" : LocalAddr, port, local))
    throw ESocketException("Listen: No IP Address Specified", 0);
  const int fd = OpenDescriptor(local.family());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local.storage), local.length) != 0) FailOpen("bind");
  if (::listen(fd, SOMAXCONN) != 0) FailOpen("listen");
  Watch(EventLoop::kReadable);
  ChangeState(TSocketState::wsListening);
}

int TWSocket::Accept() {
  if (fd_ < 0 || state_ != TSocketState::wsListening) {
    lastError_ = EINVAL;
    return -1;
  }
  int fd;
  do {
    fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) lastError_ = errno;
  return fd;
}

void TWSocket::Dup(int fd) {
  if (InUse()) throw ESocketException("Dup: Socket already in use", 0);
  if (fd < 0) throw ESocketException("Dup: Invalid Socket", EBADF);
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) ThrowCall("fcntl", errno);
  fd_ = fd;
  ++session_;
  Watch(EventLoop::kReadable);
  ChangeState(TSocketState::wsConnected);
}

// ---- Closing ----

void TWSocket::CloseDescriptor() {
  CloseAttempts();
  if (watchId_) loop_->RemoveWatch(watchId_);
  watchId_ = 0;
  watchedEvents_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ++session_;
  sendBuffer_.clear();
  sendOffset_ = 0;
  dataSentDue_ = false;
  endSeen_ = false;
  if (receiveHeld_ && budget_) budget_->CancelWait(*this);
  receiveHeld_ = false;
  tls_.reset();
  tlsHandshaking_ = false;
  tlsReadWantsWrite_ = false;
}

void TWSocket::Close() {
  CancelDnsLookup();
  connectLookup_ = false;
  bool wasConnected = fd_ >= 0 && state_ == TSocketState::wsConnected;
  CloseDescriptor();
  ChangeState(TSocketState::wsClosed);
  if (!wasConnected) return;
  RaiseEvent(events_, OnSessionClosed, 0);
}

// ---- Addresses ----

std::string TWSocket::GetPeerAddr() const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  std::string addr;
  int port = 0;
  if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return "";
  return AddressText(storage, addr, port) ? addr : "";
}

std::string TWSocket::GetPeerPort() const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  std::string addr;
  int port = 0;
  if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return "";
  return AddressText(storage, addr, port) ? std::to_string(port) : "";
}

int TWSocket::GetSockName(std::string& addr, int& port) const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (fd_ < 0) return EBADF;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return errno;
  return AddressText(storage, addr, port) ? 0 : EAFNOSUPPORT;
}

}  // namespace brindle
