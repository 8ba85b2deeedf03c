#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/url.h"

namespace brindle {


// One place a download's parts can be fetched from.
class TFileMirror {
 public:
  explicit TFileMirror(const std::string& url);
  ~TFileMirror();
  TFileMirror(const TFileMirror&) = delete;
  TFileMirror& operator=(const TFileMirror&) = delete;

  std::unique_ptr<TUrl> Url;  // never null
  // Copied from the mirror-list line the entry was made from; empty otherwise.
  std::string Location;
  std::string Description;
  int PingTime = 9999;    // milliseconds; 9999: not measured
  uint8_t ErrorCode = 0;  // non-zero: the mirror failed and is skipped
  // From the server statistics: average speeds (0: no figure) and pings
  // (9999: no figure) of the mirror's host and top-level domain.
  int HostSpeed = 0;
  int DomainSpeed = 0;
  int HostPing = 0;
  int DomainPing = 0;
};

}  // namespace brindle
