#pragma once

#include "app/cli_options.h"

namespace brindle {

// Exit statuses of brindle-cli.
inline constexpr int kCliAllDone = 0;
inline constexpr int kCliFailed = 1;
inline constexpr int kCliUsage = 2;
inline constexpr int kCliInterrupted = 130;

// Downloads what the options ask for and returns the exit status.
int RunCli(const TCliOptions& options);

// --unzip: extracts the archive and lists every entry with its outcome; no
// profile, lock or network is involved. Returns the exit status.
int RunUnzip(const TCliOptions& options);

}  // namespace brindle
