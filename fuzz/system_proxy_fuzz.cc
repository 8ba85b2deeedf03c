// fuzz-link: brindle_core
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/system_proxy.h"

// The input is a proxy variable's value, a line break, then a no_proxy value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t newline = text.find('\n');
  const std::string value = text.substr(0, newline);
  const std::string noProxy = newline == std::string::npos ? "" : text.substr(newline + 1);

  if (const std::optional<brindle::TProxyServer> proxy = brindle::ParseProxyValue(value)) {
    // What goes into a request: a host and a port, nothing that could end a line.
    if (proxy->Host.empty() || proxy->Port.empty() || proxy->Port.size() > 5) std::abort();
    if (proxy->Port.find_first_not_of("0123456789") != std::string::npos) std::abort();
    const int port = std::atoi(proxy->Port.c_str());
    if (port < 1 || port > 65535) std::abort();
    for (const std::string* field : {&proxy->Host, &proxy->User, &proxy->Password})
      for (char c : *field)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    if (proxy->Host.find_first_of(" /@?#") != std::string::npos) std::abort();
  }
  brindle::NoProxyCovers(noProxy, value, 80);
  // "*" covers every host name.
  const bool name = value.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-.") == std::string::npos &&
                    value.find_first_not_of(".-") != std::string::npos;
  if (name && !brindle::NoProxyCovers("*", value, 80)) std::abort();
  return 0;
}
