// fuzz-link: brindle_core
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  brindle::TUrl url(text);
  std::string path = url.RequestPath();
  bool parsed = !url.Dir.empty();
  if (url.Url != text) std::abort();
  if (url.Port < 0 || url.Port > 65535) std::abort();
  if (path.find('#') != std::string::npos) std::abort();
  if (parsed && (url.Dir.front() != '/' || url.Dir.back() != '/')) std::abort();
  if (url.FileName.find_first_of("/?#") != std::string::npos) std::abort();
  if (!url.Query.empty() && url.Query.front() != '?') std::abort();
  if (url.Host.find_first_of("/?#@") != std::string::npos) std::abort();
  if (url.Extension.size() > url.FileName.size()) std::abort();
  if (!parsed && !(url.Host.empty() && url.FileName.empty() && url.Query.empty())) std::abort();
  return 0;
}
