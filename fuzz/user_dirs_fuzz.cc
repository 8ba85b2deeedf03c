// fuzz-link: brindle_core
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/paths.h"

// Whatever user-dirs.dirs holds, the result is empty or an absolute path.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string directory = brindle::UserDirectoryFromUserDirs(text, "XDG_DOWNLOAD_DIR", "/home/u");
  if (!directory.empty() && directory.front() != '/') std::abort();
  return 0;
}
