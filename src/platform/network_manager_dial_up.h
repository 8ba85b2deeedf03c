#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/dial_up_port.h"

namespace brindle {

// One connection profile as "nmcli -t -f NAME,TYPE connection show" lists it.
struct TNmcliConnection {
  std::string Name;
  std::string Type;
  bool operator==(const TNmcliConnection&) const = default;
};

// The fields of one line of nmcli's terse output: separated by ":", with
// "\:" standing for a colon and "\\" for a backslash inside a field. A
// backslash before any other character, or at the end, is kept as it is.
std::vector<std::string> SplitNmcliTerseLine(std::string_view line);
// A field written the way nmcli writes it in terse mode.
std::string EscapeNmcliTerseField(std::string_view field);
// The NAME,TYPE lines of the output; lines without exactly two fields or
// with an empty name are skipped.
std::vector<TNmcliConnection> ParseNmcliConnections(std::string_view output);
// Mobile broadband (gsm, cdma), Bluetooth and PPPoE: the connection types
// that stand for a dial-up line. A Bluetooth profile still has to be a
// dial-up (DUN) one rather than a network access one.
bool IsDialUpLikeType(const std::string& type);

// Dial-up connections through NetworkManager's nmcli. It never dials; it
// lists the dial-up-like profiles and hangs up the active ones. Without
// nmcli, or when NetworkManager does not answer, it behaves like a system
// without dial-up.
class NetworkManagerDialUp final : public DialUpPort {
 public:
  // program: the nmcli to run (searched in PATH without a "/").
  explicit NetworkManagerDialUp(std::string program = "nmcli", int timeoutMs = 5000);

  std::vector<std::string> Entries() override;
  bool IsConnected() override;
  bool Dial(const std::string& entry) override;
  // Brings every active dial-up-like connection down; true when there was
  // at least one and each went down.
  bool HangUp() override;

 private:
  std::vector<std::string> DialUpConnections(bool activeOnly);
  bool IsBluetoothDialUp(const std::string& name);

  std::string program_;
  int timeoutMs_;
};

}  // namespace brindle
