#pragma once

#include <string>
#include <vector>

namespace brindle {

// Dial-up (modem) connections, for hanging up when the downloads are done.
class DialUpPort {
 public:
  virtual ~DialUpPort() = default;
  // The names of the configured connections.
  virtual std::vector<std::string> Entries() = 0;
  virtual bool IsConnected() = 0;
  virtual bool Dial(const std::string& entry) = 0;
  // False when there was nothing to hang up or it failed.
  virtual bool HangUp() = 0;
};

// The dial-up port of the program. The default is a system without dial-up:
// no entries, never connected, every call false. The caller keeps
// ownership; nullptr restores the default.
DialUpPort& DialUp();
void SetDialUp(DialUpPort* port);

}  // namespace brindle
