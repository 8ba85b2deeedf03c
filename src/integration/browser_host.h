#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "integration/browser_request.h"
#include "platform/hand_over_request.h"

namespace brindle {

class Clock;

// The native messaging host's logic: decides whether Brindle takes what the
// browser asks about and, when it does, hands it to the running instance,
// starting the desktop program first when none runs.
class TBrowserHost {
 public:
  static constexpr int64_t kStartWaitMs = 5000;
  static constexpr int64_t kPollMs = 100;

  // Hands a request to the running instance: its answer, or nothing when
  // none runs or it did not answer.
  std::function<std::optional<int>(const THandOverRequest& request)> HandOver;
  // Starts the desktop program detached; false when it could not be started.
  std::function<bool()> StartProgram;
  std::function<void(int64_t ms)> Pause;  // sleeps when empty
  Clock* WaitClock = nullptr;             // ProgramClock() when null

  // The decision from the settings alone: a link the user chose is always
  // taken; a browser's download only with EnableBrowserIntegration, that
  // browser's own setting, and a file name whose extension is in
  // Extensions. Only http, https and ftp addresses are ever taken, and
  // never one on the ignore list. reason tells why not.
  static bool Takes(const TBrowserRequest& request, std::string& reason);

  // The answer to one request, as JSON for the extension.
  std::string Answer(const TBrowserRequest& request);

  // Reads framed requests from inFd and writes framed answers to outFd
  // until the end of input. 0 at a clean end; 1, with error set, when the
  // input is malformed or cannot be read or written (a browser closes the
  // host's stdin when it no longer wants answers, so that is a clean end).
  int Run(int inFd, int outFd, std::string& error);

 private:
  bool Deliver(const THandOverRequest& request);
};

}  // namespace brindle
