#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/event_depth.h"
#include "core/event_loop.h"

namespace brindle {

class TNameResolver;
class TReceiveBudget;
class TTlsLayer;

enum class TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed,
};

enum class TSocketLinger { wsLingerOff, wsLingerOn, wsLingerNoSet };

// Bits of TWSocket::ComponentOptions.
enum : unsigned {
  wsoNoReceiveLoop = 1,  // accepted for compatibility; reads are always one per notification
  wsoTcpNoDelay = 2,     // switches Nagle's algorithm off
};

// A synchronous refusal (Connect on a busy socket, a missing port, an option
// the kernel refused ...). ErrorCode is the errno value, or 0 when the
// refusal is not the kernel's.
class ESocketException : public std::runtime_error {
 public:
  ESocketException(const std::string& message, int errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// An asynchronous TCP socket driven by the event loop. Every operation
// returns at once; completions arrive as the On... events, raised on the
// loop's thread from the loop's dispatch (never from inside the call that
// started the operation, except OnSessionClosed raised by Close and
// OnChangeState). Error codes are errno values or the lookup codes of
// socket_errors.h; SocketErrorDesc describes them.
//
// A handler may close, reconnect or destroy the socket (destroying from its
// own event should still go through EventLoop::DeleteLater). The loop must
// outlive the socket.
class TWSocket {
 public:
  // nullptr: EventLoop::Current(), which must exist (std::logic_error).
  explicit TWSocket(EventLoop* loop = nullptr);
  ~TWSocket();
  TWSocket(const TWSocket&) = delete;
  TWSocket& operator=(const TWSocket&) = delete;

  // ---- Properties (read when the operation that uses them starts) ----
  std::string Addr;                    // remote host: numeric address, or a name resolved by Connect
  std::string Port;                    // remote port (Listen: the local port), decimal or a service name
  std::string Proto = "tcp";           // only "tcp" is supported
  std::string LocalAddr = "0.0.0.0";   // local address to bind; "0.0.0.0" or empty: any
  std::string LocalPort = "0";         // local port to bind when connecting; "0": any
  TSocketLinger LingerOnOff = TSocketLinger::wsLingerOn;
  int LingerTimeout = 0;               // seconds, for wsLingerOn
  unsigned ComponentOptions = 0;       // wso... bits
  bool IPv4First = false;              // a host's IPv4 addresses before its IPv6 ones (ConnectionOrder)

  TSocketState State() const { return state_; }
  // The last error seen by any operation (errno or a lookup code).
  int LastError() const { return lastError_; }
  // The first address found by the last successful DnsLookup, and all of
  // them, the preferred first.
  const std::string& DnsResult() const { return dnsResult_; }
  const std::vector<std::string>& DnsResults() const { return dnsResults_; }
  // The resolver used by DnsLookup and by Connect for a name; the program's
  // current one (CurrentNameResolver) at construction.
  void SetResolver(std::shared_ptr<TNameResolver> resolver);

  // ---- Operations ----

  // Starts resolving hostName on a worker thread; OnDnsLookupDone follows
  // (also for a numeric address, which needs no worker). An empty name
  // throws ESocketException "DNS lookup: invalid host name."; a lookup that
  // cannot be started throws "<host>: can't start DNS lookup, error #<n>".
  // A new lookup cancels a running one.
  void DnsLookup(const std::string& hostName);
  // Abandons a running lookup: its result is dropped, no event follows.
  void CancelDnsLookup();

  // Opens a TCP connection to Addr:Port. Refused with ESocketException while
  // the socket is open ("Connect: Socket already in use"), or without port,
  // address or protocol ("Connect: No Port Specified", "Connect: No IP
  // Address Specified", "Connect: No Protocol Specified"); a failing setup
  // step is refused naming the call ("socket", "setsockopt(SO_KEEPALIVE)",
  // "bind" ...) when no other address is left to try. The outcome is
  // OnSessionConnected: 0 and state wsConnected, or the error code and state
  // wsClosed (a connection that never came up raises no OnSessionClosed).
  // An Addr that is a name is looked up first without OnDnsLookupDone; a
  // failed lookup is reported by OnSessionConnected with the lookup's code,
  // and every address found is tried as Connect(addresses) does.
  void Connect();
  // The same for numeric addresses of one host (DnsResults()): they are
  // tried in ConnectionOrder (IPv4First says which), the next one as soon as the
  // previous failed or kNextAttemptDelayMs after it started without an
  // answer, the earlier ones still running. The first connection made wins
  // and the others are closed; when all failed, the outcome carries the
  // error of the last to fail. Close ends every attempt.
  void Connect(const std::vector<std::string>& addresses);
  static constexpr int64_t kNextAttemptDelayMs = 250;

  // Listens on LocalAddr:Port ("0": a free port, GetSockName tells which).
  // OnSessionAvailable announces a connection; Accept takes it.
  void Listen();
  // The descriptor of the next pending connection (the caller owns it and
  // normally hands it to another socket's Dup), or -1 with LastError set.
  int Accept();
  // Adopts a connected descriptor (from Accept): state wsConnected, events
  // from now on. Refused like Connect while this socket is open.
  void Dup(int fd);

  // Reads at most size bytes of what has arrived. Returns the count; 0 at the
  // end of the stream; -1 on error with LastError set, where EAGAIN ("would
  // block": nothing there yet) is not a failure. An end of stream or an error
  // seen here closes the socket once the OnDataAvailable handler returns,
  // raising OnSessionClosed with the error (0 for an orderly end).
  int64_t Receive(void* buffer, size_t size);

  // Limits what Receive reads (nullptr: no limit). With a budget, a Receive
  // while its allowance is 0 returns -1 with EAGAIN and holds the socket:
  // the descriptor is not watched for reading until the budget calls
  // ResumeReceiving, which first hands on what TLS already holds in user
  // space (that makes no descriptor readable).
  void SetReceiveBudget(std::shared_ptr<TReceiveBudget> budget);
  void ResumeReceiving();
  bool ReceiveHeld() const { return receiveHeld_; }

  // Queues bytes for sending; never blocks. What the network does not take
  // at once is kept and sent as it allows; OnDataSent follows once the queue
  // is empty. Returns size, or -1 when the socket is not connected.
  int64_t Send(const void* data, size_t size);
  int64_t SendStr(const std::string& text) { return Send(text.data(), text.size()); }
  // Bytes queued but not yet taken by the network.
  size_t BufferedByteCount() const;

  // Closes at once (a running lookup is cancelled, unsent bytes are dropped).
  // A connected socket raises OnSessionClosed(0) before Close returns; state
  // wsClosed. The socket can connect again afterwards. Harmless when closed.
  void Close();

  // Starts TLS on the connected socket: the peer's certificate must be
  // valid for host (a name, or a numeric address). OnTlsDone follows from
  // the loop: 0, and from then on Receive and Send carry plain text through
  // TLS; or kSocketErrCertificate, kSocketErrTls or an errno value, with the
  // socket closed (no OnSessionClosed) and TlsErrorText saying why. Bytes
  // sent before the handshake is done wait for it. A peer that ends without
  // closing TLS reads as an orderly end of the stream, like a plain close,
  // and TlsCutShort() tells: whether the data is complete is the
  // protocol's to judge. Throws ESocketException when the socket is not
  // connected or already uses TLS.
  void StartTls(const std::string& host);
  bool UsesTls() const { return tls_ != nullptr; }
  // The TLS stream ended without close_notify (a cut, or a careless
  // server). Kept after the close, until the next Connect.
  bool TlsCutShort() const { return tlsCutShort_; }
  const std::string& TlsErrorText() const { return tlsErrorText_; }

  // The remote address and port of a connected socket; empty when there is
  // none.
  std::string GetPeerAddr() const;
  std::string GetPeerPort() const;
  // The local address and port of a connected or listening socket. Returns 0
  // or the errno value.
  int GetSockName(std::string& addr, int& port) const;

  // ---- Events ----
  std::function<void(int error)> OnDnsLookupDone;
  std::function<void(int error)> OnSessionConnected;
  // Data (or the end of the stream, or an error) can be read with Receive.
  // Without a handler, arriving data is read and dropped.
  std::function<void(int error)> OnDataAvailable;
  std::function<void(int error)> OnDataSent;
  // The connection ended: by the peer (0, or the error that broke it) or by
  // Close (0).
  std::function<void(int error)> OnSessionClosed;
  std::function<void(int error)> OnSessionAvailable;
  std::function<void(int error)> OnTlsDone;
  std::function<void(TSocketState oldState, TSocketState newState)> OnChangeState;

 private:
  struct Lookup;

  // One connection attempt to one of the host's addresses.
  struct Attempt {
    int Fd = -1;
    EventLoop::WatchId WatchId = 0;
  };

  void ChangeState(TSocketState newState);
  void StartLookup(const std::string& host, bool forConnect);
  void LookupDone(int error, const std::vector<std::string>& addresses, bool forConnect);
  int OpenDescriptor(int family);
  [[noreturn]] void FailOpen(const char* call);
  // Connect's checks; no addresses: look Addr up first.
  void BeginConnect(const std::vector<std::string>& addresses);
  bool InUse() const { return fd_ >= 0 || connectLookup_ || !attempts_.empty(); }
  // Starts attempts until one is under way (and times the next), or every
  // address left failed at once. mayThrow: a setup refusal of the very
  // last address is thrown (Connect's own call) rather than reported.
  void NextAttempt(bool mayThrow);
  void AttemptReady(int fd);
  void CloseAttempts();
  // Every attempt failed: the outcome is reported from the loop.
  void PostConnectFailure(int error);
  void Watch(unsigned events);
  void OnReady(unsigned events);
  void HandleReadable();
  void ContinueHandshake();
  // Hands bytes to the connection: the count taken (0: it would block), or
  // -1 with error set when the connection broke.
  int64_t SendSome(const char* data, size_t size, int& error);
  void FlushSendBuffer();
  // What to wait for once connected: readable, and writable while bytes
  // wait to be sent or a TLS read needs a write.
  unsigned ConnectedEvents() const;
  void CloseDescriptor();
  void RaiseClosed(int error);
  void HoldReceiving();

  EventLoop* loop_;
  std::shared_ptr<TNameResolver> resolver_;
  std::shared_ptr<Lookup> lookup_;
  TEventDepth events_{"TWSocket"};
  TSocketState state_ = TSocketState::wsClosed;
  int lastError_ = 0;
  std::string dnsResult_;
  std::vector<std::string> dnsResults_;
  int fd_ = -1;
  EventLoop::WatchId watchId_ = 0;
  unsigned watchedEvents_ = 0;
  uint64_t session_ = 0;  // changes whenever the descriptor does
  std::string sendBuffer_;
  size_t sendOffset_ = 0;
  bool dataSentDue_ = false;
  bool endSeen_ = false;  // Receive met the end of the stream or an error
  int endError_ = 0;
  bool connectLookup_ = false;  // Connect is resolving Addr
  std::vector<std::string> waiting_;  // addresses no attempt has tried yet
  std::vector<Attempt> attempts_;     // connecting, no answer yet
  EventLoop::TimerId attemptTimer_ = 0;
  uint16_t attemptPort_ = 0;
  int attemptError_ = 0;  // of the last attempt that failed
  std::unique_ptr<TTlsLayer> tls_;
  bool tlsHandshaking_ = false;
  bool tlsReadWantsWrite_ = false;
  uint64_t received_ = 0;  // Receive calls that returned bytes
  std::string tlsErrorText_;
  bool tlsCutShort_ = false;
  std::shared_ptr<TReceiveBudget> budget_;
  bool receiveHeld_ = false;
};

}  // namespace brindle
