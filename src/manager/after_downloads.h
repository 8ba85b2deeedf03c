#pragma once

#include <functional>

namespace brindle {

class TModemConnection;

// What happens when the last download is complete: hang up the dial-up
// line, then switch the computer off or else close the program, as the
// options say. Switching off and closing are announced first; the front
// end may let the user cancel.
class TAfterDownloadsActions {
 public:
  enum class TAction { SwitchOff, Close };

  explicit TAfterDownloadsActions(TModemConnection& modem) : modem_(modem) {}

  void Run();

  // Called before switching off or closing; proceed does it. Without a
  // handler it is done at once.
  std::function<void(TAction action, std::function<void()> proceed)> OnAnnounce;
  // Ends the program.
  std::function<void()> OnCloseApplication;

 private:
  void Announce(TAction action, std::function<void()> proceed);

  TModemConnection& modem_;
};

}  // namespace brindle
