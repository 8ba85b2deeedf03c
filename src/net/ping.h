#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/icmp.h"

namespace brindle {

class TNameResolver;

// One echo request to one host, over its own TICMP. Blocking: used on the
// mirror pinging's worker threads, one TPing per thread; the events are
// raised on the calling thread.
class TPing {
 public:
  explicit TPing(std::shared_ptr<TNameResolver> resolver = nullptr);
  ~TPing();
  TPing(const TPing&) = delete;
  TPing& operator=(const TPing&) = delete;

  const std::string& Address() const { return icmp_->Address(); }
  void SetAddress(const std::string& address) { icmp_->SetAddress(address); }
  int Size() const { return icmp_->Size(); }
  void SetSize(int size) { icmp_->SetSize(size); }
  int Timeout() const { return icmp_->TimeOut(); }
  void SetTimeout(int ms) { icmp_->SetTimeOut(ms); }
  int TTL() const { return icmp_->TTL(); }
  void SetTTL(int ttl) { icmp_->SetTTL(ttl); }
  int Flags() const { return icmp_->Flags(); }
  void SetFlags(int flags) { icmp_->SetFlags(flags); }

  TICMP& Icmp() { return *icmp_; }
  const TICMP& Icmp() const { return *icmp_; }

  // The number of replies (0 or 1); raises OnEchoReply with it unless the
  // address could not be resolved or is no valid address.
  int Ping();

  std::function<void(TPing& sender, TICMP& icmp)> OnEchoRequest;
  std::function<void(TPing& sender, TICMP& icmp, int replies)> OnEchoReply;
  std::function<void(TPing& sender, TICMP& icmp, const std::string& message)> OnDisplay;
  std::function<void(TPing& sender, int error)> OnDnsLookupDone;

 private:
  std::unique_ptr<TICMP> icmp_;
};

}  // namespace brindle
