#pragma once

#include <string_view>

namespace brindle {

// A named place where a kill test can stop the process. In builds with the
// test hooks compiled in, the process ends at once with _exit(86), as if it
// had been killed there, when the environment variable BRINDLE_CRASH_AT
// names this point: "name", "name:fragment" (only where detail, e.g. the
// path being written, contains fragment), either followed by "#N" (only the
// Nth time the point is reached with a match). The variable is read at each
// call, so a forked child may set it. Elsewhere it does nothing.
void CrashPoint(const char* name, std::string_view detail = {});

// A named place where a test makes an operation fail that permissions would
// fail elsewhere (tests run as root). In builds with the test hooks, true
// each time BRINDLE_FAIL_AT names this point as "name" or "name:fragment",
// matched as for CrashPoint. Elsewhere always false.
bool FailPoint(const char* name, std::string_view detail = {});

// A named place where a test makes a routine throw, to see the failure
// caught and reported: throws std::runtime_error("failure injected at
// <name>") when FailPoint(name) holds.
void ThrowPoint(const char* name);

}  // namespace brindle
