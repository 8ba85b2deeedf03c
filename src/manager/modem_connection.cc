#include "manager/modem_connection.h"

#include "core/dial_up_port.h"
#include "core/log_error.h"
#include "core/prompt_port.h"

namespace brindle {

TModemConnection::TModemConnection() {
  try {
    entries_ = DialUp().Entries();
  } catch (...) {
    LogError("TModemConnection.Create");
  }
}

void TModemConnection::Disconnect() {
  try {
    disconnectRequested_ = true;
    // Success is claimed only for a connection that was there and went down.
    if (!DialUp().IsConnected()) {
      Prompt().Message("Brindle", kNoConnection, {});
      return;
    }
    Prompt().Message("Brindle", DialUp().HangUp() ? kDisconnected : kNotDisconnected, {});
  } catch (...) {
    LogError("TModemConnection.Disconnect");
  }
}

}  // namespace brindle
