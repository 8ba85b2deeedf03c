#include <cstdio>

#include "core/version.h"
#include "platform/file_size_signal.h"

// Until the download system exists this only tells the user what is there.
int main(int argc, char** argv) {
  // A write over the file-size limit must fail as an error, not end the program.
  brindle::IgnoreFileSizeSignal();
  std::printf("Brindle %s\n", brindle::BrindleVersion());
  std::printf("The foundation is built: settings store, event loop, URLs and shared helpers.\n");
  std::printf("Downloading is not there yet; brindle-cli and the desktop program come next.\n");
  if (argc > 1) std::printf("Not downloading %d address(es) given on the command line.\n", argc - 1);
  (void)argv;
  return 0;
}
