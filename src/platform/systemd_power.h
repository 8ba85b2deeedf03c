#pragma once

#include <string>

#include "core/power_port.h"

namespace brindle {

// Powers off through systemd-logind, by running "systemctl poweroff".
class SystemdPower final : public PowerPort {
 public:
  // program: the systemctl to run (searched in PATH without a "/").
  explicit SystemdPower(std::string program = "systemctl");
  // True when systemctl accepted the request.
  bool PowerOff() override;

 private:
  std::string program_;
};

}  // namespace brindle
