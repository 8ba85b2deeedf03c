#pragma once

#include <string>
#include <vector>

#include "core/dial_up_port.h"

namespace brindle::test {

// A dial-up line that is always connected and counts its hang-ups.
class FakeDialUp : public DialUpPort {
 public:
  std::vector<std::string> Entries() override { return {"modem"}; }
  bool IsConnected() override { return connected; }
  bool Dial(const std::string&) override { return false; }
  bool HangUp() override {
    ++hangUps;
    return true;
  }
  int hangUps = 0;
  bool connected = true;
};

}  // namespace brindle::test
