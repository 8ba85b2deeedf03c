#include "core/power_port.h"

#include <atomic>

namespace brindle {
namespace {

class NoPower final : public PowerPort {
 public:
  bool PowerOff() override { return false; }
};

NoPower gNoPower;
std::atomic<PowerPort*> gPower{nullptr};

}  // namespace

PowerPort& Power() {
  PowerPort* port = gPower.load();
  return port != nullptr ? *port : gNoPower;
}

void SetPower(PowerPort* port) { gPower.store(port); }

}  // namespace brindle
