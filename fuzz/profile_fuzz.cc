// fuzz-link: brindle_platform
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile.h"

// The input is an INI text, then after a NUL byte "section\0key\0value".
// Writing an accepted entry must read back exactly, also after the text is
// written out and parsed again, and must not change any other entry's value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view parts[4];
  for (auto& part : parts) {
    const size_t end = input.find('\0');
    part = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  }
  const std::string section(parts[1]), key(parts[2]), value(parts[3]);

  brindle::TProfileFile profile;
  profile.Parse(parts[0]);
  const std::string before = profile.ReadString("a", "b", "\x01");
  if (!profile.WriteString(section, key, value)) return 0;
  if (profile.ReadString(section, key, "\x01") != value) std::abort();

  brindle::TProfileFile again;
  again.Parse(profile.Text());
  if (again.ReadString(section, key, "\x01") != value) std::abort();
  if (again.Text() != profile.Text()) std::abort();
  // Another entry may only change when it is the one written.
  const std::string after = again.ReadString("a", "b", "\x01");
  if (after != before && after != value) std::abort();
  return 0;
}
