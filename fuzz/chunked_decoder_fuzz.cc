// fuzz-link: brindle_net
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/chunked_decoder.h"

// Decodes the input as a chunked body twice: whole, and in pieces whose
// size the first byte chooses (as reads off a socket would cut it). Both
// must come to the same body, state and reason; every call must take input
// while the body goes on, and hand out only bytes of the input it took.

namespace {

struct Outcome {
  std::string Body;
  brindle::TChunkedState State;
  std::string Error;
  size_t Used = 0;
};

Outcome Decode(const char* data, size_t size, size_t step) {
  brindle::TChunkedDecoder decoder;
  Outcome out;
  while (out.Used < size && decoder.State() == brindle::TChunkedState::NeedMore) {
    const size_t piece = std::min(step, size - out.Used);
    std::string_view body;
    const size_t used = decoder.Decode(data + out.Used, piece, body);
    if (used == 0 || used > piece) std::abort();
    if (!body.empty() && (body.data() < data + out.Used || body.data() + body.size() > data + out.Used + used))
      std::abort();
    out.Body += body;
    out.Used += used;
  }
  out.State = decoder.State();
  out.Error = decoder.Error();
  if ((out.State == brindle::TChunkedState::Malformed) == out.Error.empty()) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t step = data[0] % 16 + 1;
  const char* input = reinterpret_cast<const char*>(data + 1);
  const Outcome whole = Decode(input, size - 1, size);
  const Outcome pieces = Decode(input, size - 1, step);
  if (whole.Body != pieces.Body || whole.State != pieces.State || whole.Error != pieces.Error ||
      whole.Used != pieces.Used)
    std::abort();
  return 0;
}
