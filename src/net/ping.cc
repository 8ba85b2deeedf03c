#include "net/ping.h"

#include "net/name_resolver.h"

namespace brindle {

TPing::TPing(std::shared_ptr<TNameResolver> resolver) : icmp_(std::make_unique<TICMP>(std::move(resolver))) {
  icmp_->OnEchoRequest = [this] {
    if (OnEchoRequest) OnEchoRequest(*this, *icmp_);
  };
  icmp_->OnEchoReply = [this](int replies) {
    if (OnEchoReply) OnEchoReply(*this, *icmp_, replies);
  };
  icmp_->OnDisplay = [this](const std::string& message) {
    if (OnDisplay) OnDisplay(*this, *icmp_, message);
  };
  icmp_->OnDnsLookupDone = [this](int error) {
    if (OnDnsLookupDone) OnDnsLookupDone(*this, error);
  };
}

TPing::~TPing() = default;

int TPing::Ping() { return icmp_->Ping(); }

}  // namespace brindle
