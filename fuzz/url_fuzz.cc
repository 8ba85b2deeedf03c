// fuzz-link: brindle_manager
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/presentation.h"
#include "core/url.h"
#include "manager/download_file_name.h"

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
  // The name on disk: a plain name, without control characters.
  const std::string name = brindle::UrlFileName(url);
  if (name == "." || name == ".." || name.size() > 255 || name.find('/') != std::string::npos) std::abort();
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
  if (brindle::LocalNameFromUrl(url).empty()) std::abort();
  // As a terminal shows it: no control a terminal would obey is left.
  const std::string shown = brindle::EscapeControlCharacters(text);
  for (size_t i = 0; i < shown.size(); ++i) {
    const auto c = static_cast<unsigned char>(shown[i]);
    if (c < 0x20 || c == 0x7F) std::abort();
    if (c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(shown[i + 1]) <= 0x9F)
      std::abort();
  }
  return 0;
}
