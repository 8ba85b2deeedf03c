// fuzz-link: brindle_platform
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry_hive_file.h"

// Any text either fails cleanly or parses into a hive whose written form
// parses again into the same hive.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  brindle::RegistryHiveFile hive;
  if (!hive.Parse(text)) return 0;
  const std::string written = hive.Serialize();
  brindle::RegistryHiveFile again;
  if (!again.Parse(written) || again.Serialize() != written) std::abort();
  return 0;
}
