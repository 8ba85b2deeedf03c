#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace brindle {

class TNameResolver;

// The status of an echo that got no reply within the time-out, and of a
// destination that is no address one can ping (the system's codes for them).
inline constexpr int kIcmpErrTimedOut = 11010;
inline constexpr int kIcmpErrInvalidAddress = 11018;
// Flags bit: send the request with "don't fragment" set.
inline constexpr int kIcmpFlagDontFragment = 0x02;

// The first echo reply of the last ping.
struct TIcmpEchoReply {
  std::string Address;         // dotted address of the replier
  uint32_t Status = 0;         // 0: replied; kIcmpErrTimedOut: nothing arrived
  uint32_t RoundTripTime = 0;  // whole milliseconds
  uint16_t DataSize = 0;       // payload bytes echoed
  std::string Data;            // the echoed payload
  uint8_t Ttl = 0;             // TTL the reply arrived with (0: unknown)
};

// An IPv4 echo over an unprivileged datagram ICMP socket, or a raw one where
// that is not permitted (as root). Ping blocks the calling thread for up to
// the time-out plus the name lookup, so it belongs on a worker thread; the
// events are raised on that thread.
class TICMP {
 public:
  // The payload text (45 printable characters) laid over the blanks.
  static constexpr const char* kPayloadText = "Brindle echo: how far away is this server now";

  // resolver: how names are looked up (nullptr: the system's lookup).
  explicit TICMP(std::shared_ptr<TNameResolver> resolver = nullptr);
  ~TICMP();
  TICMP(const TICMP&) = delete;
  TICMP& operator=(const TICMP&) = delete;

  const std::string& Address() const { return address_; }
  // A different text is looked up again at the next ping; the same one not.
  void SetAddress(const std::string& address);
  const std::string& HostName() const { return hostName_; }
  const std::string& HostIP() const { return hostIp_; }
  bool Resolved() const { return resolved_; }

  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  int TimeOut() const { return timeOut_; }  // milliseconds
  void SetTimeOut(int ms) { timeOut_ = ms; }
  int TTL() const { return ttl_; }
  void SetTTL(int ttl) { ttl_ = ttl; }
  int Flags() const { return flags_; }
  void SetFlags(int flags) { flags_ = flags; }

  const TIcmpEchoReply& Reply() const { return reply_; }
  // The system error of the last ping (errno, a lookup error, or one of the
  // kIcmpErr codes); 0 when it got its reply.
  int LastError() const { return lastError_; }

  // Sends one echo request and waits for its reply; the number of replies
  // (0 or 1). Failures are reported through OnDisplay and LastError.
  int Ping();

  // size bytes of blanks with kPayloadText over their start.
  static std::string Payload(int size);

  std::function<void(const std::string& message)> OnDisplay;
  std::function<void(int error)> OnDnsLookupDone;
  std::function<void()> OnEchoRequest;
  std::function<void(int replies)> OnEchoReply;

 private:
  bool Resolve();
  int Echo(uint32_t target, const std::string& payload);
  void Display(const std::string& message);

  std::shared_ptr<TNameResolver> resolver_;
  std::string address_;
  std::string hostName_;
  std::string hostIp_;
  bool resolved_ = false;
  int size_ = 56;
  int timeOut_ = 4000;
  int ttl_ = 64;
  int flags_ = 0;
  TIcmpEchoReply reply_;
  int lastError_ = 0;
  uint16_t identifier_;
  uint16_t sequence_ = 0;
};

}  // namespace brindle
