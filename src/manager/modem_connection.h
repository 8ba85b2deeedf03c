#pragma once

#include <string>
#include <vector>

namespace brindle {

// Hangs up the dial-up line through the program's dial-up port. It never
// dials.
class TModemConnection {
 public:
  // Lists the configured dial-up entries.
  TModemConnection();

  // Hangs up every active dial-up connection, then says so.
  void Disconnect();

  const std::vector<std::string>& Entries() const { return entries_; }
  bool DisconnectRequested() const { return disconnectRequested_; }

 private:
  std::vector<std::string> entries_;
  bool disconnectRequested_ = false;
};

}  // namespace brindle
