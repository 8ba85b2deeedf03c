#pragma once

#include <cstdint>
#include <string>

#include "net/http_cli.h"

namespace brindle {

// The only way bytes get into a part file. It appends at the offset it
// tracks (the file's size), stores nothing while the answer being received
// is not the file's, and never lets the file grow past its limit: bytes
// beyond it are held back, not written, and go in first when the limit is
// raised before the next write (a part whose range is extended mid-block).
class TPartFileWriter final : public TReceiveStream {
 public:
  // Opens the file for writing, creating it empty when missing; anything
  // there that is not a part file of Brindle's own (a link, a FIFO, ...) is
  // replaced by a new empty one. Throws std::system_error when it cannot.
  explicit TPartFileWriter(const std::string& path);
  ~TPartFileWriter() override;
  TPartFileWriter(const TPartFileWriter&) = delete;
  TPartFileWriter& operator=(const TPartFileWriter&) = delete;

  int64_t Size() const { return size_; }

  // Off (the default): written bytes are dropped. Turning it off also drops
  // what was held back.
  void SetAccepting(bool accepting);
  bool Accepting() const { return accepting_; }

  // The most bytes the file may hold; -1: no limit. Raising it writes the
  // held-back bytes that now fit.
  void SetLimit(int64_t limit);

  // Cuts the file to size bytes (never longer) and drops held-back bytes.
  bool Truncate(int64_t size);

  bool Write(const char* data, size_t size) override;

  // The errno of the first failed write or truncation, 0 when none failed.
  int Error() const { return error_; }

 private:
  bool Store(const char* data, size_t size);

  int fd_ = -1;
  int64_t size_ = 0;
  int64_t limit_ = -1;
  bool accepting_ = false;
  int error_ = 0;
  std::string heldBack_;
};

}  // namespace brindle
