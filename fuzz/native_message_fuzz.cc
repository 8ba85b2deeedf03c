// fuzz-link: brindle_integration
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "integration/browser_request.h"
#include "integration/native_message_reader.h"

// The input is what a browser (or whatever runs the host) writes to
// brindle-host's stdin. Framing and decoding must not crash; a decoded
// message must read back the same from its own frame, and every field of a
// decoded request must be free of the characters that would break a
// request line or a listing of the download folder.
namespace {

bool Clean(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  brindle::TNativeMessageReader reader;
  // Fed in two pieces, so that a message split across reads is covered.
  reader.Feed(input.substr(0, size / 2));
  std::string message;
  while (reader.Next(message) == brindle::TNativeMessageReader::TResult::Message) {
  }
  reader.Feed(input.substr(size / 2));
  while (reader.Next(message) == brindle::TNativeMessageReader::TResult::Message) {
    if (message.size() > brindle::TNativeMessageReader::kMaxMessage) std::abort();
    std::string error;
    const auto request = brindle::DecodeBrowserRequest(message, error);
    if (request && (!Clean(request->Url) || !Clean(request->Referrer) || !Clean(request->Cookies) ||
                    !Clean(request->FileName) || request->FileName.find('/') != std::string::npos ||
                    request->FileName == "." || request->FileName == ".." || request->FileName.size() > 255))
      std::abort();
    if (!request && error.empty()) std::abort();
  }

  // The whole input as one message, unframed, as the decoder sees it.
  std::string error;
  if (!brindle::DecodeBrowserRequest(input, error) && error.empty()) std::abort();
  return 0;
}
