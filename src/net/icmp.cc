#include "net/icmp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "net/name_resolver.h"

namespace brindle {

namespace {

static_assert(std::char_traits<char>::length(TICMP::kPayloadText) == 45);

constexpr size_t kIcmpHeaderSize = 8;

uint16_t Checksum(const unsigned char* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2) sum += static_cast<uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

uint16_t Read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Each echo client's identifier differs from the other clients' in this
// process: on a raw socket every client sees every reply.
uint16_t NewIdentifier() {
  static std::atomic<uint16_t> next{0};
  return static_cast<uint16_t>(static_cast<uint16_t>(getpid()) * 31u + next.fetch_add(1));
}

class SocketCloser {
 public:
  explicit SocketCloser(int fd) : fd_(fd) {}
  ~SocketCloser() {
    if (fd_ >= 0) close(fd_);
  }
  SocketCloser(const SocketCloser&) = delete;
  SocketCloser& operator=(const SocketCloser&) = delete;

 private:
  int fd_;
};

}  // namespace

TICMP::TICMP(std::shared_ptr<TNameResolver> resolver)
    : resolver_(resolver ? std::move(resolver) : std::make_shared<TSystemNameResolver>()),
      identifier_(NewIdentifier()) {}

TICMP::~TICMP() = default;

void TICMP::SetAddress(const std::string& address) {
  if (address == address_) return;
  address_ = address;
  resolved_ = false;
}

std::string TICMP::Payload(int size) {
  std::string payload(static_cast<size_t>(std::max(0, size)), ' ');
  const std::string_view text = kPayloadText;
  std::copy_n(text.begin(), std::min(text.size(), payload.size()), payload.begin());
  return payload;
}

void TICMP::Display(const std::string& message) {
  if (OnDisplay) OnDisplay(message);
}

bool TICMP::Resolve() {
  in_addr dotted{};
  if (inet_pton(AF_INET, address_.c_str(), &dotted) == 1) {
    hostName_ = address_;
    hostIp_ = address_;
    resolved_ = true;
    return true;
  }
  std::vector<std::string> addresses;
  const int error = resolver_->Resolve(address_, addresses);
  if (OnDnsLookupDone) OnDnsLookupDone(error);
  if (error != 0 || addresses.empty()) {
    lastError_ = error;
    Display("Unable to resolve " + address_);
    return false;
  }
  // Echoes go over IPv4; a name with only IPv6 addresses keeps its first
  // one, which the address check below refuses.
  const auto v4 = std::find_if(addresses.begin(), addresses.end(),
                               [](const std::string& a) { return a.find(':') == std::string::npos; });
  hostName_ = address_;
  hostIp_ = v4 != addresses.end() ? *v4 : addresses.front();
  resolved_ = true;
  return true;
}

int TICMP::Ping() {
  lastError_ = 0;
  if (!resolved_ && !Resolve()) return 0;
  in_addr target{};
  if (inet_pton(AF_INET, hostIp_.c_str(), &target) != 1 || target.s_addr == htonl(INADDR_ANY) ||
      target.s_addr == htonl(INADDR_BROADCAST)) {
    lastError_ = kIcmpErrInvalidAddress;
    Display("Invalid host address");
    return 0;
  }
  const std::string payload = Payload(size_);
  reply_ = TIcmpEchoReply{};
  if (OnEchoRequest) OnEchoRequest();
  const int replies = Echo(target.s_addr, payload);
  if (OnEchoReply) OnEchoReply(replies);
  return replies;
}

int TICMP::Echo(uint32_t target, const std::string& payload) {
  // The datagram socket needs no privilege where the system allows it; the
  // raw one works for root.
  bool raw = false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    const int dgramError = errno;
    fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
      lastError_ = dgramError;
      Display(std::string("Unable to open an ICMP socket: ") + std::strerror(dgramError));
      return 0;
    }
    raw = true;
  }
  SocketCloser closer(fd);
  const int ttl = std::clamp(ttl_, 1, 255);
  const int on = 1;
  const int pmtu = (flags_ & kIcmpFlagDontFragment) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
  if (setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0) {
    lastError_ = errno;
    Display(std::string("Unable to set the echo options: ") + std::strerror(lastError_));
    return 0;
  }

  const uint16_t sequence = ++sequence_;
  std::vector<unsigned char> packet(kIcmpHeaderSize + payload.size());
  packet[0] = ICMP_ECHO;
  packet[4] = static_cast<unsigned char>(identifier_ >> 8);
  packet[5] = static_cast<unsigned char>(identifier_);
  packet[6] = static_cast<unsigned char>(sequence >> 8);
  packet[7] = static_cast<unsigned char>(sequence);
  std::memcpy(packet.data() + kIcmpHeaderSize, payload.data(), payload.size());
  const uint16_t sum = Checksum(packet.data(), packet.size());
  packet[2] = static_cast<unsigned char>(sum >> 8);
  packet[3] = static_cast<unsigned char>(sum);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = target;
  // The wait and the round trip are real network time on this worker
  // thread, which no test clock drives.
  SystemClock clock;
  const int64_t sent = clock.MonotonicMs();
  if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    lastError_ = errno;
    Display(std::string("Unable to send the echo request: ") + std::strerror(lastError_));
    return 0;
  }

  std::vector<unsigned char> buffer(65536);
  const int64_t deadline = sent + std::max(0, timeOut_);
  for (;;) {
    const int64_t left = deadline - clock.MonotonicMs();
    if (left < 0) break;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    sockaddr_in from{};
    iovec io{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[64];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      lastError_ = errno;
      return 0;
    }
    const unsigned char* icmp = buffer.data();
    size_t size = static_cast<size_t>(got);
    uint8_t replyTtl = 0;
    if (raw) {
      // The raw socket hands over the IP header and every ICMP message the
      // host receives, our own request on loopback included.
      if (size < sizeof(iphdr)) continue;
      const auto* ip = reinterpret_cast<const iphdr*>(buffer.data());
      const size_t headerSize = static_cast<size_t>(ip->ihl) * 4;
      if (headerSize < sizeof(iphdr) || size < headerSize + kIcmpHeaderSize || ip->saddr != target) continue;
      replyTtl = ip->ttl;
      icmp += headerSize;
      size -= headerSize;
      if (Read16(icmp + 4) != identifier_) continue;
    } else {
      if (size < kIcmpHeaderSize) continue;  // the kernel matched the identifier
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
          int value = 0;
          std::memcpy(&value, CMSG_DATA(c), sizeof value);
          replyTtl = static_cast<uint8_t>(value);
        }
      }
    }
    if (icmp[0] != ICMP_ECHOREPLY || Read16(icmp + 6) != sequence) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    reply_.Address = text;
    reply_.Status = 0;
    reply_.RoundTripTime = static_cast<uint32_t>(std::max<int64_t>(0, clock.MonotonicMs() - sent));
    reply_.DataSize = static_cast<uint16_t>(size - kIcmpHeaderSize);
    reply_.Data.assign(reinterpret_cast<const char*>(icmp + kIcmpHeaderSize), size - kIcmpHeaderSize);
    reply_.Ttl = replyTtl;
    return 1;
  }
  reply_.Status = kIcmpErrTimedOut;
  lastError_ = kIcmpErrTimedOut;
  return 0;
}

}  // namespace brindle
