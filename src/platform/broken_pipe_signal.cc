#include "platform/broken_pipe_signal.h"

#include <signal.h>

namespace brindle {

void IgnoreBrokenPipeSignal() {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace brindle
