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

  // Hangs up every active dial-up connection, then says whether it did, or
  // that there was none.
  void Disconnect();

  static constexpr const char* kDisconnected = "Disconnected as requested.";
  static constexpr const char* kNoConnection = "There is no dial-up connection to hang up.";
  static constexpr const char* kNotDisconnected = "The dial-up connection could not be hung up.";

  const std::vector<std::string>& Entries() const { return entries_; }
  bool DisconnectRequested() const { return disconnectRequested_; }

 private:
  std::vector<std::string> entries_;
  bool disconnectRequested_ = false;
};

}  // namespace brindle
