#include "platform/systemd_power.h"

#include <utility>

#include "core/log_error.h"
#include "platform/process_start.h"

namespace brindle {

SystemdPower::SystemdPower(std::string program) : program_(std::move(program)) {}

bool SystemdPower::PowerOff() {
  try {
    return RunProcess({program_, "poweroff"}) == 0;
  } catch (...) {
    LogError("PowerOff");
  }
  return false;
}

}  // namespace brindle
