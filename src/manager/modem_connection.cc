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
    // A failed hang-up is not reported: the message says what was asked.
    DialUp().HangUp();
    Prompt().Message("Brindle", "Disconnected as requested.", {});
  } catch (...) {
    LogError("TModemConnection.Disconnect");
  }
}

}  // namespace brindle
