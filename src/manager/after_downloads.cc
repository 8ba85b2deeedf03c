#include "manager/after_downloads.h"

#include "core/log_error.h"
#include "core/settings.h"
#include "manager/modem_connection.h"
#include "platform/win_reboot.h"

namespace brindle {

void TAfterDownloadsActions::Run() {
  try {
    if (ReadBool(kOptionsSection, "ConnectUsingDialUp", false) &&
        (ReadBool(kOptionsSection, "DiconnectAfterDownload", false) ||
         ReadBool(kOptionsSection, "AfterDownloadsCompleted", false)))
      modem_.Disconnect();
    if (ReadBool(kOptionsSection, "ShutDownComputerAfterDownloading", false)) {
      Announce(TAction::SwitchOff, [] { TWinReboot().WinExit(TWinReboot::kPowerOff); });
    } else if (ReadBool(kOptionsSection, "AutoCloseAfterDownloads", false)) {
      Announce(TAction::Close, [this] {
        if (OnCloseApplication) OnCloseApplication();
      });
    }
  } catch (...) {
    LogError("TAfterDownloadsActions.Run");
  }
}

void TAfterDownloadsActions::Announce(TAction action, std::function<void()> proceed) {
  if (OnAnnounce) OnAnnounce(action, std::move(proceed));
  else proceed();
}

}  // namespace brindle
