#include "archive/output_window.h"

#include <algorithm>

#include "archive/unzip.h"

namespace brindle {

OutputWindow::OutputWindow(OutputSink& sink, size_t history, size_t capacity, bool zeros_before_start)
    : sink_(sink),
      history_(history),
      capacity_(capacity),
      start_(zeros_before_start ? history : 0),
      data_(new uint8_t[capacity + kSlack]()),
      flushed_(start_) {}

int OutputWindow::Flush(size_t pos) {
  if (pos == flushed_) return kZipOk;
  const int rc = sink_.Write(data_.get() + flushed_, pos - flushed_);
  flushed_total_ += static_cast<int64_t>(pos - flushed_);
  flushed_ = pos;
  return rc;
}

int OutputWindow::Slide(size_t* pos, size_t room) {
  if (const int rc = Flush(*pos); rc != kZipOk) return rc;
  const size_t keep = std::min(*pos, history_);
  std::memmove(data_.get(), data_.get() + *pos - keep, keep);
  *pos = keep;
  flushed_ = keep;
  return keep + room <= capacity_ ? kZipOk : kZipArchiveError;
}

}  // namespace brindle
