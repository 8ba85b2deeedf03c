#include "app/cli_progress.h"

#include "core/presentation.h"

namespace brindle {

void TCliProgress::Erase() {
  if (!terminal_ || drawn_ == 0) return;
  // Up to the first live line, then clear to the end of the screen.
  std::fprintf(out_, "\r\x1b[%zuA\x1b[J", drawn_);
  drawn_ = 0;
}

void TCliProgress::Draw() {
  if (!terminal_) return;
  for (const std::string& line : live_) std::fprintf(out_, "%s\n", EscapeControlCharacters(line).c_str());
  drawn_ = live_.size();
  std::fflush(out_);
}

void TCliProgress::PrintLine(const std::string& line) {
  Erase();
  std::fprintf(out_, "%s\n", EscapeControlCharacters(line).c_str());
  Draw();
}

void TCliProgress::SetLiveLines(const std::vector<std::string>& lines) {
  if (!terminal_ || (lines == live_ && drawn_ == lines.size())) return;
  Erase();
  live_ = lines;
  Draw();
}

void TCliProgress::Clear() {
  Erase();
  live_.clear();
  std::fflush(out_);
}

}  // namespace brindle
