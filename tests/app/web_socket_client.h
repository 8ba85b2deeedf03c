#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace brindle::test {

// A WebSocket client (RFC 6455) to a server on loopback, as much as
// WebDriver BiDi needs: text messages out, whole messages in, pings
// answered.
class WebSocketClient {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  WebSocketClient() = default;
  ~WebSocketClient();
  WebSocketClient(const WebSocketClient&) = delete;
  WebSocketClient& operator=(const WebSocketClient&) = delete;

  // Connects to 127.0.0.1:port and upgrades the request for path.
  bool Connect(int port, const std::string& path, Deadline deadline);
  bool SendText(const std::string& text);
  // The next whole message, its fragments joined; nullopt when the server
  // closed, the connection broke or the deadline passed.
  std::optional<std::string> Receive(Deadline deadline);

 private:
  bool SendFrame(uint8_t opcode, const std::string& payload);
  // Reads until buffer_ holds at least size bytes.
  bool Fill(size_t size, Deadline deadline);
  bool ReadMore(Deadline deadline);

  int fd_ = -1;
  std::string buffer_;
};

}  // namespace brindle::test
