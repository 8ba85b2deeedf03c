#include "core/dial_up_port.h"

#include <atomic>

namespace brindle {
namespace {

class NoDialUp final : public DialUpPort {
 public:
  std::vector<std::string> Entries() override { return {}; }
  bool IsConnected() override { return false; }
  bool Dial(const std::string&) override { return false; }
  bool HangUp() override { return false; }
};

NoDialUp gNoDialUp;
std::atomic<DialUpPort*> gDialUp{nullptr};

}  // namespace

DialUpPort& DialUp() {
  DialUpPort* port = gDialUp.load();
  return port != nullptr ? *port : gNoDialUp;
}

void SetDialUp(DialUpPort* port) { gDialUp.store(port); }

}  // namespace brindle
