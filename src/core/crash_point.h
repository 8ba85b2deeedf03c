#pragma once

namespace brindle {

// A named place where a kill test can stop the process. In builds with the
// test hooks compiled in, when the environment variable BRINDLE_CRASH_AT
// (read once) equals name, the process ends at once with _exit(86), as if it
// had been killed there. Elsewhere it does nothing.
void CrashPoint(const char* name);

}  // namespace brindle
