#pragma once

#include <string>

namespace brindle {

// Ending the session the way the download system asks for it. Only power
// off exists here; it goes through the program's power port.
class TWinReboot {
 public:
  // The exit flag for switching the computer off.
  static constexpr int kPowerOff = 8;

  // Nothing to adjust: the power port asks for the right itself. True.
  bool SetPrivilege(const std::string& name, bool enable);
  // Powers off when flags hold kPowerOff; false when that failed or when
  // another kind of exit was asked for.
  bool WinExit(int flags);
};

}  // namespace brindle
