// fuzz-link: brindle_platform
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network_manager_dial_up.h"

// The input is nmcli's terse output. Every line's fields, written back the
// way nmcli escapes them, must split into the same fields again, and every
// parsed connection must survive the same round trip.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::string_view rest = input;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::vector<std::string> fields = brindle::SplitNmcliTerseLine(rest.substr(0, end));
    if (fields.empty()) std::abort();
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) line += ':';
      line += brindle::EscapeNmcliTerseField(fields[i]);
    }
    if (brindle::SplitNmcliTerseLine(line) != fields) std::abort();
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }

  for (const brindle::TNmcliConnection& connection : brindle::ParseNmcliConnections(input)) {
    if (connection.Name.empty()) std::abort();
    const std::string line =
        brindle::EscapeNmcliTerseField(connection.Name) + ":" + brindle::EscapeNmcliTerseField(connection.Type);
    const std::vector<brindle::TNmcliConnection> again = brindle::ParseNmcliConnections(line);
    if (again.size() != 1 || !(again[0] == connection)) std::abort();
  }
  return 0;
}
