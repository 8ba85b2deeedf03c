#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_app.h"
#include "app/cli_options.h"
#include "core/version.h"
#include "platform/broken_pipe_signal.h"
#include "platform/file_size_signal.h"

int main(int argc, char** argv) {
  // A write over the file-size limit must fail as an error, not end the program.
  brindle::IgnoreFileSizeSignal();
  // A peer's reset during a TLS write must fail that write, not end the program.
  brindle::IgnoreBrokenPipeSignal();
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = brindle::ParseCliOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "brindle-cli: %s\nTry 'brindle-cli --help'.\n", error.c_str());
    return brindle::kCliUsage;
  }
  if (options->Help) {
    std::fputs(brindle::CliUsage().c_str(), stdout);
    return brindle::kCliAllDone;
  }
  if (options->Version) {
    std::printf("brindle-cli %s\n", brindle::BrindleVersion());
    return brindle::kCliAllDone;
  }
  if (!options->Unzip.empty()) return brindle::RunUnzip(*options);
  return brindle::RunCli(*options);
}
