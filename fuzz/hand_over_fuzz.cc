// fuzz-link: brindle_platform
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/hand_over_request.h"

// The input is what a peer sent over the hand-over channel. Whatever it is,
// decoding must not crash; a request or answer that decodes must encode to
// a frame that decodes to the same value, and no strict prefix of that
// frame may pass for a whole one.
namespace {

void CheckPrefixes(const std::string& frame, auto decode) {
  for (size_t length = 0; length < frame.size(); length = length < 16 ? length + 1 : length * 2) {
    if (decode(std::string_view(frame).substr(0, length)) != brindle::THandOverDecode::Incomplete) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  brindle::THandOverRequest request;
  if (brindle::DecodeHandOverRequest(input, request) == brindle::THandOverDecode::Complete) {
    const std::string frame = brindle::EncodeHandOverRequest(request);
    if (frame.size() <= brindle::kHandOverMaxFrame) {
      brindle::THandOverRequest again;
      if (brindle::DecodeHandOverRequest(frame, again) != brindle::THandOverDecode::Complete) std::abort();
      if (!(again == request)) std::abort();
      CheckPrefixes(frame, [](std::string_view part) {
        brindle::THandOverRequest ignored;
        return brindle::DecodeHandOverRequest(part, ignored);
      });
    }
  }

  int answer = 0;
  if (brindle::DecodeHandOverAnswer(input, answer) == brindle::THandOverDecode::Complete) {
    const std::string frame = brindle::EncodeHandOverAnswer(answer);
    int again = answer + 1;
    if (brindle::DecodeHandOverAnswer(frame, again) != brindle::THandOverDecode::Complete || again != answer)
      std::abort();
    CheckPrefixes(frame, [](std::string_view part) {
      int ignored = 0;
      return brindle::DecodeHandOverAnswer(part, ignored);
    });
  }
  return 0;
}
