#include "integration/native_message_reader.h"

#include <cstring>

namespace brindle {

TNativeMessageReader::TResult TNativeMessageReader::Next(std::string& message) {
  if (!error_.empty()) return TResult::Invalid;
  uint32_t length = 0;
  if (buffer_.size() < sizeof length) return TResult::NeedMore;
  std::memcpy(&length, buffer_.data(), sizeof length);
  if (length == 0) {
    error_ = "empty message";
    return TResult::Invalid;
  }
  if (length > kMaxMessage) {
    error_ = "message of " + std::to_string(length) + " bytes is over the limit of " + std::to_string(kMaxMessage);
    return TResult::Invalid;
  }
  if (buffer_.size() - sizeof length < length) return TResult::NeedMore;
  message.assign(buffer_, sizeof length, length);
  buffer_.erase(0, sizeof length + length);
  return TResult::Message;
}

std::string FrameNativeMessage(std::string_view json) {
  const uint32_t length = static_cast<uint32_t>(json.size());
  std::string frame(sizeof length, '\0');
  std::memcpy(frame.data(), &length, sizeof length);
  frame.append(json);
  return frame;
}

}  // namespace brindle
