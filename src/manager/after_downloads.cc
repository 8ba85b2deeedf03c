#include "manager/after_downloads.h"

#include "core/log_error.h"
#include "core/settings_schema.h"
#include "manager/modem_connection.h"
#include "platform/win_reboot.h"

namespace brindle {

void TAfterDownloadsActions::Run() {
  try {
    if (Read(setting::ConnectUsingDialUp) &&
        (Read(setting::DiconnectAfterDownload) || Read(setting::AfterDownloadsCompleted)))
      modem_.Disconnect();
    if (Read(setting::ShutDownComputerAfterDownloading)) {
      Announce(TAction::SwitchOff, [] { TWinReboot().WinExit(TWinReboot::kPowerOff); });
    } else if (Read(setting::AutoCloseAfterDownloads)) {
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
