#include "platform/win_reboot.h"

#include "core/log_error.h"
#include "core/power_port.h"

namespace brindle {

bool TWinReboot::SetPrivilege(const std::string&, bool) { return true; }

bool TWinReboot::WinExit(int flags) {
  try {
    if ((flags & kPowerOff) == 0) return false;
    SetPrivilege("SeShutdownPrivilege", true);
    bool done = Power().PowerOff();
    SetPrivilege("SeShutdownPrivilege", false);
    return done;
  } catch (...) {
    LogError("WinExit");
  }
  return false;
}

}  // namespace brindle
