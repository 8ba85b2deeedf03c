#pragma once

#include <string>
#include <vector>

namespace brindle {

// Starting programs from an argument vector, never through a shell. The
// program is argv[0], searched in PATH when it holds no "/". It gets the
// program's environment, stdin from /dev/null, the same stdout and stderr,
// and no other descriptor of ours (a lock or socket must not outlive us in
// a child).

// Starts the program detached, in its own session, without waiting; it is
// never our child, so no zombie is left. True once it is running (exec
// succeeded). quiet: its stdout and stderr go to /dev/null too (ours may be
// a pipe that a program left behind must not write into).
bool StartDetachedProcess(const std::vector<std::string>& argv, bool quiet = false);

// Runs the program and waits for it: its exit status, or -1 when it could
// not be started or did not exit normally.
int RunProcess(const std::vector<std::string>& argv);

// Runs the program with its stdout captured into output (at most 4 MiB are
// kept) and its stderr sent to /dev/null, and waits for it at most
// timeoutMs: its exit status, or -1 when it could not be started, did not
// exit normally or ran out of time (it is then killed).
int RunProcessCapture(const std::vector<std::string>& argv, std::string& output, int timeoutMs);

}  // namespace brindle
