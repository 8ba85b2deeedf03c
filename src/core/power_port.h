#pragma once

namespace brindle {

// Switching the computer off.
class PowerPort {
 public:
  virtual ~PowerPort() = default;
  // Asks the system to power off; false when it refused or could not be
  // asked.
  virtual bool PowerOff() = 0;
};

// The power port of the program. The default switches nothing off and
// returns false; the program installs the system's port at start, tests a
// fake. The caller keeps ownership; nullptr restores the default.
PowerPort& Power();
void SetPower(PowerPort* port);

}  // namespace brindle
