#pragma once

#include "core/power_port.h"

namespace brindle::test {

// Counts the power-offs asked for and answers with result.
class FakePower : public PowerPort {
 public:
  bool PowerOff() override {
    ++powerOffs;
    return result;
  }
  int powerOffs = 0;
  bool result = true;
};

}  // namespace brindle::test
