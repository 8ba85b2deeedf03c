#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brindle {

// One part of a running download: its inclusive byte range and what it has
// received so far.
struct TPartProgress {
  int64_t StartByte = 0;
  int64_t EndByte = 0;
  int64_t BytesReceived = 0;
};

// What a row of the download list reads from a running download. The
// download system adapts its downloader to this, so the list does not
// depend on the transfer engine's classes.
class TRowProgress {
 public:
  virtual ~TRowProgress() = default;
  virtual int64_t TransferCount() const = 0;
  virtual std::string TransferRate() const = 0;
  virtual std::string TimeLeft() const = 0;
  // The part slots in their order.
  virtual std::vector<TPartProgress> Parts() const = 0;
};

}  // namespace brindle
