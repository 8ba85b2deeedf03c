#include "web_socket_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <random>

namespace brindle::test {
namespace {

constexpr uint8_t kFinal = 0x80;
constexpr uint8_t kMasked = 0x80;
constexpr uint8_t kContinuation = 0x0;
constexpr uint8_t kText = 0x1;
constexpr uint8_t kClose = 0x8;
constexpr uint8_t kPing = 0x9;
constexpr uint8_t kPong = 0xA;
// Far above any answer a test waits for; a larger length means a broken stream.
constexpr uint64_t kLargestMessage = 64 << 20;

}  // namespace

WebSocketClient::~WebSocketClient() {
  if (fd_ >= 0) close(fd_);
}

bool WebSocketClient::Connect(int port, const std::string& path, Deadline deadline) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  // The key only proves that the server speaks WebSocket; on loopback the
  // sample nonce of RFC 6455 does.
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  if (send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return false;
  size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
    if (!ReadMore(deadline)) return false;
  const bool upgraded = buffer_.rfind("HTTP/1.1 101", 0) == 0;
  buffer_.erase(0, end + 4);
  return upgraded;
}

bool WebSocketClient::SendText(const std::string& text) { return SendFrame(kText, text); }

bool WebSocketClient::SendFrame(uint8_t opcode, const std::string& payload) {
  std::string frame(1, static_cast<char>(kFinal | opcode));
  const uint64_t size = payload.size();
  if (size < 126) {
    frame.push_back(static_cast<char>(kMasked | size));
  } else {
    const int bytes = size <= 0xFFFF ? 2 : 8;
    frame.push_back(static_cast<char>(kMasked | (bytes == 2 ? 126 : 127)));
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) frame.push_back(static_cast<char>(size >> shift));
  }
  // Servers refuse a client's frame that is not masked.
  static std::mt19937 random{std::random_device{}()};
  char mask[4];
  for (char& byte : mask) byte = static_cast<char>(random());
  frame.append(mask, 4);
  for (size_t i = 0; i < payload.size(); ++i) frame.push_back(static_cast<char>(payload[i] ^ mask[i % 4]));
  size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t count = send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return false;
    sent += static_cast<size_t>(count);
  }
  return true;
}

std::optional<std::string> WebSocketClient::Receive(Deadline deadline) {
  std::string message;
  for (;;) {
    if (!Fill(2, deadline)) return std::nullopt;
    const auto first = static_cast<uint8_t>(buffer_[0]);
    const auto second = static_cast<uint8_t>(buffer_[1]);
    uint64_t size = second & 0x7F;
    const size_t sizeBytes = size == 126 ? 2 : size == 127 ? 8 : 0;
    const size_t maskAt = 2 + sizeBytes;
    const size_t header = maskAt + ((second & kMasked) ? 4 : 0);
    if (!Fill(header, deadline)) return std::nullopt;
    if (sizeBytes > 0) {
      size = 0;
      for (size_t i = 2; i < maskAt; ++i) size = size << 8 | static_cast<uint8_t>(buffer_[i]);
    }
    if (size > kLargestMessage || !Fill(header + size, deadline)) return std::nullopt;
    std::string payload = buffer_.substr(header, size);
    // A server must not mask, but unmasking costs nothing.
    if (second & kMasked)
      for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(payload[i] ^ buffer_[maskAt + i % 4]);
    buffer_.erase(0, header + size);
    const uint8_t opcode = first & 0x0F;
    if (opcode == kClose) return std::nullopt;
    if (opcode == kPing) {
      if (!SendFrame(kPong, payload)) return std::nullopt;
      continue;
    }
    if (opcode == kPong) continue;
    if (opcode != kContinuation) message.clear();
    message += payload;
    if (first & kFinal) return message;
  }
}

bool WebSocketClient::Fill(size_t size, Deadline deadline) {
  while (buffer_.size() < size)
    if (!ReadMore(deadline)) return false;
  return true;
}

bool WebSocketClient::ReadMore(Deadline deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{fd_, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (ready < 0) return false;
    if (ready == 0) continue;
    char chunk[65536];
    const ssize_t count = recv(fd_, chunk, sizeof chunk, 0);
    if (count <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(count));
    return true;
  }
}

}  // namespace brindle::test
